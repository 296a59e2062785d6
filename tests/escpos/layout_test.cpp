// Text layout: wrapping, tall characters, justification, upside-down lines, code page fix-ups,
// the shared line bitmap, tall pages.
#include "escpos_test_support.h"

#include "escpos_page.h"

using namespace escpos;
using namespace std::string_literals;

namespace {
std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
}  // namespace

TEST_F(EscposTest, CharacterThatDoesNotFitWrapsBeforeIt) {
    st->device.conti_mode = false;
    decode(repeat("M", 144));  // 144 x 12 dots fill the line exactly
    EXPECT_EQ(st->line.char_idx, 144);
    EXPECT_EQ(st->page.ypos, 0);
    decode("W");
    EXPECT_EQ(st->page.ypos, 30);
    ASSERT_EQ(st->line.char_idx, 1);
    EXPECT_EQ(st->line.char_buf[0].xpos, 0);
    EXPECT_EQ(st->line.char_buf[0].ypos, 30);
}

TEST_F(EscposTest, FullLineBufferEndsTheLine) {
    st->device.conti_mode = false;
    // A custom outline font of one point: far more characters than records fit on a line.
    st->emul.eng_font_point = 1;
    decode(esc("M\x05") + repeat("i", 700));
    EXPECT_GT(st->page.ypos, 0);
    EXPECT_LE(st->line.char_idx, LINE_CHARS);
    EXPECT_LT(st->line.string_len, LINE_TEXT);
}

TEST_F(EscposTest, DoubleHeightOnA30DotLineFeeds60) {
    st->device.conti_mode = false;
    decode(gs("!\x01") + "A");
    EXPECT_EQ(st->line.line_max_high, 60);
    decode("\n");
    EXPECT_EQ(st->page.ypos, 60);
}

TEST_F(EscposTest, CentringTenCharactersShiftsBy804) {
    run("MMMMMMMMMM\n");
    ASSERT_EQ(images.size(), 1u);
    int left = images[0].image.ink().left;
    fresh();
    run(esc("a\x01") + "MMMMMMMMMM\n");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image.ink().left - left, 804);
    fresh();
    run(esc("a2") + "MMMMMMMMMM\n");
    EXPECT_EQ(images[0].image.ink().left - left, 1608);
}

TEST_F(EscposTest, UpsideDownRunsLeftwardsFromTheRightEdge) {
    run(esc("{\x01") + "I\n");
    ASSERT_EQ(images.size(), 1u);
    InkBox one = images[0].image.ink();
    EXPECT_GT(one.left, 1728 - 24);
    EXPECT_LE(one.right, 1727);
    fresh();
    run(esc("{\x01") + "IIII\n");
    InkBox four = images[0].image.ink();
    EXPECT_EQ(four.right, one.right);
    EXPECT_NEAR(four.left, one.left - 36, 2);
    // Upside-down: an underscore lies at the top of the cell.
    fresh();
    run("_\n");
    int normal_top = images[0].image.ink().top;
    fresh();
    run(esc("{\x01") + "_\n");
    EXPECT_LT(images[0].image.ink().top, normal_top);
}

TEST_F(EscposTest, SpaceAfterCodePageFixUpAdvancesWithoutInk) {
    // Character type 3: code page 149, where 255 is a space.
    st->emul.character_type = 3;
    run(esc("@") + "X\xffX\n");
    ASSERT_EQ(images.size(), 1u);
    DotImage with_fixup = images[0].image;
    images.clear();
    run("X X\n");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(with_fixup.raster, images[0].image.raster);
    EXPECT_TRUE(with_fixup.ink_in(12, 0, 24, 30).empty);
    EXPECT_FALSE(with_fixup.ink_in(24, 0, 36, 30).empty);
}

TEST_F(EscposTest, DotCharactersShareOnePaintedBitmap) {
    run("AB");
    int before = st->bitmap_paints;
    run("\x0d");
    EXPECT_EQ(st->bitmap_paints - before, 1);
    // A bold character between them splits the line bitmap into two paints.
    fresh();
    run("A" + esc("E\x01") + "B" + esc("E\x00"s) + "C");
    before = st->bitmap_paints;
    run("\x0d");
    EXPECT_EQ(st->bitmap_paints - before, 2);
}

