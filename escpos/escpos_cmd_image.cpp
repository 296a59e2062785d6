// Bit images, raster images and stored graphics. Every size comes from the host: what lies
// beyond the paper (or beyond what a stored file may hold) is read and dropped, so the stream
// stays in step and no buffer grows with the host's numbers.
#include "escpos_decoder.h"
#include "escpos_images.h"
#include "escpos_input.h"
#include "escpos_page.h"
#include "settings.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace escpos {

namespace {
// Rows of a raster image painted at a time.
constexpr long CHUNK_BYTES = 64 * 1024;

// The canvas reaches down to y + h; the fill position is where the image goes.
int fill_x(const EscposState& st) { return st.line.fill_xpos; }
int page_y(const EscposState& st) { return int(st.page.ypos); }

// ESC * m nL nH d...: 24 dots high; 8-dot modes one byte a column (each dot twice, then a blank
// row), 24-dot modes three (top byte first); single density writes every column twice.
void bitimage_input(EscposState& st) {
    int m = param(st);
    if (m != 0 && m != 1 && m != 32 && m != 33) return;
    long k = param(st);
    k += 256L * param(st);
    bool tall = m >= 32;
    bool single = m == 0 || m == 32;
    long width = single ? 2 * k : k;
    long kept = k;
    if (width > BITIMAGE_MAX_DOTS) {
        kept = single ? BITIMAGE_MAX_DOTS / 2 : BITIMAGE_MAX_DOTS;
        width = BITIMAGE_MAX_DOTS;
    }
    // receive_image_buf: one 24-bit column each, bit 23 at the top.
    uint32_t columns[BITIMAGE_MAX_DOTS];
    for (long i = 0; i < kept; ++i) {
        uint32_t col = 0;
        if (tall) {
            for (int b = 0; b < 3; ++b) col = col << 8 | uint32_t(param(st));
        } else {
            int b = param(st);
            for (int bit = 0; bit < 8; ++bit)
                if (b & (1 << bit)) col |= 3u << (3 * bit + 1);
        }
        columns[i] = col;
    }
    skip_params(st, (k - kept) * (tall ? 3 : 1));
    if (width <= 0) return;
    int padded = int((width + 31) / 32 * 32);
    int stride = padded / 8;
    std::vector<uint8_t> rows(size_t(24 * stride), 0);  // output_image_buf
    for (int x = 0; x < int(width); ++x) {
        uint32_t col = columns[single ? x / 2 : x];
        for (int r = 0; r < 24; ++r)
            if (col & (1u << (23 - r))) rows[size_t(r * stride + x / 8)] |= uint8_t(1u << (x % 8));
    }
    st.image.real_dot_width = int(width);
    st.image.real_dot_height = 24;
    st.image.save_dot_width = padded;
    int y = page_y(st);
    paint_bitmap(st, rows.data(), int(width), 24, stride, fill_x(st), y);
    extend_canvas(st, y + 24);
    st.line.fill_xpos = std::min(st.line.fill_xpos + int(width), 1 << 20);
}

// GS v 0 m xL xH yL yH d...: every byte raw. Only the bytes of a row that reach the paper are
// kept, and only rows above the page's end are painted; the rest is read.
void raster_image_process(EscposState& st) {
    if (get_new_char(st) != '0') return;
    int m = get_new_char(st);  // scaling: recorded, never applied
    long x = get_new_char(st);
    x += 256L * get_new_char(st);
    long h = get_new_char(st);
    h += 256L * get_new_char(st);
    st.user_image.real_dot_width = int(x * 8);
    st.user_image.save_dot_width = int((x + 3) / 4 * 32);
    st.user_image.real_dot_high = uint32_t(h);
    st.user_image.hori_dpi = st.user_image.vert_dpi = m;
    long kept = std::min<long>(x, PAGE_BYTES);
    int stride = int((kept + 3) / 4 * 4);
    int x0 = fill_x(st), y0 = page_y(st);
    long on_page = std::max<long>(0, std::min<long>(h, PAGE_MAX_ROWS - y0));
    long chunk_rows = stride > 0 ? std::max<long>(1, CHUNK_BYTES / stride) : 1;
    std::vector<uint8_t> chunk(size_t(stride) * size_t(std::min(chunk_rows, std::max<long>(on_page, 1))), 0);
    long filled = 0, chunk_top = 0;
    for (long r = 0; r < h; ++r) {
        if (r >= on_page || kept == 0) {
            skip_raw(st, x);
            continue;
        }
        uint8_t* row = chunk.data() + size_t(filled) * size_t(stride);
        for (long i = 0; i < kept; ++i) row[i] = bit_reverse(uint8_t(get_new_char(st)));
        skip_raw(st, x - kept);
        if (++filled == chunk_rows || r + 1 == on_page) {
            paint_bitmap(st, chunk.data(), int(kept * 8), int(filled), stride, x0, y0 + chunk_top);
            chunk_top += filled;
            filled = 0;
            std::fill(chunk.begin(), chunk.end(), 0);
        }
    }
    extend_canvas(st, double(y0) + double(h));
    st.page.ypos = clamp_page_y(st.page.ypos + double(h));
}

bool expect(EscposState& st, int want) { return param(st) == want; }

bool key_code_in_range(int k) { return k >= 32 && k <= 126; }

void sync_files(EscposState& st) {
    if (st.env.shell) st.env.shell("sync");
}

std::string nv_file(const EscposState& st, int kc1, int kc2) {
    return st.env.nv_graphics + std::to_string(kc1) + std::to_string(kc2);
}

// The NV graphics folder without its closing slash.
std::string nv_folder(const EscposState& st) {
    std::string f = st.env.nv_graphics;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    return f;
}

// GS ( L 'A' "CLR": every NV graphics file goes (their names are digits only; the NV user
// memory file in the same folder stays).
void delete_all_nv_graphics(EscposState& st) {
    std::string folder = nv_folder(st);
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (!*n || std::strspn(n, "0123456789") != std::strlen(n)) continue;
        unlink((folder + "/" + n).c_str());
    }
    closedir(d);
    sync_files(st);
}

