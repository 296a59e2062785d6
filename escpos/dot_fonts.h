// The two dot font files held in memory and their glyph drivers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace escpos {

// A glyph as the files store it: column-major, (height + 7) / 8 bytes per column, most
// significant bit at the top of each byte.
struct GlyphBitmap {
    int width = 0;   // columns
    int height = 0;  // rows
    uint8_t data[32 * 4]{};
    int bytes_per_column() const { return (height + 7) / 8; }
    bool dot(int col, int row) const {
        if (col < 0 || col >= width || row < 0 || row >= height) return false;
        return data[col * bytes_per_column() + row / 8] & (0x80 >> (row % 8));
    }
};

class DotFonts {
public:
    // Loads both files whole. A missing GB18030 file stops loading (the second is not read);
    // missing files leave blank glyphs. Files larger than their limits are not loaded.
    void load(const std::string& gb_path, const std::string& tgs2_path);
    bool gb_loaded() const { return !gb_.empty(); }
    bool tgs2_loaded() const { return !tgs2_.empty(); }

    // GB18030 driver: font type 20 with a two-byte code (24 x 24) or a half-width set 21 to 25
    // (12 x 24; a one-byte code under type 20 uses set 22).
    bool gb_glyph(int font_type, int code, bool two_byte, GlyphBitmap& g) const;
    // TGS2 driver: glyph of `code` in font `font_no` under code page `char_grp` and the
    // international/flag bits `char_set` (0x40: the code is the glyph index; bits 2..5: row of
    // the international table).
    bool tgs2_glyph(int font_no, int code, int char_grp, int char_set, GlyphBitmap& g) const;
    // The TGS2 glyph index a code maps to (no range check against the character table).
    int tgs2_glyph_index(int font_no, int code, int char_grp, int char_set) const;

private:
    bool tgs2_entry(int font_no, const uint8_t*& entry) const;
    bool tgs2_glyph_by_index(int font_no, int index, GlyphBitmap& g) const;

    std::vector<uint8_t> gb_, tgs2_;
};

// Fonts are read once per process and shared read-only by every interpreter state.
std::shared_ptr<const DotFonts> load_dot_fonts(const std::string& gb_path, const std::string& tgs2_path);

}  // namespace escpos
