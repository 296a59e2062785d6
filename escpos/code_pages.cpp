#include "code_pages.h"

namespace escpos {

namespace {
struct CodePageEntry {
    int number;
    const char* charset;
};

// Code page number -> character set. ESC t 21 and up select n - 20, so the low numbers follow
// the usual ESC t order shifted by 20; the numbers the fixed ESC t values and the character
// types select (8, 66, 114, ...) are listed with their own sets.
constexpr CodePageEntry code_page_table[] = {
    {1, "TIS-620"},      {2, "TIS-620"},      {3, "TIS-620"},      {4, "TIS-620"},
    {5, "TIS-620"},      {6, "TIS-620"},      {7, "TIS-620"},      {8, "SHIFT_JIS"},  // katakana
    {9, "TIS-620"},      {10, "CP1258"},      {11, "CP1258"},      {12, "ISO-8859-6"},
    {13, "CP775"},       {14, "CP855"},       {15, "CP861"},       {16, "CP862"},
    {17, "CP864"},       {18, "CP869"},       {19, "ISO-8859-2"},  {20, "ISO-8859-15"},
    {21, "CP864"},       {22, "CP775"},       {23, "CP775"},       {24, "CP1125"},
    {25, "CP1250"},      {26, "CP1251"},      {27, "CP1253"},      {28, "CP1254"},
    {29, "CP1255"},      {30, "CP1256"},      {31, "CP1257"},      {32, "CP1258"},
    {33, "RK1048"},      {66, "CP437"},       {114, "CP1252"},     {119, "CP1252"},
    {130, "CP850"},      {132, "CP860"},      {133, "CP863"},      {134, "CP865"},
    {135, "CP852"},      {140, "CP864"},      {142, "CP866"},      {149, "CP864"},
    {152, "CP857"},      {153, "CP737"},      {158, "CP858"},      {166, "ISO-8859-7"},
};
}  // namespace

const char* code_page_charset(int number) {
    for (const auto& e : code_page_table)
        if (e.number == number) return e.charset;
    return "CP437";
}

uint8_t code_page_for_esc_t(uint8_t n) {
    switch (n) {
    case 1: return 8;
    case 2: return 130;
    case 3: return 132;
    case 4: return 133;
    case 5: return 134;
    case 16: return 114;
    case 17: return 142;
    case 18: return 135;
    case 19: return 158;
    default: break;
    }
    if (n >= 21) return uint8_t(n - 20);
    return CODE_PAGE_DEFAULT;
}

// ESC R: 0 USA, 1 France, 2 Germany, 3 UK, 4 Denmark I, 5 Sweden, 6 Italy, 7 Spain I, 8 Japan,
// 9 Norway, 10 Denmark II, 11 Spain II, 12 Latin America, 13 Korea (rows 0 to 13), 15 China
// (row 14, the yen sign); 14, 16 and 17 have no replacements of their own (row 0).
int international_row(uint8_t n) {
    if (n > 17) return -1;
    if (n <= 13) return n;
    if (n == 15) return 14;
    return 0;
}

const uint8_t INTER_Code[INTERNATIONAL_ROWS][12] = {
    {0x23, 0x24, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x60, 0x7b, 0x7c, 0x7d, 0x7e},
    {0x23, 0x24, 0x83, 0x01, 0x85, 0x15, 0x5e, 0x60, 0x81, 0x8f, 0x86, 0x06},
    {0x23, 0x24, 0x15, 0x88, 0x90, 0x91, 0x5e, 0x60, 0x82, 0x8d, 0x80, 0x03},
    {0x93, 0x24, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x60, 0x7b, 0x7c, 0x7d, 0x7e},
    {0x23, 0x24, 0x40, 0x8c, 0x04, 0x89, 0x5e, 0x60, 0x8b, 0x05, 0x84, 0x7e},
    {0x23, 0x02, 0x8a, 0x88, 0x90, 0x89, 0x91, 0x81, 0x82, 0x8d, 0x84, 0x80},
    {0x23, 0x24, 0x40, 0x01, 0x5c, 0x81, 0x5e, 0x8f, 0x83, 0x8e, 0x86, 0x87},
    {0x95, 0x24, 0x40, 0x9d, 0x9b, 0x9c, 0x5e, 0x60, 0x06, 0x9a, 0x7d, 0x7e},
    {0x23, 0x24, 0x40, 0x5b, 0x94, 0x5d, 0x5e, 0x60, 0x7b, 0x7c, 0x7d, 0x7e},
    {0x23, 0x02, 0x8a, 0x8c, 0x04, 0x89, 0x91, 0x81, 0x8b, 0x05, 0x84, 0x80},
    {0x23, 0x24, 0x8a, 0x8c, 0x04, 0x89, 0x91, 0x81, 0x8b, 0x05, 0x84, 0x80},
    {0x23, 0x24, 0x96, 0x9d, 0x9b, 0x9c, 0x81, 0x60, 0x97, 0x9a, 0x98, 0x99},
    {0x23, 0x24, 0x96, 0x9d, 0x9b, 0x9c, 0x81, 0x80, 0x97, 0x9a, 0x98, 0x99},
    {0x23, 0x24, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x60, 0x7b, 0x7c, 0x7d, 0x7e},
    {0x23, 0x94, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x60, 0x7b, 0x7c, 0x7d, 0x7e},
};

namespace {
constexpr auto make_base_glyphs() {
    struct Table {
        char32_t v[256]{};
    } t;
    for (int c = 0x20; c < 0x7f; ++c) t.v[c] = char32_t(c);
    // National glyphs named by the international table.
    t.v[0x01] = U'\u00b0';  // degree
    t.v[0x02] = U'\u00a4';  // currency sign
    t.v[0x03] = U'\u00df';  // sharp s
    t.v[0x04] = U'\u00d8';
    t.v[0x05] = U'\u00f8';
    t.v[0x06] = U'\u00a8';  // diaeresis
    t.v[0x15] = U'\u00a7';  // section sign
    t.v[0x80] = U'\u00fc';
    t.v[0x81] = U'\u00e9';
    t.v[0x82] = U'\u00e4';
    t.v[0x83] = U'\u00e0';
    t.v[0x84] = U'\u00e5';
    t.v[0x85] = U'\u00e7';
    t.v[0x86] = U'\u00e8';
    t.v[0x87] = U'\u00ec';
    t.v[0x88] = U'\u00c4';
    t.v[0x89] = U'\u00c5';
    t.v[0x8a] = U'\u00c9';
    t.v[0x8b] = U'\u00e6';
    t.v[0x8c] = U'\u00c6';
    t.v[0x8d] = U'\u00f6';
    t.v[0x8e] = U'\u00f2';
    t.v[0x8f] = U'\u00f9';
    t.v[0x90] = U'\u00d6';
    t.v[0x91] = U'\u00dc';
    t.v[0x93] = U'\u00a3';  // pound
    t.v[0x94] = U'\u00a5';  // yen
    t.v[0x95] = U'\u20a7';  // peseta
    t.v[0x96] = U'\u00e1';
    t.v[0x97] = U'\u00ed';
    t.v[0x98] = U'\u00f3';
    t.v[0x99] = U'\u00fa';
    t.v[0x9a] = U'\u00f1';
    t.v[0x9b] = U'\u00d1';
    t.v[0x9c] = U'\u00bf';
    t.v[0x9d] = U'\u00a1';
    t.v[0xfa] = U'\u00b7';  // 255 under code page 119 prints as this
    t.v[0xff] = U'\u00a0';  // no-break space (blank)
    return t;
}
constexpr auto base_glyphs = make_base_glyphs();
}  // namespace

char32_t base_glyph_char(int index) { return index >= 0 && index < 256 ? base_glyphs.v[index] : 0; }

}  // namespace escpos
