// Drawing primitives and pictures on the page recording.
#include "render_shapes.h"

#include "image_builder.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
constexpr double WIDEN = 0.01;

bool finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// Opaque source for what is drawn (only the alpha counts on the recording).
cairo_t* ink() {
    cairo_t* cr = recording_cairo_context;
    if (cr) cairo_set_source_rgba(cr, 1, 1, 1, 1);
    return cr;
}

// An outline of w x h at (x, y) stroked `width` wide, centred on it.
bool outline_may_draw(double x, double y, double w, double h, double width) {
    double half = width / 2 + WIDEN;
    return page_may_draw(x - half, y - half, x + w + half, y + h + half);
}

void stroke_pending(cairo_t* cr) {
    if (cairo_has_current_point(cr)) cairo_stroke(cr);
}
}  // namespace

void draw_line(double x1, double y1, double x2, double y2, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({x1, y1, x2, y2, width}) || width < 0) return;
    double h = width / 2 + WIDEN;
    if (!page_may_draw(std::min(x1, x2) - h, std::min(y1, y2) - h, std::max(x1, x2) + h, std::max(y1, y2) + h)) return;
    stroke_pending(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
    cairo_stroke(cr);
}

void draw_rectangle(double x, double y, double w, double h, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({x, y, w, h, width}) || w < 0 || h < 0 || width < 0) return;
    if (!outline_may_draw(x, y, w, h, width)) return;
    stroke_pending(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_rectangle(cr, x, y, w, h);
    cairo_stroke(cr);
}

void draw_rectangle_fill(double x, double y, double w, double h, double /*width*/) {
    cairo_t* cr = ink();
    if (!cr || !finite({x, y, w, h}) || w < 0 || h < 0) return;
    if (!page_may_draw(x, y, x + w, y + h)) return;
    stroke_pending(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

void draw_round_rectangle(double x, double y, double w, double h, double r, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({x, y, w, h, r, width}) || w < 0 || h < 0 || r < 0 || width < 0) return;
    if (!outline_may_draw(x, y, w, h, width)) return;
    stroke_pending(cr);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_move_to(cr, x + r, y);
    cairo_line_to(cr, x + w - r, y);
    cairo_move_to(cr, x + w, y + r);
    cairo_line_to(cr, x + w, y + h - r);
    cairo_move_to(cr, x + w - r, y + h);
    cairo_line_to(cr, x + r, y + h);
    cairo_move_to(cr, x, y + h - r);
    cairo_line_to(cr, x, y + r);
    cairo_arc(cr, x + r, y + r, r, M_PI, 1.5 * M_PI);
    cairo_arc(cr, x + w - r, y + r, r, 1.5 * M_PI, 2 * M_PI);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, 0.5 * M_PI);
    cairo_arc(cr, x + r, y + h - r, r, 0.5 * M_PI, M_PI);
    cairo_stroke(cr);
}

void draw_circle(double cx, double cy, double radius, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({cx, cy, radius, width}) || radius < 0 || width < 0) return;
    if (!outline_may_draw(cx - radius, cy - radius, 2 * radius, 2 * radius, width)) return;
    stroke_pending(cr);
    cairo_new_sub_path(cr);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
    cairo_stroke(cr);
}

void draw_ellipse(double cx, double cy, double s, double radius, double width) {
    cairo_t* cr = ink();
    // A zero or negative factor would make the matrix singular and put the context in an error
    // state for the rest of the page.
    if (!cr || !finite({cx, cy, s, radius, width}) || s <= 0 || radius < 0 || width < 0) return;
    double reach = radius + width / 2 + WIDEN;
    if (!page_may_draw((cx - reach) * s, cy - reach, (cx + reach) * s, cy + reach)) return;
    stroke_pending(cr);
    cairo_save(cr);
    cairo_scale(cr, s, 1);
    cairo_new_sub_path(cr);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_restore(cr);
}

int gi_add_box(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t width) {
    draw_rectangle(x0, y0, double(x1) - x0, double(y1) - y0, width);
    return 0;
}

int gi_add_seg(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t width) {
    draw_line(x0, y0, x1, y1, width);
    return 0;
}

int gi_set_invert() { return 0; }

// Width and height from a PNG file's header (its first 24 bytes).
bool png_size(const char* path, int& w, int& h) {
    w = h = 0;
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t head[24];
    bool ok = std::fread(head, 1, sizeof head, f) == sizeof head;
    std::fclose(f);
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!ok || std::memcmp(head, signature, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) return false;
    uint32_t pw = uint32_t(head[16]) << 24 | head[17] << 16 | head[18] << 8 | head[19];
    uint32_t ph = uint32_t(head[20]) << 24 | head[21] << 16 | head[22] << 8 | head[23];
    if (pw < 1 || ph < 1 || pw > 32767 || ph > 32767) return false;  // beyond what cairo takes
    w = int(pw);
    h = int(ph);
    return true;
}

