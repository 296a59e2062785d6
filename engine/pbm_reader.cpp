#include "pbm_reader.h"

#include "dot_image.h"
#include "engine_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace engine {

int get_pbm_file_lines(const std::string& path, int mark_seek, int retries, bool announce) {
    DotImageInfo info;
    if (!probe_dot_image(path, info, retries, announce)) return 0;
    if (info.width <= 0) return 0;
    const size_t bpr = size_t(info.width + 7) / 8;
    long rows = info.height;
    if (mark_seek == 2 && rows > SHEET_MAX_ROWS) rows = SHEET_MAX_ROWS;
    rows = std::min<long>(rows, long(info.raster_len / bpr));
    rows = std::min<long>(rows, MAX_ROWS);
    return int(std::max<long>(rows, 0));
}

int read_pbm_file(uint8_t* dst, const std::string& path, int rows, int retries) {
    FILE* f = open_dot_image(path, retries, false);
    if (!f) return 0;
    uint8_t head[32];
    size_t n = std::fread(head, 1, sizeof head, f);
    DotImageInfo info;
    int got = 0;
    if (rows > 0 && parse_dot_image_header(head, n, info) && info.width > 0 &&
        std::fseek(f, long(info.header_len), SEEK_SET) == 0) {
        const size_t bpr = size_t(info.width + 7) / 8;
        if (bpr == size_t(ROW_BYTES)) {
            got = int(std::fread(dst, 1, size_t(rows) * ROW_BYTES, f) / ROW_BYTES);
        } else {
            const size_t keep = std::min(bpr, size_t(ROW_BYTES));
            for (; got < rows; ++got) {
                uint8_t* row = dst + size_t(got) * ROW_BYTES;
                if (std::fread(row, 1, keep, f) != keep) break;
                std::memset(row + keep, 0, ROW_BYTES - keep);
                if (bpr > keep && std::fseek(f, long(bpr - keep), SEEK_CUR) != 0) break;
            }
        }
    }
    std::fclose(f);
    return got;
}

}  // namespace engine
