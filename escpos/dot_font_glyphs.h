// Rasterising source fonts into dot glyphs (FreeType, monochrome) for the dot font generator and
// the tests that compare the generated files with their sources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace escpos {

// A cell of dots, row-major, true = ink.
struct CellBitmap {
    int width, height;
    std::vector<uint8_t> dots;
    CellBitmap(int w, int h) : width(w), height(h), dots(size_t(w) * size_t(h), 0) {}
    bool at(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height && dots[size_t(y) * width + x]; }
    void set(int x, int y) {
        if (x >= 0 && y >= 0 && x < width && y < height) dots[size_t(y) * width + x] = 1;
    }
    int ink() const;
    // Column-major, 3 bytes per column of 24 rows, most significant bit at the top.
    std::vector<uint8_t> column_major() const;
};

// How a 12 x 24 cell is stored in the TGS2 font: each column twice (double horizontal
// resolution, 24 columns), and each vertical run of two or more dots one dot shorter at its
// bottom, since the printer sets every dot in the row below a set dot again.
std::vector<uint8_t> tgs2_storage(const CellBitmap& cell);

// The character of a half-width set's code 32..130 (ASCII, the euro sign at 128); 0 = blank.
char32_t half_width_char(int code);

// One character of a single- or multi-byte character set through iconv(3).
class Converter {
public:
    explicit Converter(const char* charset);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    // The one character the bytes stand for, or 0 when they are not exactly one character.
    char32_t decode(const uint8_t* bytes, size_t n);

private:
    void* cd_;
};

class GlyphSources {
public:
    GlyphSources();
    ~GlyphSources();
    GlyphSources(const GlyphSources&) = delete;
    GlyphSources& operator=(const GlyphSources&) = delete;
    // Opens every source font; false (with a message) when a required one is missing.
    bool open();
    // 24 x 24 Chinese cell.
    bool full_width(char32_t ch, CellBitmap& cell);
    // 12 x 24 cell of half-width set 21..25.
    bool half_width(int font_type, char32_t ch, CellBitmap& cell);
    // 12 x 24 cell of a code page glyph.
    bool code_page(char32_t ch, CellBitmap& cell);

private:
    struct Face;
    bool render(const std::vector<Face*>& faces, char32_t ch, CellBitmap& cell);
    void* library_ = nullptr;
    std::vector<Face*> faces_;
    Face *terminus_ = nullptr, *terminus_bold_ = nullptr, *mono_ = nullptr, *unifont_ = nullptr,
         *zenhei_ = nullptr, *uming_ = nullptr, *ocrb_ = nullptr, *ocra_ = nullptr;
};

}  // namespace escpos