cairo_surface_t* ink_mask(cairo_surface_t* picture) {
    int w = cairo_image_surface_get_width(picture), h = cairo_image_surface_get_height(picture);
    cairo_surface_t* alpha = cairo_image_surface_create(CAIRO_FORMAT_A8, std::max(w, 1), std::max(h, 1));
    cairo_t* cr = cairo_create(alpha);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_t* mask = a1_from_coverage(alpha);
    cairo_surface_destroy(alpha);
    return mask;
}

namespace {
void png_failed(png_structp png, png_const_charp message) {
    dbg("png: %s\n", message);
    png_longjmp(png, 1);
}
void png_warned(png_structp, png_const_charp) {}
}  // namespace

cairo_surface_t* load_png_ink_mask(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return cairo_image_surface_create(CAIRO_FORMAT_INVALID, 0, 0);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    cairo_surface_t* mask = nullptr;
    std::vector<uint8_t> row;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::fclose(f);
        if (mask) cairo_surface_destroy(mask);
        return cairo_image_surface_create(CAIRO_FORMAT_INVALID, 0, 0);
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (w < 1 || h < 1 || w > 32767 || h > 32767) png_error(png, "size");
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
        // Interlaced pictures come whole through cairo.
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        cairo_surface_t* picture = cairo_image_surface_create_from_png(path);
        if (cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) return picture;
        mask = ink_mask(picture);
        cairo_surface_destroy(picture);
        return mask;
    }
    // Every form to 8-bit RGBA, opaque where the picture has no transparency, as cairo reads it.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) png_error(png, "row form");
    mask = cairo_image_surface_create(CAIRO_FORMAT_A1, int(w), int(h));
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) png_error(png, "no memory");
    cairo_surface_flush(mask);
    uint8_t* bits = cairo_image_surface_get_data(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    row.resize(size_t(w) * 4);
    for (png_uint_32 r = 0; r < h; ++r) {
        png_read_row(png, row.data(), nullptr);
        uint8_t* out = bits + size_t(r) * size_t(stride);
        std::memset(out, 0, size_t(stride));
        // A dot is ink where the picture is at least half opaque (A1: leftmost dot in the low bit).
        for (png_uint_32 x = 0; x < w; ++x)
            if (row[size_t(x) * 4 + 3] >= 0x80) out[x >> 3] = uint8_t(out[x >> 3] | (1u << (x & 7)));
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    cairo_surface_mark_dirty(mask);
    return mask;
}

int render_and_place_png(int /*x*/, int y, const char* path) {
    cairo_t* cr = ink();
    if (!cr || !path) return 0;
    if (global_line_print_enabled_flag) boundingBox_y += pangoRectangle_logical.height / 2;
    double py = global_line_print_enabled_flag ? boundingBox_y : y;
    // The picture's size from its header: a picture the page has no budget for is not decoded.
    int pw = 0, ph = 0;
    if (!png_size(path, pw, ph)) {
        dbg("png %s: not a picture\n", path);
        return 0;
    }
    int px = pw == PRINTHEAD_DOT_WIDTH ? 0 : PRINTHEAD_DOT_WIDTH / 2 - pw / 2;
    if (!page_may_draw(px, py, px + pw, py + ph, double(pw) * ph)) {
        if (global_line_print_enabled_flag) boundingBox_y += ph + IMAGE_PADDING + currentLineSpacing;
        return ph;
    }
    // The recording keeps a copy of what it masks with: one bit a dot, not four bytes.
    cairo_surface_t* mask = load_png_ink_mask(path);
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
        dbg("png %s: %s\n", path, cairo_status_to_string(cairo_surface_status(mask)));
        cairo_surface_destroy(mask);
        return 0;
    }
    cairo_save(cr);
    cairo_mask_surface(cr, mask, px, py);
    cairo_restore(cr);
    cairo_surface_destroy(mask);
    if (global_line_print_enabled_flag) boundingBox_y += ph + IMAGE_PADDING + currentLineSpacing;
    return ph;
}

cairo_surface_t* scale_surface(cairo_surface_t* src, int old_w, int old_h, int new_w, int new_h) {
    if (!src || old_w < 1 || old_h < 1 || new_w < 1 || new_h < 1) return nullptr;
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_A8, new_w, new_h);
    cairo_t* cr = cairo_create(out);
    cairo_scale(cr, double(new_w) / old_w, double(new_h) / old_h);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_NONE);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    return out;
}

namespace {
void append_png(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void no_flush(png_structp) {}
}  // namespace

bool ink_png(const std::vector<uint8_t>& rows, int width, int height, std::string& out) {
    out.clear();
    size_t row_bytes = size_t(width + 7) / 8;
    if (width < 1 || height < 1 || rows.size() < row_bytes * size_t(height)) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        out.clear();
        return false;
    }
    png_set_write_fn(png, &out, append_png, no_flush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[2] = {{0, 0, 0}, {0, 0, 0}};
    png_byte alpha[2] = {0, 255};  // index 0 transparent, index 1 opaque black
    png_set_PLTE(png, info, palette, 2);
    png_set_tRNS(png, info, alpha, 2, nullptr);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    for (int r = 0; r < height; ++r)
        png_write_row(png, const_cast<png_bytep>(rows.data() + size_t(r) * row_bytes));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}
