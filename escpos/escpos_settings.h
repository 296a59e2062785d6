// Settings read at start and the reset procedures that give every property its default.
#pragma once

#include "escpos_state.h"

#include <string>

namespace escpos {

// Default character attributes.
const CHAR_PROPERTIES& eng_font_a_defaults();   // EngCharPropADefault: 12 x 24 dot font
const CHAR_PROPERTIES& eng_font_b_defaults();   // EngCharPropBDefault: 9 x 17 outline
const CHAR_PROPERTIES& chn_font_24_defaults();  // ChnCharProp24x24: 24 x 24 dot font
const CHAR_PROPERTIES& chn_font_32_defaults();  // ChnCharProp32x32: 32 x 32 outline

// Start-up readers: the emulation, device, paper, mark, label and image configuration files.
// Missing files and keys read as 0 or empty.
void load_emu_config(EscposState& st, const std::string& path);
void load_device_config(EscposState& st, const std::string& home, const std::string& paper_config);
void load_image_config(EscposState& st, const std::string& path);
// Decides continuous paper from the pre- and post-feed and the mark seek mode.
void check_conti_mode(EscposState& st);
// Device distances in dots: x 25.4 x 8 truncated for "inch", x 8 for "mm".
int margin_dots(double value, const std::string& units);
// Mark distances in dots: x 203 for "inch", else x 8.
int mark_dots(double value, const std::string& units);

// Reset procedures.
void init_escpos_setting(EscposState& st);
void init_page_properties(EscposState& st);
void init_line_properties(EscposState& st);
void init_char_properties(EscposState& st);
void init_horizontal_table(EscposState& st);
void init_job_recorder(EscposState& st);
void init_all_buffers(EscposState& st);
// Barcode and 2-D symbol settings and their data.
void init_bar_properties(EscposState& st);
void init_image_properties(EscposState& st);
// Page, line, character, barcode and image resets, in this order.
void init_all_properties(EscposState& st);

// The English settings of a font selection: font A (0), font B (1) or the configured custom
// font (anything else); with configEngFontType 2 font A and B keep the custom family.
CHAR_PROPERTIES english_font(const EscposState& st, int font);
CHAR_PROPERTIES chinese_font(const EscposState& st, int font);

// Copies a text into a fixed character array, cut at its size.
template <size_t N>
void set_text(char (&dst)[N], const std::string& src) {
    size_t n = src.size() < N - 1 ? src.size() : N - 1;
    src.copy(dst, n);
    dst[n] = '\0';
}

}  // namespace escpos

namespace escpos {
// The font name table: each line of `names` (at most 26) gets the next letter from 'A'; the web
// table is rewritten with one "%c=%s" entry per line. Nothing is written when either file
// cannot be read or written.
void load_font_table(const std::string& names, const std::string& web_table);
}  // namespace escpos
