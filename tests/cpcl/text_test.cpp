// Text: rotations, the font map, magnification, justification, underline, spacing, bold, GB18030
// text and concatenation, read back by tesseract or measured in dots.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

using Text = CpclTest;

namespace {
int ink_dots(const DotImage& img) {
    int n = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) n += img.dot(x, y);
    return n;
}
}  // namespace

// Each rotation turns the text about its origin: T runs right below it, T90 up on its right,
// T180 left above it, T270 down on its left.
TEST_F(Text, RotationsLandInTheirQuadrants) {
    struct Case {
        std::string command;
        bool right, below;
        int turns_back;  // clockwise quarter turns that make it upright
    };
    const Case cases[] = {
        {"TEXT", true, true, 0}, {"TEXT90", true, false, 1}, {"VT", true, false, 1},
        {"TEXT180", false, false, 2}, {"TEXT270", false, true, 3}, {"T270", false, true, 3},
    };
    DotImage flat = label(one_label({"TEXT 4 0 864 400 ROTATE"}, 800));
    InkBox fb = flat.ink();
    for (const Case& c : cases) {
        DotImage img = label(one_label({c.command + " 4 0 864 400 ROTATE"}, 800));
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << c.command;
        if (c.right) EXPECT_GE(b.left, 864) << c.command;
        else EXPECT_LE(b.right, 864) << c.command;
        if (c.below) EXPECT_GE(b.top, 400) << c.command;
        else EXPECT_LE(b.bottom, 400) << c.command;
        bool across = c.turns_back % 2 == 1;
        EXPECT_NEAR(across ? b.height() : b.width(), fb.width(), 2) << c.command;
        EXPECT_NEAR(across ? b.width() : b.height(), fb.height(), 2) << c.command;
        EXPECT_EQ(ocr_turned(img, dir.path, grown(b, 2), c.turns_back, 2), "ROTATE") << c.command;
    }
}

TEST_F(Text, TesseractReadsTheFonts) {
    struct Case {
        int font, size;
        std::string text;
    };
    const Case cases[] = {{0, 2, "FONT ZERO 0123"}, {0, 4, "Font zero large"}, {4, 0, "FONT FOUR 4567"},
                          {5, 1, "Font five 89"},    {7, 0, "FONT SEVEN 7"},     {7, 1, "Seven large"}};
    for (const Case& c : cases) {
        DotImage img = label(one_label({"TEXT " + std::to_string(c.font) + " " + std::to_string(c.size) +
                                        " 40 30 " + c.text}, 200));
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << c.text;
        EXPECT_NEAR(b.left, 40, 6) << c.text;
        EXPECT_NEAR(b.top, 30, 16) << c.text;
        EXPECT_EQ(ocr_line(img, dir.path, grown(b, 2), c.size == 0 && c.font == 7 ? 3 : 2), c.text)
            << c.font << " " << c.size;
    }
}

TEST_F(Text, FontMapClamps) {
    // font 3 has no entry: font 7 size 0; sizes beyond the map: the largest
    auto dots = [&](const std::string& line) { return label(one_label({line}, 300)).raster; };
    EXPECT_EQ(dots("TEXT 3 0 20 20 CLAMP"), dots("TEXT 7 0 20 20 CLAMP"));
    EXPECT_EQ(dots("TEXT 9 5 20 20 CLAMP"), dots("TEXT 7 0 20 20 CLAMP"));
    EXPECT_EQ(dots("TEXT 0 9 20 20 CLAMP"), dots("TEXT 0 6 20 20 CLAMP"));
    EXPECT_EQ(dots("TEXT 1 3 20 20 CLAMP"), dots("TEXT 1 0 20 20 CLAMP"));
    EXPECT_EQ(dots("TEXT 5 7 20 20 CLAMP"), dots("TEXT 5 3 20 20 CLAMP"));
    int font = 3, size = 4;
    cpcl::clamp_font(font, size);
    EXPECT_EQ(font, 7);
    EXPECT_EQ(size, 0);
    font = 4, size = 12;
    cpcl::clamp_font(font, size);
    EXPECT_EQ(size, 7);
    EXPECT_EQ(cpcl::font_entry(*s, 4, 0).family, "Liberation Sans");
    EXPECT_EQ(cpcl::font_entry(*s, 4, 0).weight, 700);
}

TEST_F(Text, SetmagStretchesTheInk) {
    InkBox one = label(one_label({"TEXT 4 0 40 30 MAG"}, 300)).ink();
    InkBox two = label(one_label({"SETMAG 2 2", "TEXT 4 0 40 30 MAG"}, 300)).ink();
    EXPECT_NEAR(two.width(), 2 * one.width(), 4);
    EXPECT_NEAR(two.height(), 2 * one.height(), 4);
    InkBox wide = label(one_label({"SETMAG 2 0", "TEXT 4 0 40 30 MAG"}, 300)).ink();
    EXPECT_NEAR(wide.width(), 2 * one.width(), 4) << "2 0 doubles widths only";
    EXPECT_NEAR(wide.height(), one.height(), 1);
    InkBox off = label(one_label({"SETMAG 0 0", "TEXT 4 0 40 30 MAG"}, 300)).ink();
    EXPECT_EQ(off.width(), one.width());
    EXPECT_EQ(off.height(), one.height());
}

