// Drawing primitives and pictures on the page recording. Sizes and positions are dots; everything
// drawn is ink (the recording holds coverage only). Line widths are widened by 0.01 dot so that a
// width of exactly 1 covers a whole row or column of dots.
//
// Sizes that cannot make a shape (a negative or non-finite size, a zero horizontal factor) draw
// nothing: they never leave the drawing context in an error state, which would drop the rest of
// the page.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

void draw_line(double x1, double y1, double x2, double y2, double width);
// Outline of w x h at (x, y), stroke centred on the outline, mitred corners.
void draw_rectangle(double x, double y, double w, double h, double width);
// The area w x h at (x, y) filled; the width does not matter.
void draw_rectangle_fill(double x, double y, double w, double h, double width);
// Outline with quarter-circle corners of radius r.
void draw_round_rectangle(double x, double y, double w, double h, double r, double width);
void draw_circle(double cx, double cy, double radius, double width);
// Circle outline drawn with the x axis scaled by s: the drawn centre is at (cx * s, cy) and the
// stroke is widened horizontally by s as well.
void draw_ellipse(double cx, double cy, double s, double radius, double width);

// Whole-dot drawing hooks for encoders.
int gi_add_box(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t width);
int gi_add_seg(uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1, uint16_t width);
int gi_set_invert();  // no inverted drawing: no effect

// Stamps a PNG picture centred across the head at y (line-print mode: at the running position,
// which then advances); opaque pixels are ink, colours are ignored. The x argument is not used.
// Returns the picture's height in dots; a picture that cannot be loaded draws nothing and gives 0.
int render_and_place_png(int x, int y, const char* path);
// A new A1 surface of the picture's size: a dot is set where the picture is at least half opaque.
cairo_surface_t* ink_mask(cairo_surface_t* picture);
// The same for a PNG file, read row by row (never the whole picture at four bytes a dot). A
// picture that cannot be read gives a surface in an error state.
cairo_surface_t* load_png_ink_mask(const char* path);
// A PNG picture of 1-bit rows (MSB leftmost, 1 = ink, (width + 7) / 8 bytes a row): ink is opaque
// black, the rest fully transparent, so that placed again only the ink shows. False on failure.
bool ink_png(const std::vector<uint8_t>& rows, int width, int height, std::string& out);
// A new alpha surface new_w x new_h holding `src` scaled to fit (nullptr for sizes below 1).
cairo_surface_t* scale_surface(cairo_surface_t* src, int old_w, int old_h, int new_w, int new_h);