// Width and height of a stored image (dots, rows), little-endian.
void read_size(EscposState& st, long& w, long& h) {
    w = param(st);
    w += 256L * param(st);
    h = param(st);
    h += 256L * param(st);
}

// The print buffer (fn 2): the file printed, the print position below it.
void print_graphics_buffer(EscposState& st) {
    int height = 0;
    if (print_raster_image(st, st.env.graphic_tmp, &height)) st.page.ypos = clamp_page_y(st.page.ypos + height);
}

// GS ( L pL pH m fn ... and GS 8 L p1 p2 p3 p4 m fn ...: a failed condition ends the command
// at the byte that fails.
void graphics(EscposState& st, long l) {
    if (!expect(st, '0')) return;
    int fn = param(st);
    switch (fn) {
    case 0: case '0':
        if (l == 2) dbg("Transmit NV graphics memory capacity\r");
        return;
    case 2: case '2':
        if (l == 2) print_graphics_buffer(st);
        return;
    case 3: case '3':
        if (l == 2) dbg("Transmit remaining NV memory capacity\r");
        return;
    case '@':
        if (l != 4 || !expect(st, 'K')) return;
        if (expect(st, 'C')) dbg("Transmit the key code list for defined NV graphics\r");
        return;
    case 'A':
        if (l != 5 || !expect(st, 'C') || !expect(st, 'L') || !expect(st, 'R')) return;
        delete_all_nv_graphics(st);
        return;
    case 'B': {
        if (l != 4) return;
        int kc1 = param(st);
        if (!key_code_in_range(kc1)) return;
        int kc2 = param(st);
        if (!key_code_in_range(kc2)) return;
        unlink(nv_file(st, kc1, kc2).c_str());
        sync_files(st);
        return;
    }
    case 'C': {
        if (!expect(st, '0')) return;
        int kc1 = param(st);
        int kc2 = param(st);
        if (!expect(st, 1)) return;
        long w, h;
        read_size(st, w, h);
        if (!expect(st, '1')) return;
        mkdir(nv_folder(st).c_str(), 0755);
        store_raster_image(st, nv_file(st, kc1, kc2), w, h);
        return;
    }
    case 'E': {
        int kc1 = param(st);
        if (!key_code_in_range(kc1)) return;
        int kc2 = param(st);
        if (!key_code_in_range(kc2)) return;
        skip_params(st, 2);  // x, y: read, not applied
        print_raster_image(st, nv_file(st, kc1, kc2), nullptr);
        return;
    }
    case 'p': {
        if (!expect(st, '0')) return;
        st.user_image.double_width = param(st) == 2;
        st.user_image.double_height = param(st) == 2;
        if (!expect(st, '1')) return;
        long w, h;
        read_size(st, w, h);
        store_raster_image(st, st.env.graphic_tmp, w, h);
        return;
    }
    default:
        return;
    }
}

