// ZPL shape commands.
#include "zpl_graphics.h"

#include "image_builder.h"
#include "render_shapes.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
int shape_dots(int v) { return std::clamp(v, 0, MAX_SHAPE_DOTS); }

// Thickness parameter: 0 (or absent) is 2 dots.
int thickness(int v) {
    v = shape_dots(v);
    return v == 0 ? 2 : v;
}

bool white(const char* colour) { return colour[0] == 'W' || colour[0] == 'w'; }

// How one shape is drawn: a white shape (colour W) takes the ink away where it lies and keeps the
// field position (it marks nothing as drawn: on blank paper it prints nothing); a black one is
// ink, inverting what lies below with ^FR or ^LR.
class ShapeInk {
public:
    explicit ShapeInk(bool white) : white_(white) {
        cairo_t* cr = recording_cairo_context;
        if (white_ && cr) {
            cairo_save(cr);
            cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        } else if (!white_) {
            begin_field_ink();
        }
    }
    ~ShapeInk() {
        if (white_) {
            if (recording_cairo_context) cairo_restore(recording_cairo_context);
            return;
        }
        end_field_ink();
        global.creat_image = 1;
        reset_position_defaults();
    }
    ShapeInk(const ShapeInk&) = delete;
    ShapeInk& operator=(const ShapeInk&) = delete;

private:
    bool white_;
};
}  // namespace

void graphic_box() {
    add_line();
    int w = shape_dots(next_par_int());
    int h = shape_dots(next_par_int());
    int t = thickness(next_par_int());
    ShapeInk ink(white(next_par()));
    int r = std::clamp(next_par_int(), 0, 8);
    double x = global.x_loc, y = global.y_loc;
    if (w != 0 && h != 0) {
        if (t >= w || t >= h) {  // thicker than its size: a filled bar
            w = std::max(w, t);
            h = std::max(h, t);
            t = t - 1;
        }
        // The stroke is centred on the outline: half the thickness inside keeps the outer edge
        // on the box also for odd thicknesses.
        double cx = x + t / 2.0, cy = y + t / 2.0;
        double bw = std::abs(w - t), bh = std::abs(h - t);
        if (r == 0)
            draw_rectangle(cx, cy, bw, bh, t);
        else
            draw_round_rectangle(cx, cy, bw, bh, r / 8.0 * (std::min(w, h) / 2), t);
    } else {
        draw_line(x, y, x + w, y + h, t);
    }
}

void graphic_circle() {
    add_line();
    int d = shape_dots(next_par_int());
    int t = thickness(next_par_int());
    ShapeInk ink(white(next_par()));
    int rho = d / 2;
    if (t > rho) t = rho;
    draw_circle(global.x_loc + rho, global.y_loc + rho, rho - t / 2.0, t);
}

void graphic_diagonalline() {
    add_line();
    int w = shape_dots(next_par_int());
    int h = shape_dots(next_par_int());
    int t = thickness(next_par_int());
    ShapeInk ink(white(next_par()));
    const char* o = next_par();
    double x = global.x_loc, y = global.y_loc;
    int a = t / 2;
    if (o[0] == 'L' || o[0] == 'l' || o[0] == '\\')
        draw_line(x, y, x + w + a, y + h + a, t);
    else
        draw_line(x + w + a, y, x + a, y + h + a, t);
}

// The ellipse fills the box w x h at the field origin: a circle of radius h / 2 stretched across
// by w / h, the stroke inside the box. Without a width or a height there is nothing to draw.
void graphic_ellipse() {
    add_line();
    int w = shape_dots(next_par_int());
    int h = shape_dots(next_par_int());
    int t = thickness(next_par_int());
    ShapeInk ink(white(next_par()));
    if (w > 0 && h > 0) {
        double rho = h / 2.0;
        if (rho < t) t = int(std::trunc(rho));
        double s = double(w) / h;
        double radius = std::max(0.0, rho - t / 2.0);
        draw_ellipse((global.x_loc + w / 2.0) / s, global.y_loc + rho, s, radius, t);
    }
}
