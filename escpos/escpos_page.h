// The page life cycle: the canvas of a page, the full and soft page ends and the hand-off of
// dot images to the print engine.
#pragma once

#include "escpos_state.h"

#include <string>

namespace escpos {

// A fresh, empty canvas (the previous one, if any, is dropped).
void new_canvas(EscposState& st);
void release_canvas(EscposState& st);

// The canvas reaches down to at least y (bounded by PAGE_MAX_ROWS).
void extend_canvas(EscposState& st, double y);
// A print position limited to the page: never above the top, never below PAGE_MAX_ROWS.
double clamp_page_y(double y);

// The byte with its bits in the other order (the host's leftmost-dot-first bytes into the canvas'
// leftmost-dot-in-bit-0 order and back).
uint8_t bit_reverse(uint8_t b);

// Places a 1-bit bitmap (leftmost dot in bit 0 of each byte, rows `stride` bytes apart) as it is
// with its top-left dot at (x, y): dots off the paper are dropped.
void place_dots(EscposState& st, const uint8_t* data, int width, int height, int stride, int x, int y);

// Paints a 1-bit bitmap (leftmost dot in bit 0 of each byte, rows `stride` bytes apart) at
// (x, y), scaled by (sx, sy) and rotated by `degrees` about (x, y).
void paint_bitmap(EscposState& st, const uint8_t* data, int width, int height, int stride, double x, double y,
                  double sx = 1, double sy = 1, double degrees = 0);

// Ends the page and resets every property, the tabs, the buffers and the job recorder (ESC @,
// FF in page or mark mode, mark feeding). Nothing happens below 2 dots of canvas; returns 1
// when the page was ended.
int printout_one_job(EscposState& st);
// Ends the page at idle input and while streaming on continuous paper; below 4 dots nothing
// happens. The settings stay as the host set them; characters still in the line buffer move
// to the top of the next page.
void data_empty_print(EscposState& st);

// Rasterises the canvas into dot images of at most IMAGE_MAX_ROWS rows each (a taller page is
// split; together they hold all of its ink) and hands them to env.put_image.
void render_page(EscposState& st);

// The hand-off of the running interpreter: waits until the print engine has taken the previous
// image (however long that takes, reporting a long wait), then writes the next one into the
// print engine's intake folder.
void hand_over_dot_image(cairo_surface_t* image);
// Waits until `path` no longer exists; after every `report_ms` of waiting a line on standard
// error says so. Blocks on inotify of the file's folder.
void wait_until_removed(const std::string& path, int report_ms = 10000);

}  // namespace escpos