TEST_F(EscposTest, TabMovesToTheNextStop) {
    st->device.conti_mode = false;
    decode("AB\tC");
    ASSERT_EQ(st->line.char_idx, 3);
    EXPECT_EQ(st->line.char_buf[2].xpos, 96);
    decode("\tD\tE");
    EXPECT_EQ(st->line.char_buf[3].xpos, 192);
    EXPECT_EQ(st->line.char_buf[4].xpos, 288);
    // No stop beyond the fill position: it stays.
    fresh();
    decode(esc("D\x02\x00"s) + "ABC\tD");
    EXPECT_EQ(st->line.char_buf[3].xpos, 36);
}

TEST_F(EscposTest, CarriageReturnDrawsTheLineWithoutFeeding) {
    st->device.conti_mode = false;
    decode("AB\rCD\n");
    EXPECT_EQ(st->page.ypos, 30);
}

TEST_F(EscposTest, CancelDropsTheLine) {
    run("ABC\x18" "D\n");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_LT(images[0].image.ink().right, 12);
}

TEST_F(EscposTest, UnderlineRunsUnderTheCharacters) {
    run(esc("-\x02") + "ABCD" + esc("-\x00"s) + "EF\n");
    ASSERT_EQ(images.size(), 1u);
    const DotImage& im = images[0].image;
    InkBox line = im.ink_in(0, 28, 1728, 30);
    EXPECT_EQ(line.left, 0);
    EXPECT_EQ(line.right, 47);
    EXPECT_EQ(line.height(), 2);
}

TEST_F(EscposTest, ChineseCharactersUseThe24DotFont) {
    run(fs("&") + "\xd6\xd0\n");
    ASSERT_EQ(images.size(), 1u);
    InkBox ink = images[0].image.ink();
    EXPECT_GT(ink.width(), 16);
    EXPECT_LE(ink.right, 23);
    // Outside Chinese mode the same bytes are two code page characters of 12 dots.
    fresh();
    run("\xd6\xd0\n");
    EXPECT_LE(images[0].image.ink().right, 23);
}

TEST_F(EscposTest, TallPageIsSplitKeepingAllInk) {
    st->device.conti_mode = false;
    // Page mode, a line at 7000 dots down, then the page ends.
    run(esc("L") + gs("$\x58\x1b") + "END" + "\x0c");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image.height, IMAGE_MAX_ROWS);
    EXPECT_TRUE(images[0].image.ink().empty);
    InkBox ink = images[1].image.ink();
    EXPECT_FALSE(ink.empty);
    EXPECT_GE(ink.top, 7000 - IMAGE_MAX_ROWS);
}

TEST_F(EscposTest, PagePositionIsBounded) {
    st->device.conti_mode = false;
    run(gs("P\x01\x01") + esc("L") + gs("$\xff\xff") + "X" + "\x0c");
    EXPECT_EQ(int(images.size()), PAGE_MAX_ROWS / IMAGE_MAX_ROWS);
    // A run of large feeds on one page stops at the bound too.
    fresh();
    st->device.conti_mode = false;
    run(esc("L") + repeat(esc("J\xff"), 400) + "X\x0c");
    EXPECT_LE(int(images.size()), PAGE_MAX_ROWS / IMAGE_MAX_ROWS);
}

TEST_F(EscposTest, PageModeVerticalMovesKeepWhatIsDrawn) {
    st->device.conti_mode = false;
    run(esc("L") + "A\nB\nC\n" + gs("$\x00\x00"s) + "D" + "\x0c");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_GE(images[0].image.height, 90);
    EXPECT_FALSE(images[0].image.ink_in(0, 60, 1728, 90).empty);
    EXPECT_FALSE(st->page.page_mode);  // the page end left page mode
}

TEST_F(EscposTest, LeftMarginAndPrintableWidth) {
    st->device.conti_mode = false;
    decode(gs("L\x64\x00"s) + gs("W\x78\x00"s) + repeat("M", 11));
    // 120 dots from the margin at 100: ten characters on the first line.
    EXPECT_EQ(st->page.ypos, 30);
    EXPECT_EQ(st->line.char_buf[0].xpos, 100);
}

TEST_F(EscposTest, MagnifiedTextIsDrawnLarger) {
    run("AB\n");
    InkBox small = images[0].image.ink();
    fresh();
    run(gs("!\x11") + "AB\n");
    InkBox big = images[0].image.ink();
    EXPECT_GT(big.height(), small.height() * 3 / 2);
    EXPECT_GT(big.width(), small.width() * 3 / 2);
}
