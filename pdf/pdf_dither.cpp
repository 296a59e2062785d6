// From grey pictures and 1-bit pages to dot images: the error-diffusion ditherer, the PNG reader
// that feeds it one row at a time (only an interlaced picture is held whole), and the writer
// that cuts the rows into dot images the print engine takes (at most 6496 rows each).
#include "pdf.h"

#include "dot_image.h"
#include "image_builder.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {
constexpr size_t ROW_BYTES = HEAD_DOTS / 8;
}  // namespace

// ---- ditherer ---------------------------------------------------------------------------------------

Ditherer::Ditherer(int width) : width_(std::max(width, 1)), cur_(size_t(width_) + 2, 0), next_(size_t(width_) + 2, 0) {}

void Ditherer::row(const uint8_t* grey, uint8_t* bits) {
    cur_.swap(next_);
    const int32_t* in = cur_.data() + 1;  // errors this row received from the row above
    int32_t* below = next_.data() + 1;    // and those it passes on (every cell written once)
    const int w = width_;
    int32_t right = 0;     // error for the next pixel of this row
    int32_t left_acc = 0;  // column x - 1 of the next row: complete once pixel x has given its share
    int32_t here_acc = 0;  // column x of the next row, so far
    uint8_t byte = 0;
    for (int x = 0; x < w; ++x) {
        int32_t old = int32_t(grey[x]) + in[x] + right;
        bool white = old > 127;
        int32_t e = old - (white ? 255 : 0);
        right = e * 7 / 16;
        below[x - 1] = left_acc + e * 3 / 16;  // column -1 is a guard cell
        left_acc = here_acc + e * 5 / 16;
        here_acc = e / 16;
        byte = uint8_t(byte << 1 | (white ? 0 : 1));
        if ((x & 7) == 7) {
            bits[x >> 3] = byte;
            byte = 0;
        }
    }
    below[w - 1] = left_acc;  // the share for column w does not exist: dropped
    below[-1] = 0;
    if (w & 7) bits[w >> 3] = uint8_t(byte << (8 - (w & 7)));
}

// ---- dot images -------------------------------------------------------------------------------------

bool write_page_image(const uint8_t* rows, int n) {
    if (n <= 0) return false;
    start_one_pbm();  // the previous image of this program has been taken
    FILE* f = create_unique_file_name(PATH_TO_DOTIMAGE_FILES);
    if (!f) return false;
    bool ok = write_dot_image(f, HEAD_DOTS, n, rows, false);
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::fprintf(stderr, "%s: %s\n", nameBuff.c_str(), std::strerror(errno));
    return ok;
}

DotImageSink::DotImageSink(PdfState& s) : s_(s) { rows_.reserve(ROW_BYTES * 256); }

DotImageSink::~DotImageSink() { flush(); }

void DotImageSink::add_row(const uint8_t* row, size_t bytes) {
    size_t at = rows_.size();
    rows_.resize(at + ROW_BYTES, 0);
    std::memcpy(rows_.data() + at, row, std::min(bytes, ROW_BYTES));
    if (rows_.size() >= ROW_BYTES * size_t(MAX_IMAGE_ROWS)) flush();
}

void DotImageSink::flush() {
    int n = int(rows_.size() / ROW_BYTES);
    if (n > 0 && write_page_image(rows_.data(), n)) ++s_.images_in_job;
    rows_.clear();
}

int pbm_to_dot_images(PdfState& s, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    char magic[3] = {};
    int w = 0, h = 0;
    bool ok = std::fscanf(f, "%2s", magic) == 1 && std::strcmp(magic, "P4") == 0 &&
              std::fscanf(f, "%d %d", &w, &h) == 2 && w > 0 && h > 0 && std::fgetc(f) != EOF;
    if (!ok) {
        std::fclose(f);
        std::fprintf(stderr, "%s: not a 1-bit page\n", path.c_str());
        return 0;
    }
    int before = s.images_in_job;
    size_t row_bytes = (size_t(w) + 7) / 8;
    std::vector<uint8_t> row(row_bytes);
    {
        DotImageSink sink(s);
        for (int y = 0; y < h && y < MAX_PICTURE_ROWS; ++y) {
            if (std::fread(row.data(), 1, row_bytes, f) != row_bytes) break;
            if (w % 8) row[row_bytes - 1] &= uint8_t(0xFF << (8 - w % 8));  // bits past the page's edge
            sink.add_row(row.data(), row_bytes);
        }
    }
    std::fclose(f);
    return s.images_in_job - before;
}

