// Layouts of the two dot font files, shared by their drivers (dot_fonts.cpp) and the build-time
// generator (dot_font_gen.cpp).
//
// "/home/QXCHFontv200.bin": GB18030 24 x 24 glyphs in five code ranges and five sets of 12 x 24
// half-width glyphs, each glyph column-major, 3 bytes per column (24 rows, most significant bit
// at the top).
// "/home/TD24CG2.0.bin": the alphanumeric font in the TGS2 table format: a header, font entries,
// a character table of glyph images and a national table per code page (see TGS2_* below).
#pragma once

#include <cstddef>
#include <cstdint>

namespace escpos {

inline constexpr const char* GB_FONT_PATH = "/home/QXCHFontv200.bin";
inline constexpr const char* TGS2_FONT_PATH = "/home/TD24CG2.0.bin";
inline constexpr size_t GB_FONT_MAX = 2097152;
inline constexpr size_t TGS2_FONT_MAX = 1048576;

// ---- GB18030 file -----------------------------------------------------------------------------
struct GbRange {
    uint32_t base;  // file offset of the range's first glyph
    uint16_t first, last;
};
// Tried in this order.
inline constexpr GbRange GB_RANGES[] = {
    {0x1c5a0, 0xA1A1, 0xA9FE},
    {0x2b390, 0xB0A1, 0xF7FE},
    {0xa2310, 0x8140, 0xA0FE},
    {0x110710, 0xAA40, 0xFEA0},
    {0x10d110, 0xA840, 0xA9A0},
};
inline constexpr int GB_GLYPH_BYTES = 72;    // 24 columns x 3 bytes
inline constexpr int HALF_GLYPH_BYTES = 36;  // 12 columns x 3 bytes

// Font types of the half-width sets.
enum : int {
    FONT_CHN_24 = 20,
    ENG_ACTHF = 21,    // English shape 0
    ENG_ST = 22,       // English shape 1
    ENG_DX = 23,       // English shape 2
    NUMBER_BANK = 24,  // digits
    NUMBER_OKI = 25,   // digits
};
struct HalfSet {
    int font_type;
    uint32_t base;
    int first, last;
};
inline constexpr HalfSet HALF_SETS[] = {
    {ENG_ACTHF, 104710, 32, 130}, {ENG_ST, 108274, 32, 130}, {ENG_DX, 111838, 32, 130},
    {NUMBER_BANK, 115402, 48, 57}, {NUMBER_OKI, 115762, 48, 57},
};

// Index of a two-byte code inside a range, or -1 when the code is not in it.
inline int gb_range_index(const GbRange& r, int code) {
    int b0 = (code >> 8) & 0xff, b1 = code & 0xff;
    int f0 = r.first >> 8, f1 = r.first & 0xff, l0 = r.last >> 8, l1 = r.last & 0xff;
    if (b0 < f0 || b0 > l0 || b1 < f1 || b1 > l1 || b1 == 0x7f) return -1;
    bool skips_7f = f1 < 0x80 && l1 >= 0x7f;
    int row = l1 - f1 + 1 - (skips_7f ? 1 : 0);
    int col = b1 - f1 - (f1 < 0x80 && b1 > 0x7f ? 1 : 0);
    return (b0 - f0) * row + col;
}

// ---- TGS2 file ----------------------------------------------------------------------------------
// 20-bit addresses are stored as seg (bits 16..19 in its high nibble), hi, lo.
inline uint32_t tgs2_address(uint8_t seg, uint8_t hi, uint8_t lo) {
    return (uint32_t(seg >> 4) << 16) | (uint32_t(hi) << 8) | lo;
}
inline constexpr size_t TGS2_HEADER_SIZE = 36;  // genID 16, magic 2, LCP 3, reserved 11, text 3, numFnts
inline constexpr size_t TGS2_NUMFNTS_AT = 35;
inline constexpr size_t TGS2_FONT_ENTRY_SIZE = 10;
// Font entry fields (offsets inside the 10 bytes).
enum : int {
    TGS2_HMATRIX = 0,
    TGS2_VMATRIX = 1,
    TGS2_SEGFNT = 2,
    TGS2_LOFNT = 3,
    TGS2_HIFNT = 4,
    TGS2_SEGEXCHG = 5,
    TGS2_LOEXCHG = 6,
    TGS2_HIEXCHG = 7,
};
// Font number of the code page glyphs (the English path's font type for bytes 0x80 and up).
inline constexpr int TGS2_CODE_PAGE_FONT = 23;
inline constexpr int TGS2_GLYPH_HEADER = 3;  // lW, mW (width in columns), rW

}  // namespace escpos
