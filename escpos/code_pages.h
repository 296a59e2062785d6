// Character tables of the receipt printer: which real character set each code page number stands
// for, how ESC t and ESC R numbers select them, and the international replacement table.
//
// The one place that says which character set a code page number means. The font generator
// fills the national tables of the alphanumeric font from it (through iconv), the interpreter
// selects code pages by it.
#pragma once

#include <cstdint>

namespace escpos {

// Code page numbers (`charGrp`) that matter to the interpreter itself.
inline constexpr uint8_t CODE_PAGE_DEFAULT = 66;   // after a reset with character type 0
inline constexpr uint8_t CODE_PAGE_TYPE2 = 140;    // character type 2
inline constexpr uint8_t CODE_PAGE_TYPE3 = 149;    // character type 3
inline constexpr int CODE_PAGE_FIRST = 1;
inline constexpr int CODE_PAGE_LAST = 235;

// The iconv name of the character set that code page `number` stands for (1 .. 235); numbers
// without an entry of their own stand for CP437.
const char* code_page_charset(int number);

// ESC t n: the code page number it selects.
uint8_t code_page_for_esc_t(uint8_t n);

// ESC R n: the row of the international table, or -1 when n selects nothing (n above 17).
int international_row(uint8_t n);

// The international table: row 0 lists the twelve codes that a national set replaces
// (# $ @ [ \ ] ^ ` { | } ~); rows 1 to 14 the glyph codes that stand in for them.
inline constexpr int INTERNATIONAL_ROWS = 15;
extern const uint8_t INTER_Code[INTERNATIONAL_ROWS][12];

// The characters of the alphanumeric font's first 256 glyphs: ASCII at its own codes, the
// national glyphs of the international table in the control and upper ranges. 0 = no glyph.
char32_t base_glyph_char(int index);

}  // namespace escpos
