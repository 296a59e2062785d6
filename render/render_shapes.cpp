// Drawing primitives and pictures on the page recording.
#include "render_shapes.h"

#include "image_builder.h"

#include <cmath>

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

void stroke_pending(cairo_t* cr) {
    if (cairo_has_current_point(cr)) cairo_stroke(cr);
}
}  // namespace

void draw_line(double x1, double y1, double x2, double y2, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({x1, y1, x2, y2, width}) || width < 0) return;
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
    stroke_pending(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_width(cr, width + WIDEN);
    cairo_rectangle(cr, x, y, w, h);
    cairo_stroke(cr);
}

void draw_rectangle_fill(double x, double y, double w, double h, double /*width*/) {
    cairo_t* cr = ink();
    if (!cr || !finite({x, y, w, h}) || w < 0 || h < 0) return;
    stroke_pending(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

void draw_round_rectangle(double x, double y, double w, double h, double r, double width) {
    cairo_t* cr = ink();
    if (!cr || !finite({x, y, w, h, r, width}) || w < 0 || h < 0 || r < 0 || width < 0) return;
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

int render_and_place_png(int /*x*/, int y, const char* path) {
    cairo_t* cr = ink();
    if (!cr || !path) return 0;
    if (global_line_print_enabled_flag) boundingBox_y += pangoRectangle_logical.height / 2;
    cairo_surface_t* picture = cairo_image_surface_create_from_png(path);
    if (cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) {
        dbg("png %s: %s\n", path, cairo_status_to_string(cairo_surface_status(picture)));
        cairo_surface_destroy(picture);
        return 0;
    }
    int pw = cairo_image_surface_get_width(picture);
    int ph = cairo_image_surface_get_height(picture);
    int px = pw == PRINTHEAD_DOT_WIDTH ? 0 : PRINTHEAD_DOT_WIDTH / 2 - pw / 2;
    double py = global_line_print_enabled_flag ? boundingBox_y : y;
    cairo_save(cr);
    cairo_mask_surface(cr, picture, px, py);
    cairo_restore(cr);
    if (global_line_print_enabled_flag) boundingBox_y += ph + IMAGE_PADDING + currentLineSpacing;
    cairo_surface_destroy(picture);
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
