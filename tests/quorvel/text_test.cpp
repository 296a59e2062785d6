// Text: line advances and page height, runs on one line, pitches, named fonts, emphasis and
// double sizes (kept from job to job), line and form feeds, pages cut before they outgrow the
// print engine, and what tesseract reads.
#include "image_builder.h"
#include "quorvel_test_support.h"

namespace {
int ink_dots(const DotImage& img) {
    int n = 0;
    for (uint8_t b : img.raster) n += __builtin_popcount(b);
    return n;
}
}  // namespace

class QuorvelText : public QuorvelTest {};

TEST_F(QuorvelText, TextOnlyIsOnePageAsTallAsItsLineAdvances) {
    DotImage one = page("LINE ONE\n");
    DotImage three = page("LINE ONE\nLINE TWO\nLINE THREE\n");
    DotImage six = page("A\nB\nC\nD\nE\nF\n");
    EXPECT_GE(one.height, 24) << "10 points at 203 dpi and 4 dots of spacing";
    EXPECT_LE(one.height, 45);
    EXPECT_EQ(three.height, 3 * one.height);
    EXPECT_EQ(six.height, 6 * one.height);
    EXPECT_EQ(page("A\n\nB\n").height, 3 * one.height) << "an empty line advances like a printed one";
    EXPECT_EQ(page("A\r\nB\r\n").height, 2 * one.height) << "CR LF is one line feed";
    EXPECT_EQ(page("LAST LINE WITHOUT FEED").height, one.height);
}

TEST_F(QuorvelText, RunsBetweenControlsStayOnTheirLine) {
    DotImage one = page("ABCDEF\n");
    DotImage mixed = page("ABC\x1BU1" "DEF\x1BU0" "GHI\n");
    EXPECT_EQ(mixed.height, one.height);
    EXPECT_GT(mixed.ink().width(), one.ink().width() * 4 / 3) << "the runs follow each other across the line";
    EXPECT_EQ(read_text(mixed, dir.path), "ABCDEFGHI");
}

TEST_F(QuorvelText, ShiftOutThenDoubleHeightAndBack) {
    DotImage single = page("\x0EHHHH\n");
    DotImage doubled = page("\x0E\x1CHHHH\n");
    DotImage back = page("\x0E\x1C\x1DHHHH\n");
    // Index 3 of the font map is 5 characters per inch: four letters advance 4 / 5 in.
    EXPECT_NEAR(single.ink().width(), 4 * 203 / 5 - 203 / 5 / 3, 25);
    EXPECT_NEAR(doubled.ink().height(), 2 * single.ink().height(), 3);
    EXPECT_NEAR(doubled.ink().width(), single.ink().width(), 2) << "double height keeps the pitch";
    EXPECT_EQ(back.ink().height(), single.ink().height());
    EXPECT_EQ(back.ink().width(), single.ink().width());
    EXPECT_EQ(back.height, single.height);
}

TEST_F(QuorvelText, DoubleModesAndEmphasisLastAcrossJobs) {
    DotImage plain = page("HHHH\n");
    print("\x12" "D");  // double height and width, nothing printed
    DotImage big = page("HHHH\n");
    EXPECT_NEAR(big.ink().width(), 2 * plain.ink().width(), 4);
    EXPECT_NEAR(big.ink().height(), 2 * plain.ink().height(), 3);
    print("\x12" "d\x1BU1");
    DotImage bold = page("HHHH\n");
    EXPECT_GT(ink_dots(bold), ink_dots(plain) * 115 / 100);
    EXPECT_EQ(bold.ink().height(), plain.ink().height());
    print("\x1BU0");
    EXPECT_EQ(ink_dots(page("HHHH\n")), ink_dots(plain));
}

TEST_F(QuorvelText, ThreePitchesAreReadBack) {
    struct Case {
        const char* select;
        double cpi;
        const char* word;
    } cases[] = {{"\x1BK\x04", 6, "INVOICE"}, {"\x1BK\x01", 12, "CUSTOMER"}, {"\x1BK\x02", 15, "WAREHOUSE"}};
    for (const Case& c : cases) {
        std::string twenty(20, 'X');
        DotImage ruler = page(std::string(c.select) + twenty + "\n");
        // Twenty letters advance 20 / cpi inches; the ink lacks the last letter's side bearings.
        EXPECT_NEAR(ruler.ink().width(), 20 / c.cpi * 203, 203 / c.cpi) << c.cpi << " cpi";
        DotImage words = page(std::string(c.select) + c.word + " 4711\n");
        EXPECT_EQ(read_text(words, dir.path), std::string(c.word) + "4711") << c.cpi << " cpi";
    }
}

TEST_F(QuorvelText, NamedFontsFromTheFontTable) {
    DotImage mono = page("iiiiiiii\n");
    DotImage sans = page("\x1BKB" "iiiiiiii\n");  // B: Liberation Sans, proportional
    EXPECT_LT(sans.ink().width(), mono.ink().width() * 2 / 3);
    DotImage none = page("\x1BKY" "iiiiiiii\n");  // no font Y in the table: the font stays
    EXPECT_EQ(none.ink().width(), mono.ink().width());
    DotImage doubled = page("\x1BKB\x1C" "iiiiiiii\n");
    EXPECT_NEAR(doubled.ink().height(), 2 * sans.ink().height(), 3) << "double height of a named font";
    print("\x1D");
}

TEST_F(QuorvelText, FormFeedCutsThePage) {
    auto pages = print("PAGE ONE\n\x0CPAGE TWO\n");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(read_text(pages[0], dir.path), "PAGEONE");
    EXPECT_EQ(read_text(pages[1], dir.path), "PAGETWO");
    EXPECT_EQ(print("\x0C\x0C\n\x0C").size(), 0u) << "empty pages are not printed";
    EXPECT_EQ(print("TEXT\x0C").size(), 1u);
}

TEST_F(QuorvelText, LongReportIsCutBeforeThePrintEngineLimit) {
    int line = page("X\n").height;
    std::string job;
    int lines = 2 * MAX_PAGE_ROWS / line + 5;
    for (int i = 0; i < lines; ++i) job += "LINE " + std::to_string(i) + "\n";
    auto pages = print(job);
    ASSERT_EQ(pages.size(), 3u);
    int total = 0;
    for (const DotImage& p : pages) {
        EXPECT_LE(p.height, MAX_PAGE_ROWS);
        EXPECT_EQ(p.height % line, 0) << "whole lines on every page";
        total += p.height;
    }
    EXPECT_EQ(total, lines * line);
}

TEST_F(QuorvelText, IgnoredBytesPrintNothing) {
    EXPECT_EQ(print(BYTES("\x00\x0D\x1B\x1B\x09\x1B" "a1\x1BH12\x1BM12\x0D\x1B" "C\x1BQB1\x1BP#\x1B*0\x1B" "c\x07")).size(), 0u);
    EXPECT_EQ(count_shell("/root/engine_cmd R 10"), 1) << "the bell";
    DotImage img = page(BYTES("AB\x00" "CD\x1B" "C\n"));
    EXPECT_EQ(read_text(img, dir.path), "ABCD");
    EXPECT_EQ(img.height, page("ABCD\n").height);
}
