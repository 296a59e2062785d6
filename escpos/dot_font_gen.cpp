// Build-time generator of the two dot font files from fonts that Debian packages.
//
//   dot_font_gen OUT_DIR
// writes OUT_DIR/QXCHFontv200.bin (GB18030 24 x 24 and the 12 x 24 half-width sets) and
// OUT_DIR/TD24CG2.0.bin (the alphanumeric TGS2 font with a national table for every code page
// number). Glyphs are rasterised with FreeType; code points come from iconv(3).
//
// Sources (first one that has the character wins):
//   24 x 24 Chinese:      WenQuanYi Zen Hei, AR PL UMing, Unifont
//   12 x 24 shape 0:      Terminus Bold (its 12 x 24 strike), then DejaVu Sans Mono, Unifont
//   12 x 24 shape 1:      Terminus, then DejaVu Sans Mono, Unifont
//   12 x 24 shape 2:      DejaVu Sans Mono, Unifont
//   digits, bank shape:   OCR-B;  digits, OCR shape: OCR-A
//   code page glyphs:     as shape 0, then WenQuanYi Zen Hei
// Ink is centred across the cell; the baseline sits where the ascent and descent are centred.
#include "code_pages.h"
#include "dot_font_glyphs.h"
#include "dot_font_layout.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace escpos;