TEST_F(Text, CenterAndRightUseThePageWidth) {
    InkBox left = label(one_label({"TEXT 4 0 100 30 PLACED"}, 200)).ink();
    InkBox center = label(one_label({"CENTER", "TEXT 4 0 100 30 PLACED"}, 200)).ink();
    InkBox right = label(one_label({"RIGHT", "TEXT 4 0 100 30 PLACED"}, 200)).ink();
    EXPECT_NEAR(left.left, 100, 4);
    EXPECT_NEAR((center.left + center.right) / 2.0, 864, 4) << "x is replaced";
    EXPECT_NEAR(right.right, 1727, 6);
    EXPECT_LE(right.right, 1727);
    EXPECT_EQ(center.top, left.top);
    // within a width from x
    InkBox within = label(one_label({"CENTER 400", "TEXT 4 0 100 30 PLACED"}, 200)).ink();
    EXPECT_NEAR((within.left + within.right) / 2.0, 300, 4);
    // LEFT again
    InkBox back = label(one_label({"LEFT", "TEXT 4 0 100 30 PLACED"}, 200)).ink();
    EXPECT_EQ(back.left, left.left);
}

TEST_F(Text, UnderlineRunsUnderTheText) {
    DotImage plain = label(one_label({"TEXT 4 0 100 30 UNDER"}, 200));
    DotImage under = label(one_label({"UNDERLINE ON", "TEXT 4 0 100 30 UNDER", "UNDERLINE OFF",
                                      "TEXT 4 0 500 30 PLAIN"}, 200));
    InkBox text = plain.ink();
    InkBox all = under.ink_in(0, 0, 450, under.height);
    EXPECT_GT(all.bottom, text.bottom + 1) << "the line is below the letters";
    int row = all.bottom;
    std::vector<int> line = runs(under, row, 0, 450, true);
    ASSERT_EQ(line.size(), 1u);
    EXPECT_GE(line[0], text.width()) << "as long as the text";
    EXPECT_TRUE(under.ink_in(0, row + 1, 450, row + 3).empty) << "one dot thick";
    InkBox second = under.ink_in(450, 0, 1728, under.height);
    EXPECT_EQ(second.height(), label(one_label({"TEXT 4 0 500 30 PLAIN"}, 200)).ink().height()) << "UNDERLINE OFF";
}

TEST_F(Text, CharacterSpacingAndBold) {
    InkBox plain = label(one_label({"TEXT 7 0 40 30 ABCDE"}, 200)).ink();
    InkBox spaced = label(one_label({"SETSP 10", "TEXT 7 0 40 30 ABCDE"}, 200)).ink();
    EXPECT_NEAR(spaced.width(), plain.width() + 4 * 10, 2);
    DotImage thin = label(one_label({"TEXT 7 1 40 30 BOLD TEXT"}, 200));
    DotImage bold = label(one_label({"SETBOLD 5", "TEXT 7 1 40 30 BOLD TEXT"}, 200));
    EXPECT_GT(ink_dots(bold), ink_dots(thin) * 11 / 10);
    EXPECT_EQ(ocr_line(bold, dir.path, grown(bold.ink(), 2), 2), "BOLD TEXT");
    DotImage normal = label(one_label({"SETBOLD 0", "TEXT 7 1 40 30 BOLD TEXT"}, 200));
    EXPECT_EQ(normal.raster, thin.raster) << "SETBOLD 0: the font's own weight";
}

TEST_F(Text, DataEndsAtCaretAndEmptyDataDrawsNothing) {
    DotImage img = label(one_label({"TEXT 4 0 40 30 KEEP^DROPPED"}, 200));
    EXPECT_EQ(ocr_line(img, dir.path, grown(img.ink(), 2), 2), "KEEP");
    img = label(one_label({"TEXT 4 0 40 30 ", "TEXT 4 0 40 30"}, 200));
    EXPECT_TRUE(img.ink().empty);
}

TEST_F(Text, Gb18030Text) {
    // "中文" in GB18030 and in UTF-8
    const std::string gb = "\xD6\xD0\xCE\xC4", utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
    DotImage from_gb = label(one_label({"ENCODING GB18030", "TEXT 4 0 40 30 " + gb}, 200));
    DotImage from_utf8 = label(one_label({"ENCODING UTF-8", "TEXT 4 0 40 30 " + utf8}, 200));
    EXPECT_FALSE(from_gb.ink().empty);
    EXPECT_EQ(from_gb.raster, from_utf8.raster);
    DotImage raw = label(one_label({"ENCODING ASCII", "TEXT 4 0 40 30 " + gb}, 200));
    EXPECT_NE(raw.raster, from_utf8.raster) << "without GB18030 the bytes are not converted";
}

TEST_F(Text, ConcatenationPiecesFollowEachOther) {
    DotImage whole = label(one_label({"TEXT 4 0 100 50 ABCDEF"}, 200));
    DotImage pieces = label(one_label({"CONCAT 100 50", "4 0 0 ABC", "4 0 0 DEF", "ENDCONCAT"}, 200));
    EXPECT_NEAR(pieces.ink().left, whole.ink().left, 1);
    EXPECT_NEAR(pieces.ink().width(), whole.ink().width(), 3) << "each piece starts where the last one ended";
    EXPECT_EQ(pieces.ink().top, whole.ink().top);
    EXPECT_EQ(ocr_line(pieces, dir.path, grown(pieces.ink(), 2), 2), "ABCDEF");
    // an offset moves a piece down
    DotImage moved = label(one_label({"CONCAT 100 50", "4 0 0 ABC", "4 0 40 DEF", "ENDCONCAT"}, 200));
    InkBox abc = moved.ink_in(0, 0, 1728, 95), def = moved.ink_in(0, 95, 1728, 200);
    EXPECT_FALSE(def.empty);
    EXPECT_GT(def.left, abc.right);
    // lines after ENDCONCAT are no pieces
    DotImage after = label(one_label({"CONCAT 100 50", "4 0 0 ABC", "ENDCONCAT", "4 0 0 DEF"}, 200));
    EXPECT_EQ(ocr_line(after, dir.path, grown(after.ink(), 2), 2), "ABC");
}