void setup_print_graphics_short(EscposState& st) {
    long l = param(st);
    l += 256L * param(st);
    graphics(st, l);
}

// GS 8 L: any other byte after GS 8 is dropped.
void setup_print_graphics_long(EscposState& st) {
    if (param(st) != 'L') return;
    long l = 0;
    for (int i = 0; i < 4; ++i) l += long(param(st)) << (8 * i);
    graphics(st, l);
}

// GS * x y d...: read, nothing stored.
void download_bit_image(EscposState& st) {
    long x = param(st);
    long y = param(st);
    skip_params(st, x * y * 8);
}

void print_download_image(EscposState& st) { param(st); }

// FS p n m: nothing printed.
void print_nv_bit_image(EscposState& st) {
    if (param(st) == 0) return;
    param(st);
}

void define_nv_bit_image(EscposState&) {}
}  // namespace

StoredLayout stored_layout(long width, long height) {
    StoredLayout s;
    s.width = std::clamp<long>(width, 0, PAGE_DOTS);
    s.row_bytes = int((s.width + 7) / 8);
    int pad = s.row_bytes % 4 ? 4 - s.row_bytes % 4 : 0;
    s.padded_bytes = s.row_bytes + pad;
    long most = s.padded_bytes > 0 ? OUTPUT_IMAGE_BYTES / s.padded_bytes : 0;
    s.height = std::clamp<long>(height, 0, std::min<long>(most, 65535));
    return s;
}

bool store_raster_image(EscposState& st, const std::string& path, long width, long height) {
    long src_row = (width + 7) / 8;
    StoredLayout s = stored_layout(width, height);
    st.user_image.real_dot_width = int(s.width);
    st.user_image.save_dot_width = s.padded_bytes * 8;
    st.user_image.real_dot_high = uint32_t(height);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        dbg("----------------------------------\r");
        dbg("Can't Create the file: %s\r\n", path.c_str());
        dbg("----------------------------------\r");
        skip_params(st, src_row * height);
        return false;
    }
    uint8_t header[6] = {uint8_t(s.width), uint8_t(s.width >> 8), uint8_t(s.height), uint8_t(s.height >> 8),
                         uint8_t(s.padded_bytes * 8), uint8_t((s.padded_bytes * 8) >> 8)};
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
    std::vector<uint8_t> row(size_t(s.padded_bytes), 0);
    for (long r = 0; r < height; ++r) {
        if (r >= s.height) {
            skip_params(st, src_row);
            continue;
        }
        for (int i = 0; i < s.row_bytes; ++i) row[size_t(i)] = bit_reverse(uint8_t(param(st)));
        skip_params(st, src_row - s.row_bytes);
        if (ok && s.padded_bytes > 0) ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    ok = std::fclose(f) == 0 && ok;
    sync_files(st);
    return ok;
}

bool print_raster_image(EscposState& st, const std::string& path, int* height_out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat info {};
    uint8_t header[6];
    bool ok = fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode) && std::fread(header, 1, 6, f) == 6;
    long w = 0, h = 0, padded = 0;
    if (ok) {
        w = header[0] | header[1] << 8;
        h = header[2] | header[3] << 8;
        padded = header[4] | header[5] << 8;
        long stride = padded / 8;
        // A file whose header does not describe exactly its size is not printed.
        ok = w > 0 && h > 0 && padded % 32 == 0 && padded >= w && stride * h <= OUTPUT_IMAGE_BYTES &&
             long(info.st_size) == 6 + stride * h;
    }
    std::vector<uint8_t> rows;
    if (ok) {
        rows.resize(size_t(padded / 8 * h));
        ok = std::fread(rows.data(), 1, rows.size(), f) == rows.size();
    }
    std::fclose(f);
    if (!ok) return false;
    int y = page_y(st);
    paint_bitmap(st, rows.data(), int(w), int(h), int(padded / 8), fill_x(st), y);
    extend_canvas(st, double(y) + double(h));
    if (height_out) *height_out = int(h);
    return true;
}

void add_image_commands(CommandTables& t) {
    t.esc['*'] = bitimage_input;
    t.gs['v'] = raster_image_process;
    t.gs_paren['L'] = setup_print_graphics_short;
    t.gs['8'] = setup_print_graphics_long;
    t.gs['*'] = download_bit_image;
    t.gs['/'] = print_download_image;
    t.fs['p'] = print_nv_bit_image;
    t.fs['q'] = define_nv_bit_image;
}

}  // namespace escpos