namespace {

void put_glyph(std::vector<uint8_t>& file, uint32_t at, const CellBitmap& cell) {
    std::vector<uint8_t> cols = cell.column_major();
    if (at + cols.size() > file.size()) file.resize(at + cols.size());
    std::memcpy(file.data() + at, cols.data(), cols.size());
}

bool write_file(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::perror(path.c_str());
    return ok;
}

std::vector<uint8_t> make_gb_file(GlyphSources& src, int& missing) {
    std::vector<uint8_t> file(0x19FE10, 0);
    const char name[] = "QX GB18030";
    std::memcpy(file.data(), name, sizeof name);
    for (const auto& h : HALF_SETS)
        for (int code = h.first; code <= h.last; ++code) {
            char32_t ch = half_width_char(code);
            if (!ch) continue;
            CellBitmap cell(12, 24);
            if (src.half_width(h.font_type, ch, cell))
                put_glyph(file, h.base + uint32_t(code - h.first) * HALF_GLYPH_BYTES, cell);
        }
    Converter gb("GB18030");
    for (const auto& r : GB_RANGES)
        for (int b0 = r.first >> 8; b0 <= (r.last >> 8); ++b0)
            for (int b1 = r.first & 0xff; b1 <= (r.last & 0xff); ++b1) {
                int code = (b0 << 8) | b1;
                int index = gb_range_index(r, code);
                if (index < 0) continue;
                const uint8_t bytes[2] = {uint8_t(b0), uint8_t(b1)};
                char32_t ch = gb.decode(bytes, 2);
                if (!ch || (ch >= 0xE000 && ch <= 0xF8FF)) continue;  // unassigned (private use)
                CellBitmap cell(24, 24);
                if (src.full_width(ch, cell))
                    put_glyph(file, r.base + uint32_t(index) * GB_GLYPH_BYTES, cell);
                else
                    ++missing;
            }
    return file;
}

// TGS2: header, 24 font entries (all the same 24-row font), the character table, the glyph
// images, then the national tables.
std::vector<uint8_t> make_tgs2_file(GlyphSources& src, int& missing) {
    // Glyph indices 0..255: the base set; then every other character a code page needs.
    std::vector<char32_t> glyph_chars;
    std::map<char32_t, int> index_of;
    for (int i = 0; i < 256; ++i) {
        char32_t ch = base_glyph_char(i);
        glyph_chars.push_back(ch);
        if (ch && !index_of.count(ch)) index_of[ch] = i;
    }
    struct Group {
        int number;
        uint16_t glyph[128];
    };
    std::vector<Group> groups;
    for (int number = CODE_PAGE_FIRST; number <= CODE_PAGE_LAST; ++number) {
        Converter conv(code_page_charset(number));
        Group g{number, {}};
        for (int b = 0x80; b <= 0xff; ++b) {
            const uint8_t byte = uint8_t(b);
            char32_t ch = conv.decode(&byte, 1);
            int index = 0x20;  // nothing: a blank cell
            if (ch && ch >= 0x20 && !(ch >= 0x7f && ch < 0xa0)) {
                auto it = index_of.find(ch);
                if (it == index_of.end()) {
                    index = int(glyph_chars.size());
                    glyph_chars.push_back(ch);
                    index_of[ch] = index;
                } else {
                    index = it->second;
                }
            }
            g.glyph[b - 0x80] = uint16_t(index);
        }
        groups.push_back(g);
    }

    const int fonts = TGS2_CODE_PAGE_FONT + 1;
    const uint32_t table_at = 0x200;
    const uint32_t images_at = table_at + 2 + uint32_t(glyph_chars.size()) * 4;
    const int image_size = TGS2_GLYPH_HEADER + 24 * 3;
    std::vector<uint8_t> file(images_at + glyph_chars.size() * size_t(image_size), 0);

    const char gen_id[] = "QX FONT";
    std::memcpy(file.data(), gen_id, sizeof gen_id);
    file[16] = 'T';
    file[17] = '2';
    file[TGS2_NUMFNTS_AT] = uint8_t(fonts);

    file[table_at] = uint8_t(glyph_chars.size() & 0xff);
    file[table_at + 1] = uint8_t(glyph_chars.size() >> 8);
    for (size_t i = 0; i < glyph_chars.size(); ++i) {
        uint32_t image = images_at + uint32_t(i) * uint32_t(image_size);
        uint8_t* rec = file.data() + table_at + 2 + i * 4;
        rec[0] = uint8_t(((image >> 16) & 0x0f) << 4);  // storage format 0
        rec[1] = uint8_t(image & 0xff);
        rec[2] = uint8_t((image >> 8) & 0xff);
        rec[3] = 24;
        uint8_t* img = file.data() + image;
        img[0] = 0;
        img[1] = 24;  // columns at double horizontal resolution
        img[2] = 0;
        CellBitmap cell(12, 24);
        if (glyph_chars[i] && glyph_chars[i] != U' ' && glyph_chars[i] != U'\u00a0') {
            if (!src.code_page(glyph_chars[i], cell)) ++missing;
        }
        std::vector<uint8_t> cols = tgs2_storage(cell);
        std::memcpy(img + TGS2_GLYPH_HEADER, cols.data(), cols.size());
    }

    const uint32_t national_at = uint32_t(file.size());
    file.push_back(uint8_t(groups.size()));
    for (const auto& g : groups) {
        file.push_back(uint8_t(g.number));
        file.push_back(0);
        file.push_back(0);
        file.push_back(128);
        for (int i = 0; i < 128; ++i) {
            file.push_back(uint8_t(0x80 + i));
            file.push_back(uint8_t(g.glyph[i] & 0xff));
            file.push_back(uint8_t(g.glyph[i] >> 8));
        }
        file.push_back(0);  // no text
    }
    for (int f = 0; f < fonts; ++f) {
        uint8_t* e = file.data() + TGS2_HEADER_SIZE + size_t(f) * TGS2_FONT_ENTRY_SIZE;
        e[TGS2_HMATRIX] = 24;
        e[TGS2_VMATRIX] = 24;
        e[TGS2_SEGFNT] = uint8_t(((table_at >> 16) & 0x0f) << 4);
        e[TGS2_LOFNT] = uint8_t(table_at & 0xff);
        e[TGS2_HIFNT] = uint8_t((table_at >> 8) & 0xff);
        e[TGS2_SEGEXCHG] = uint8_t(((national_at >> 16) & 0x0f) << 4);
        e[TGS2_LOEXCHG] = uint8_t(national_at & 0xff);
        e[TGS2_HIEXCHG] = uint8_t((national_at >> 8) & 0xff);
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dot_font_gen OUT_DIR\n");
        return 2;
    }
    std::string out = argv[1];
    GlyphSources src;
    if (!src.open()) return 1;
    int missing_gb = 0, missing_tgs2 = 0;
    std::vector<uint8_t> gb = make_gb_file(src, missing_gb);
    std::vector<uint8_t> tgs2 = make_tgs2_file(src, missing_tgs2);
    if (gb.size() > GB_FONT_MAX || tgs2.size() > TGS2_FONT_MAX) {
        std::fprintf(stderr, "dot_font_gen: a font file outgrew its limit\n");
        return 1;
    }
    if (!write_file(out + "/QXCHFontv200.bin", gb) || !write_file(out + "/TD24CG2.0.bin", tgs2)) return 1;
    std::printf("dot fonts: %zu + %zu bytes; %d Chinese and %d code page characters without a source glyph\n",
                gb.size(), tgs2.size(), missing_gb, missing_tgs2);
    return 0;
}
