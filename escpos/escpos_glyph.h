// Drawing one character: dot glyphs composed into the line bitmap, outline glyphs through pango.
#pragma once

#include "escpos_state.h"

#include <string>

namespace escpos {

// Code page fix-ups applied to an English character's code, code page and flags before its dot
// glyph is fetched.
void code_page_fixups(uint8_t& code, uint8_t& char_grp, uint8_t& char_set);

// A dot glyph as it is printed: up to 32 dots across, 24 rows; bit x of rows[y] is the dot at x.
struct ComposedGlyph {
    int width = 0;
    uint32_t rows[24]{};
    bool dot(int x, int y) const { return x >= 0 && x < 32 && y >= 0 && y < 24 && (rows[y] >> x & 1u); }
};
// Fetches and composes the dot glyph of a character (user-defined, GB18030 or TGS2); false when
// it draws nothing (a space, or no glyph).
bool compose_dot_glyph(const EscposState& st, const CHAR_PROPERTIES& c, ComposedGlyph& out);
// ORs a composed glyph into the line bitmap with its left edge at x.
void place_in_line_bitmap(EscposState& st, const ComposedGlyph& g, int x);
// Paints the line bitmap at y and clears it.
void paint_line_bitmap(EscposState& st, double y);

// The character's text for the outline renderer (UTF-8).
std::string outline_text(const CHAR_PROPERTIES& c);
// Sets the pango font of a character (family, point size, weight) on the state's layout.
void set_pango_font(EscposState& st, const CHAR_PROPERTIES& c, int weight);
// Measures an outline character into its layout_size.
void measure_outline(EscposState& st, CHAR_PROPERTIES& c);
// Draws an outline character of a line whose tallest cell is line_max_high.
void draw_outline_char(EscposState& st, const CHAR_PROPERTIES& c, int line_max_high);
// Draws a magnified or rotated user-defined character on its own.
void draw_user_char(EscposState& st, const CHAR_PROPERTIES& c, int line_max_high);

// Converts bytes of `charset` to UTF-8 (iconv; invalid input becomes "?").
std::string to_utf8(const char* charset, const uint8_t* bytes, size_t n);

}  // namespace escpos