// ---- PNG pictures -------------------------------------------------------------------------------------

namespace {
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    FILE* f = nullptr;
    ~PngReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (f) std::fclose(f);
    }
};

void png_error_exit(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "png: %s\n", message);
    png_longjmp(png, 1);
}

void png_warning_quiet(png_structp, png_const_charp) {}

// Grey (and alpha) of a row on white.
void grey_on_white(const uint8_t* px, int width, int channels, uint8_t* grey) {
    if (channels == 1) {
        std::memcpy(grey, px, size_t(width));
        return;
    }
    for (int x = 0; x < width; ++x) {
        unsigned g = px[2 * x], a = px[2 * x + 1];
        grey[x] = uint8_t((g * a + 255 * (255 - a) + 127) / 255);
    }
}

struct PngLayout {
    int width = 0, height = 0, channels = 0, passes = 1;
    size_t rowbytes = 0;
};

// libpng reports a failure by jumping back to the setjmp of the call that failed. Each call that
// may fail has a guard of its own holding only plain values, so the jump never leaves C++ objects
// behind: the guard returns false instead.
bool png_setup_guarded(PngReader& r, PngLayout& out) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_init_io(r.png, r.f);
    png_set_sig_bytes(r.png, 8);
    png_set_user_limits(r.png, 1u << 16, 1u << 20);
    png_read_info(r.png, r.info);
    int color = png_get_color_type(r.png, r.info);
    png_set_strip_16(r.png);
    png_set_expand(r.png);  // palettes to RGB, 1, 2, 4 bits to 8, transparency chunk to alpha
    if (color & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(r.png, 1, -1, -1);
    out.passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    out.width = int(png_get_image_width(r.png, r.info));
    out.height = int(png_get_image_height(r.png, r.info));
    out.channels = png_get_channels(r.png, r.info);
    out.rowbytes = png_get_rowbytes(r.png, r.info);
    return true;
}

bool png_row_guarded(png_structp png, uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_row(png, row, nullptr);
    return true;
}
}  // namespace

int png_to_dot_images(PdfState& s, const std::string& path) {
    PngReader r;
    r.f = std::fopen(path.c_str(), "rb");
    if (!r.f) return 0;
    uint8_t sig[8];
    if (std::fread(sig, 1, 8, r.f) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        dbg("Not a png file\n");
        return 0;
    }
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_exit, png_warning_quiet);
    if (!r.png) return 0;
    r.info = png_create_info_struct(r.png);
    if (!r.info) {
        dbg("Could not get png info\n");
        return 0;
    }
    PngLayout p;
    if (!png_setup_guarded(r, p) || p.channels < 1 || p.channels > 2 || p.width < 1 ||
        p.rowbytes < size_t(p.width) * size_t(p.channels))
        return 0;
    int rows = std::min(p.height, MAX_PICTURE_ROWS);
    if (rows < p.height) std::fprintf(stderr, "picture of %d rows: printed up to row %d\n", p.height, rows);

    int before = s.images_in_job;
    std::vector<uint8_t> row(p.rowbytes), grey(size_t(p.width)), bits((size_t(p.width) + 7) / 8);
    std::vector<uint8_t> whole;  // an interlaced picture comes in passes: read whole first
    if (p.passes > 1) {
        whole.assign(p.rowbytes * size_t(p.height), 0);
        for (int pass = 0; pass < p.passes; ++pass)
            for (int y = 0; y < p.height; ++y)
                if (!png_row_guarded(r.png, whole.data() + size_t(y) * p.rowbytes)) return 0;
    }
    Ditherer dither(p.width);
    DotImageSink sink(s);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* px = row.data();
        if (p.passes > 1)
            px = whole.data() + size_t(y) * p.rowbytes;
        else if (!png_row_guarded(r.png, row.data()))
            break;  // a damaged picture: the rows read so far are printed
        grey_on_white(px, p.width, p.channels, grey.data());
        dither.row(grey.data(), bits.data());
        sink.add_row(bits.data(), bits.size());
    }
    sink.flush();
    return s.images_in_job - before;
}
