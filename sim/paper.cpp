#include "paper.h"

#include <cstdio>
#include <png.h>
#include <unistd.h>

void Paper::add_row(const uint8_t* row) { data_.insert(data_.end(), row, row + ROW_BYTES); }

bool Paper::write_pbm(const std::string& path) const {
    std::string tmp = path + ".new";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fprintf(f, "P4\n%d %zu\n", WIDTH, rows()) > 0;
    if (!data_.empty()) ok = std::fwrite(data_.data(), 1, data_.size(), f) == data_.size() && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

namespace {
// libpng reports errors by longjmp: nothing here changes after setjmp.
bool png_stream(png_structp png, png_infop info, FILE* f, const uint8_t* data, size_t rows, uint8_t* line) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    png_set_IHDR(png, info, Paper::WIDTH, png_uint_32(rows), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (size_t r = 0; r < rows; ++r) {
        // PNG grey: 0 is black; on the paper 1 is a dot.
        for (int i = 0; i < Paper::ROW_BYTES; ++i) line[i] = uint8_t(~data[r * Paper::ROW_BYTES + size_t(i)]);
        png_write_row(png, line);
    }
    png_write_end(png, nullptr);
    return true;
}
}  // namespace

bool Paper::write_png(const std::string& path) const {
    if (rows() == 0) {
        ::unlink(path.c_str());
        return true;
    }
    std::string tmp = path + ".new";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> line(ROW_BYTES);
    bool ok = png && info && png_stream(png, info, f, data_.data(), rows(), line.data());
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}
