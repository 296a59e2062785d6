// Text layout: characters are collected in the line buffer, each with its own copy of the
// attributes; a line end (LF, a feed, a wrap, CR) justifies and draws the line and moves the
// print position down.
#pragma once

#include "escpos_state.h"

#include <cstddef>
#include <cstdint>

namespace escpos {

// English text: one character per byte with the English settings.
void fill_eng_char(EscposState& st, const uint8_t* text, size_t n);
// One two-byte GBK character (or a four-byte GB18030 one) with the Chinese settings.
void fill_gbk_char(EscposState& st, const uint8_t* code, size_t n);
// Appends one character to the line buffer; a character that does not fit ends the line first.
void add_char(EscposState& st, CHAR_PROPERTIES c);
// Draws the line buffer and moves the print position down by `feed` dots (up when negative,
// never above the top of the page).
void layout_line(EscposState& st, int feed);

void horizontal_tab(EscposState& st);
void carriage_return(EscposState& st);
// LF: draws the line and feeds the line spacing; the fill position goes back to the left margin.
void line_feed(EscposState& st);
// CAN: the characters not yet drawn are dropped.
void cancel_line(EscposState& st);
// The line state after a line is drawn: empty, settings from the page, fill position kept.
void reset_line_keep_fill(EscposState& st);
// The usable right edge for wrapping: the line's printable width less the device margins.
int wrap_width(const EscposState& st);

// UTF-8 lines (encoding mode 2): the collected text is drawn below the page at LF.
void draw_utf8_line(EscposState& st);

}  // namespace escpos
