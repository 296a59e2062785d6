#include "dot_image.h"

#include "run.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sys/stat.h>

bool parse_dot_image_header(const uint8_t* buf, size_t len, DotImageInfo& info) {
    if (len < 3 || std::memcmp(buf, "P4\n", 3) != 0) return false;
    size_t i = 3;
    auto number = [&](char stop, int& out) {
        long v = 0;
        size_t digits = 0;
        while (i < len && buf[i] >= '0' && buf[i] <= '9' && digits < 9) {
            v = v * 10 + (buf[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || i >= len || buf[i] != stop) return false;
        ++i;
        out = static_cast<int>(v);
        return true;
    };
    if (!number(' ', info.width) || !number('\n', info.height)) return false;
    info.header_len = i;
    return true;
}

FILE* open_dot_image(const std::string& path, int retries, bool announce) {
    for (int attempt = 0;; ++attempt) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f || attempt >= retries) return f;
        if (announce) std::printf("open %s try : %d \n", path.c_str(), attempt + 1);
        sleep_ms(100);
    }
}

namespace {
bool read_header(FILE* f, DotImageInfo& info) {
    std::array<uint8_t, 32> head{};
    size_t n = std::fread(head.data(), 1, head.size(), f);
    if (!parse_dot_image_header(head.data(), n, info)) return false;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0) return false;
    size_t size = static_cast<size_t>(st.st_size);
    info.raster_len = size > info.header_len ? size - info.header_len : 0;
    return std::fseek(f, static_cast<long>(info.header_len), SEEK_SET) == 0;
}
}  // namespace

bool probe_dot_image(const std::string& path, DotImageInfo& info, int retries, bool announce) {
    FILE* f = open_dot_image(path, retries, announce);
    if (!f) return false;
    bool ok = read_header(f, info);
    std::fclose(f);
    return ok;
}

int dot_image_rows_to_take(const DotImageInfo& info, int mark_seek, size_t room, int bytes_per_row) {
    if (bytes_per_row <= 0 || info.height <= 0) return 0;
    long rows = info.height;
    if (mark_seek == 2 && rows > SHEET_MAX_ROWS) rows = SHEET_MAX_ROWS;
    rows = std::min<long>(rows, static_cast<long>(info.raster_len / bytes_per_row));
    rows = std::min<long>(rows, static_cast<long>(room / bytes_per_row));
    return static_cast<int>(rows);
}

int read_dot_image(const std::string& path, uint8_t* dst, size_t room, int mark_seek, int retries, bool announce) {
    FILE* f = open_dot_image(path, retries, announce);
    if (!f) return 0;
    DotImageInfo info;
    int rows = 0;
    if (read_header(f, info)) {
        int bpr = info.width > 0 ? (info.width + 7) / 8 : BYTES_PER_LINE;
        rows = dot_image_rows_to_take(info, mark_seek, room, bpr);
        size_t want = size_t(rows) * bpr;
        size_t got = want ? std::fread(dst, 1, want, f) : 0;
        rows = static_cast<int>(got / bpr);
    }
    std::fclose(f);
    return rows;
}

std::string dot_image_header(int width, int height, bool padded) {
    char buf[48];
    std::snprintf(buf, sizeof buf, padded ? "P4\n%04d %05d\n" : "P4\n%d %d\n", width, height);
    return buf;
}

bool write_dot_image(FILE* f, int width, int height, const uint8_t* raster, bool padded) {
    std::string h = dot_image_header(width, height, padded);
    size_t n = size_t(height) * ((width + 7) / 8);
    return std::fwrite(h.data(), 1, h.size(), f) == h.size() && (n == 0 || std::fwrite(raster, 1, n, f) == n);
}

bool write_dot_image_file(const std::string& path, int width, int height, const uint8_t* raster, bool padded) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = write_dot_image(f, width, height, raster, padded);
    return (std::fclose(f) == 0) && ok;
}

uint8_t reverse8(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

void reverse_bits(uint8_t* bytes, size_t n) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) t[i] = reverse8(static_cast<uint8_t>(i));
        return t;
    }();
    for (size_t i = 0; i < n; ++i) bytes[i] = table[bytes[i]];
}
