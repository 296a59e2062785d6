#include "dot_font_glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iconv.h>

namespace escpos {

int CellBitmap::ink() const {
    int n = 0;
    for (uint8_t d : dots) n += d;
    return n;
}

std::vector<uint8_t> CellBitmap::column_major() const {
    int per_col = (height + 7) / 8;
    std::vector<uint8_t> out(size_t(width) * per_col, 0);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            if (at(x, y)) out[size_t(x) * per_col + y / 8] |= uint8_t(0x80 >> (y % 8));
    return out;
}

std::vector<uint8_t> tgs2_storage(const CellBitmap& cell) {
    CellBitmap stored(cell.width * 2, cell.height);
    for (int x = 0; x < cell.width; ++x)
        for (int y = 0; y < cell.height; ++y) {
            if (!cell.at(x, y)) continue;
            bool run_end = y > 0 && cell.at(x, y - 1) && !cell.at(x, y + 1);
            if (run_end) continue;
            stored.set(2 * x, y);
            stored.set(2 * x + 1, y);
        }
    return stored.column_major();
}

char32_t half_width_char(int code) {
    if (code >= 0x21 && code <= 0x7e) return char32_t(code);
    if (code == 128) return U'\u20ac';
    return 0;
}

Converter::Converter(const char* charset) : cd_(iconv_open("UTF-32LE", charset)) {
    if (cd_ == reinterpret_cast<void*>(-1)) std::fprintf(stderr, "iconv: no character set %s\n", charset);
}

Converter::~Converter() {
    if (cd_ != reinterpret_cast<void*>(-1)) iconv_close(static_cast<iconv_t>(cd_));
}

char32_t Converter::decode(const uint8_t* bytes, size_t n) {
    if (cd_ == reinterpret_cast<void*>(-1)) return 0;
    iconv_t cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[8];
    std::copy(bytes, bytes + std::min(n, sizeof in), in);
    char out[16];
    char* src = in;
    char* dst = out;
    size_t left = std::min(n, sizeof in), room = sizeof out;
    if (iconv(cd, &src, &left, &dst, &room) == size_t(-1) || left != 0) return 0;
    char* flush_dst = dst;
    iconv(cd, nullptr, nullptr, &flush_dst, &room);
    if (flush_dst - out != 4) return 0;
    const auto* u = reinterpret_cast<const uint8_t*>(out);
    return char32_t(u[0] | (u[1] << 8) | (u[2] << 16) | (u[3] << 24));
}

struct GlyphSources::Face {
    FT_Face face = nullptr;
    int pixels = 0;        // outline fonts: pixel size; bitmap fonts: 0
    bool strike = false;   // a bitmap strike of the cell size was selected
};

GlyphSources::GlyphSources() {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) == 0) library_ = lib;
}

