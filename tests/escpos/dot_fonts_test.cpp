// The generated dot font files read back through the interpreter's font drivers, compared with
// the fonts they were made from.
#include "escpos_test_support.h"

#include "dot_font_glyphs.h"
#include "dot_font_layout.h"
#include "escpos_glyph.h"
#include "escpos_settings.h"
#include "escpos_setup.h"

using namespace escpos;

namespace {
GlyphSources& sources() {
    static GlyphSources src;
    static bool opened = src.open();
    EXPECT_TRUE(opened);
    return src;
}

// The glyph as the file stores it, as a cell.
CellBitmap cell_of(const GlyphBitmap& g) {
    CellBitmap c(g.width, g.height);
    for (int x = 0; x < g.width; ++x)
        for (int y = 0; y < g.height; ++y)
            if (g.dot(x, y)) c.set(x, y);
    return c;
}

// Printed TGS2 glyphs are their source with every dot set again in the row below it: each
// source dot is printed, and each extra dot lies right under a source dot.
void expect_printed_from(const ComposedGlyph& printed, const CellBitmap& source, const std::string& what) {
    int missing = 0, stray = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 12; ++x) {
            bool p = printed.dot(x, y), s = source.at(x, y);
            if (s && !p) ++missing;
            if (p && !s && !source.at(x, y - 1)) ++stray;
        }
    EXPECT_EQ(missing, 0) << what;
    EXPECT_EQ(stray, 0) << what;
    EXPECT_GT(source.ink(), 0) << what;
}
}  // namespace

TEST(DotFontFiles, ChineseGlyphsMatchTheSourceFont) {
    auto fonts = test_dot_fonts();
    ASSERT_TRUE(fonts->gb_loaded());
    Converter gb("GB18030");
    const int codes[] = {0xD6D0, 0xB9FA, 0xCEC4, 0xA3C1, 0xA4A2, 0x8140, 0xAA40, 0xFE4F, 0xA880};
    std::vector<uint8_t> previous;
    for (int code : codes) {
        GlyphBitmap g;
        ASSERT_TRUE(fonts->gb_glyph(FONT_CHN_24, code, true, g)) << std::hex << code;
        EXPECT_EQ(g.width, 24);
        const uint8_t b[2] = {uint8_t(code >> 8), uint8_t(code)};
        char32_t ch = gb.decode(b, 2);
        ASSERT_NE(ch, 0u) << std::hex << code;
        CellBitmap source(24, 24);
        ASSERT_TRUE(sources().full_width(ch, source));
        CellBitmap read = cell_of(g);
        EXPECT_EQ(read.dots, source.dots) << std::hex << code;
        EXPECT_NE(read.dots, previous) << std::hex << code;
        previous = read.dots;
    }
    // Codes outside the five ranges have no glyph.
    GlyphBitmap g;
    EXPECT_FALSE(fonts->gb_glyph(FONT_CHN_24, 0xAAA1, true, g));
    EXPECT_FALSE(fonts->gb_glyph(FONT_CHN_24, 0xB07F, true, g));
}

TEST(DotFontFiles, HalfWidthSetsMatchTheSourceFonts) {
    auto fonts = test_dot_fonts();
    for (const auto& set : HALF_SETS)
        for (int code : {'0', '5', 'A', 'g', '@', '~'}) {
            if (code < set.first || code > set.last) continue;
            GlyphBitmap g;
            ASSERT_TRUE(fonts->gb_glyph(set.font_type, code, false, g)) << set.font_type << " " << code;
            EXPECT_EQ(g.width, 12);
            CellBitmap source(12, 24);
            ASSERT_TRUE(sources().half_width(set.font_type, char32_t(code), source));
            EXPECT_EQ(cell_of(g).dots, source.dots) << set.font_type << " " << char(code);
        }
    // The shapes differ from each other.
    GlyphBitmap a, b;
    ASSERT_TRUE(fonts->gb_glyph(ENG_ACTHF, '5', false, a));
    ASSERT_TRUE(fonts->gb_glyph(NUMBER_OKI, '5', false, b));
    EXPECT_NE(cell_of(a).dots, cell_of(b).dots);
}