GlyphSources::~GlyphSources() {
    for (Face* f : faces_) {
        if (f->face) FT_Done_Face(f->face);
        delete f;
    }
    if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

namespace {
const char* const FONT_DIR = "/usr/share/fonts";
}

bool GlyphSources::open() {
    if (!library_) {
        std::fprintf(stderr, "dot_font_gen: FreeType does not start\n");
        return false;
    }
    auto load = [&](const char* rel, int pixels, int strike_w, int strike_h, bool required) -> Face* {
        std::string path = std::string(FONT_DIR) + "/" + rel;
        auto* f = new Face;
        faces_.push_back(f);
        if (FT_New_Face(static_cast<FT_Library>(library_), path.c_str(), 0, &f->face) != 0) {
            f->face = nullptr;
            std::fprintf(stderr, "dot_font_gen: cannot open %s%s\n", path.c_str(), required ? "" : " (skipped)");
            return required ? nullptr : f;
        }
        if (strike_h) {
            for (int i = 0; i < f->face->num_fixed_sizes; ++i)
                if (f->face->available_sizes[i].height == strike_h && f->face->available_sizes[i].width == strike_w &&
                    FT_Select_Size(f->face, i) == 0) {
                    f->strike = true;
                    break;
                }
            if (!f->strike) {
                std::fprintf(stderr, "dot_font_gen: %s has no %dx%d strike\n", path.c_str(), strike_w, strike_h);
                return nullptr;
            }
        } else {
            f->pixels = pixels;
            FT_Set_Pixel_Sizes(f->face, 0, FT_UInt(pixels));
        }
        return f;
    };
    terminus_ = load("opentype/terminus/terminus-normal.otb", 0, 12, 24, true);
    terminus_bold_ = load("opentype/terminus/terminus-bold.otb", 0, 12, 24, true);
    mono_ = load("truetype/dejavu/DejaVuSansMono.ttf", 20, 0, 0, true);
    unifont_ = load("opentype/unifont/unifont.otf", 24, 0, 0, true);
    zenhei_ = load("truetype/wqy/wqy-zenhei.ttc", 24, 0, 0, true);
    uming_ = load("truetype/arphic/uming.ttc", 24, 0, 0, false);
    ocrb_ = load("opentype/ocr-b/OCRB.otf", 20, 0, 0, true);
    ocra_ = load("truetype/ocr-a/OCRA.ttf", 20, 0, 0, true);
    return terminus_ && terminus_bold_ && mono_ && unifont_ && zenhei_ && ocrb_ && ocra_;
}

// The first face that has the character draws it into the cell: centred across, its baseline
// where the face's ascent and descent are centred in the cell's height.
bool GlyphSources::render(const std::vector<Face*>& faces, char32_t ch, CellBitmap& cell) {
    for (Face* f : faces) {
        if (!f || !f->face) continue;
        FT_UInt index = FT_Get_Char_Index(f->face, ch);
        if (index == 0) continue;
        if (f->pixels) FT_Set_Pixel_Sizes(f->face, 0, FT_UInt(f->pixels));
        FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME;
        if (FT_Load_Glyph(f->face, index, flags) != 0) continue;
        FT_GlyphSlot slot = f->face->glyph;
        if (slot->bitmap.pixel_mode != FT_PIXEL_MODE_MONO) continue;
        double asc = double(f->face->size->metrics.ascender) / 64.0;
        double desc = double(-f->face->size->metrics.descender) / 64.0;
        int baseline = f->strike ? int(std::lround(asc)) : int(std::lround((cell.height - (asc + desc)) / 2.0 + asc));
        int advance = int(slot->advance.x >> 6);
        int left = (cell.width - advance) / 2 + slot->bitmap_left;
        // A glyph wider than the cell is centred on its ink instead.
        if (int(slot->bitmap.width) > cell.width || left < 0 || left + int(slot->bitmap.width) > cell.width)
            left = (cell.width - int(slot->bitmap.width)) / 2;
        int top = baseline - slot->bitmap_top;
        if (top < 0) top = 0;
        if (top + int(slot->bitmap.rows) > cell.height) top = std::max(0, cell.height - int(slot->bitmap.rows));
        for (unsigned r = 0; r < slot->bitmap.rows; ++r) {
            const uint8_t* row = slot->bitmap.buffer + long(r) * slot->bitmap.pitch;
            for (unsigned c = 0; c < slot->bitmap.width; ++c)
                if (row[c / 8] & (0x80 >> (c % 8))) cell.set(left + int(c), top + int(r));
        }
        return true;
    }
    return false;
}

bool GlyphSources::full_width(char32_t ch, CellBitmap& cell) { return render({zenhei_, uming_, unifont_}, ch, cell); }

bool GlyphSources::half_width(int font_type, char32_t ch, CellBitmap& cell) {
    switch (font_type) {
    case 22: return render({terminus_, mono_, unifont_}, ch, cell);
    case 23: return render({mono_, unifont_}, ch, cell);
    case 24: return render({ocrb_, mono_}, ch, cell);
    case 25: return render({ocra_, mono_}, ch, cell);
    default: return render({terminus_bold_, mono_, unifont_}, ch, cell);
    }
}

bool GlyphSources::code_page(char32_t ch, CellBitmap& cell) {
    return render({terminus_bold_, mono_, unifont_, zenhei_}, ch, cell);
}

}  // namespace escpos