TEST(DotFontFiles, CodePageGlyphsPrintTheirCharacters) {
    auto st = make_state(test_dot_fonts());
    struct Case {
        int code_page, byte;
        char32_t ch;
    };
    const Case cases[] = {
        {66, 0x82, U'\u00e9'},  {66, 0x9c, U'\u00a3'},  {130, 0xa4, U'\u00f1'}, {142, 0x80, U'\u0410'},
        {114, 0x80, U'\u20ac'}, {114, 0xe9, U'\u00e9'}, {8, 0xb1, U'\uff71'},   {25, 0x8a, U'\u0160'},
        {27, 0xe1, U'\u03b1'},  {66, 0xdb, U'\u2588'},
    };
    for (const Case& c : cases) {
        CHAR_PROPERTIES ch = eng_font_a_defaults();
        ch.code[0] = uint8_t(c.byte);
        ch.cFont.fontID = 0;
        ch.cFont.fontType = TGS2_CODE_PAGE_FONT;
        ch.cFont.charGrp = uint8_t(c.code_page);
        ComposedGlyph printed;
        std::string what = "code page " + std::to_string(c.code_page) + " byte " + std::to_string(c.byte);
        ASSERT_TRUE(compose_dot_glyph(*st, ch, printed)) << what;
        CellBitmap source(12, 24);
        ASSERT_TRUE(sources().code_page(c.ch, source)) << what;
        expect_printed_from(printed, source, what);
    }
}

TEST(DotFontFiles, InternationalSetsReplaceTheirCodes) {
    auto st = make_state(test_dot_fonts());
    struct Case {
        int row;
        uint8_t code;
        char32_t ch;
    };
    const Case cases[] = {{2, '@', U'\u00a7'}, {2, '[', U'\u00c4'}, {3, '#', U'\u00a3'}, {8, '\\', U'\u00a5'},
                          {7, '|', U'\u00f1'}, {0, '@', U'@'}};
    for (const Case& c : cases) {
        CHAR_PROPERTIES ch = eng_font_a_defaults();
        ch.code[0] = c.code;
        ch.cFont.fontID = 0;
        ch.cFont.fontType = TGS2_CODE_PAGE_FONT;
        ch.cFont.charSet = uint8_t(c.row << 2);
        ComposedGlyph printed;
        ASSERT_TRUE(compose_dot_glyph(*st, ch, printed));
        CellBitmap source(12, 24);
        ASSERT_TRUE(sources().code_page(c.ch, source));
        expect_printed_from(printed, source, "row " + std::to_string(c.row) + " " + char(c.code));
    }
}

TEST_F(EscposTest, EscRPrintsTheNationalCharacter) {
    run("@\n");
    DotImage usa = images[0].image;
    fresh();
    run(esc("R\x02") + "@\n");
    DotImage germany = images[0].image;
    EXPECT_NE(usa.raster, germany.raster);
    // Letters are not replaced.
    fresh();
    run("A\n");
    DotImage a = images[0].image;
    fresh();
    run(esc("R\x02") + "A\n");
    EXPECT_EQ(a.raster, images[0].image.raster);
}

TEST(DotFontFiles, MissingFilesGiveBlankGlyphs) {
    DotFonts fonts;
    fonts.load("/nonexistent/QXCHFontv200.bin", std::string(ESCPOS_DOT_FONT_DIR) + "/TD24CG2.0.bin");
    EXPECT_FALSE(fonts.gb_loaded());
    EXPECT_FALSE(fonts.tgs2_loaded());  // not read when the first file is missing
    GlyphBitmap g;
    EXPECT_FALSE(fonts.gb_glyph(FONT_CHN_24, 0xD6D0, true, g));
    EXPECT_FALSE(fonts.tgs2_glyph(TGS2_CODE_PAGE_FONT, 0x82, 66, 0, g));
}

TEST(DotFontFiles, TruncatedFilesAreReadSafely) {
    TempDir dir;
    std::string gb = read_text_file(std::string(ESCPOS_DOT_FONT_DIR) + "/QXCHFontv200.bin");
    std::string tgs2 = read_text_file(std::string(ESCPOS_DOT_FONT_DIR) + "/TD24CG2.0.bin");
    write_text_file(dir.path + "/gb.bin", gb.substr(0, 120000));
    write_text_file(dir.path + "/tgs2.bin", tgs2.substr(0, 700));
    DotFonts fonts;
    fonts.load(dir.path + "/gb.bin", dir.path + "/tgs2.bin");
    GlyphBitmap g;
    EXPECT_TRUE(fonts.gb_glyph(ENG_ACTHF, 'A', false, g));
    EXPECT_FALSE(fonts.gb_glyph(FONT_CHN_24, 0xD6D0, true, g));
    for (int code = 0x80; code < 0x100; ++code) fonts.tgs2_glyph(TGS2_CODE_PAGE_FONT, code, 66, 0, g);
    SUCCEED();
}
