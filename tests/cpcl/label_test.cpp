// The label life cycle: the header and its resolutions, PRINT, copies and counters, the line
// reader's rules, and the settings commands.
#include "cpcl_commands.h"
#include "cpcl_input.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

namespace {
// The text tesseract reads on a label between rows y0 and y1.
std::string read_text(const DotImage& img, const std::string& folder, int y0, int y1,
                      const std::string& letters = "") {
    InkBox box = img.ink_in(0, y0, img.width, y1);
    if (box.empty) return "";
    return ocr_line(img, folder, grown(box, 2), 2, letters);
}

bool same_dots(const DotImage& a, const DotImage& b) { return a.height == b.height && a.raster == b.raster; }
}  // namespace

using Labels = CpclTest;

TEST_F(Labels, HeaderResolutionScalesTheLabel) {
    // 210 rows at 200 dpi are 213 rows of the 203-dpi head.
    DotImage img = label("! 0 200 200 210 1\r\nTEXT 4 0 10 10 AB\r\nPRINT\r\n");
    EXPECT_EQ(img.width, 1728);
    EXPECT_NEAR(img.height, 213, 10);
    EXPECT_GE(img.height, 213);

    // Everything on a 100-dpi label is twice as large and twice as far.
    DotImage full = label("! 0 203 203 200 1\r\nBOX 10 20 60 50 2\r\nPRINT\r\n");
    DotImage half = label("! 0 100 100 100 1\r\nBOX 10 20 60 50 2\r\nPRINT\r\n");
    InkBox f = full.ink(), h = half.ink();
    EXPECT_EQ(f.left, 10);
    EXPECT_EQ(f.width(), 50);
    EXPECT_NEAR(h.left, 20, 1);
    EXPECT_NEAR(h.top, 41, 1);
    EXPECT_NEAR(h.width(), 101, 2);
    EXPECT_NEAR(h.height(), 61, 2);
    EXPECT_NEAR(half.height, 203, 1);
}

TEST_F(Labels, OffsetMovesTheWholeLabel) {
    DotImage img = label("! 100 203 203 200 1\r\nBOX 10 20 60 50 2\r\nBARCODE 128 1 1 40 10 100 AB\r\nPRINT\r\n");
    EXPECT_EQ(img.ink_in(0, 0, 1728, 90).left, 110);
    EXPECT_EQ(img.ink_in(0, 90, 1728, 200).left, 110);
    // LMARGIN does the same inside a label; a negative offset is 0.
    img = label("! -50 203 203 200 1\r\nBOX 10 20 60 50 2\r\nPRINT\r\n");
    EXPECT_EQ(img.ink().left, 10);
    img = label("! 0 203 203 200 1\r\nLMARGIN 40\r\nBOX 10 20 60 50 2\r\nPRINT\r\n");
    EXPECT_EQ(img.ink().left, 50);
}

TEST_F(Labels, ConfiguredLeftMarginAndLabelLength) {
    s->left_margin = 24;
    EXPECT_EQ(label(one_label({"BOX 10 20 60 50 2"}, 200)).ink().left, 34);
    s->left_margin = 0;
    // Height 0: the configured label length when the paper has marks between fixed labels.
    s->mark_seek = 3;
    s->label_length = 500;
    EXPECT_EQ(label("! 0 203 203 0 1\r\nBOX 10 20 60 50 2\r\nPRINT\r\n").height, 500);
    s->mark_seek = 0;
    EXPECT_EQ(label("! 0 203 203 0 1\r\nBOX 10 20 60 50 2\r\nPRINT\r\n").height, 1);
}

TEST_F(Labels, QuantityWithoutCountGivesIdenticalCopies) {
    run("! 0 203 203 200 3\r\nTEXT 4 0 30 30 COPY\r\nBOX 10 10 300 150 2\r\nPRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_TRUE(same_dots(pages[0], pages[1]));
    EXPECT_TRUE(same_dots(pages[0], pages[2]));
    EXPECT_FALSE(pages[0].ink().empty);
    EXPECT_LE(engine.most_waiting(), 1) << "each copy waits until the print engine took the one before";
    EXPECT_EQ(s->images_written, 3);
}

TEST_F(Labels, CountersKeepLeadingZerosAndWiden) {
    run("! 0 203 203 200 3\r\n"
        "TEXT 4 0 30 20 ITEM 007\r\n"
        "COUNT 1\r\n"
        "TEXT 4 0 30 80 LOT 099X\r\n"
        "COUNT 1\r\n"
        "TEXT 4 0 30 140 BOX 98-K\r\n"
        "COUNT 1\r\n"
        "PRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    const char* item[] = {"ITEM 007", "ITEM 008", "ITEM 009"};
    const char* lot[] = {"LOT 099X", "LOT 100X", "LOT 101X"};
    const char* box[] = {"BOX 98-K", "BOX 99-K", "BOX 100-K"};
    const std::string letters = "ITEMLOBXK0123456789- ";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(read_text(pages[size_t(i)], dir.path, 10, 70, letters), item[i]) << i;
        EXPECT_EQ(read_text(pages[size_t(i)], dir.path, 70, 130, letters), lot[i]) << i;
        EXPECT_EQ(read_text(pages[size_t(i)], dir.path, 130, 195, letters), box[i]) << i << ": grows a digit, keeps the -K";
    }
}

TEST_F(Labels, CountersInBarcodesAndSteps) {
    run("! 0 203 203 200 3\r\n"
        "BARCODE 128 1 1 50 30 20 SN-0000120\r\n"
        "COUNT -10\r\n"
        "PRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    const char* want[] = {"SN-0000120", "SN-0000110", "SN-0000100"};
    for (int i = 0; i < 3; ++i) {
        InkBox area = grown(pages[size_t(i)].ink(), 4);
        EXPECT_EQ(zbar(pages[size_t(i)], dir.path, &area), want[i]) << i;
    }
}

TEST_F(Labels, CounterFields) {
    cpcl::Counter c;
    ASSERT_TRUE(cpcl::find_counter("TEXT 4 0 10 10 ITEM 007\r\n", c));
    EXPECT_EQ(c.value, 7);
    EXPECT_EQ(c.width, 3u);
    EXPECT_EQ(c.pos, std::string("TEXT 4 0 10 10 ITEM ").size());
    ASSERT_TRUE(cpcl::find_counter("T 4 0 10 10 A10B20\r\n", c));
    EXPECT_EQ(c.value, 10) << "the first number in the data";
    EXPECT_EQ(c.width, 2u);
    ASSERT_TRUE(cpcl::find_counter("TEXT 4 0 10 10 000\r\n", c));
    EXPECT_EQ(c.value, 0) << "zeros alone count from 0";
    EXPECT_EQ(c.width, 3u);
    ASSERT_TRUE(cpcl::find_counter("VB 128 1 1 50 10 10 X42^rest\r\n", c));
    EXPECT_EQ(c.value, 42);
    EXPECT_FALSE(cpcl::find_counter("TEXT 4 0 10 10 NO DIGITS\r\n", c));
    EXPECT_FALSE(cpcl::find_counter("BOX 4 0 10 10 1\r\n", c)) << "only text and barcodes count";
    EXPECT_FALSE(cpcl::find_counter("TEXT 4 0 10 10\r\n", c)) << "no data";
    EXPECT_EQ(cpcl::counter_text(8, 3), "008");
    EXPECT_EQ(cpcl::counter_text(100, 2), "100");
    EXPECT_EQ(cpcl::counter_text(-1, 3), "-01");
}

TEST_F(Labels, AFourthCounterReplacesTheFirst) {
    std::string job = "! 0 203 203 260 2\r\n";
    for (int i = 0; i < 4; ++i) job += "TEXT 4 0 30 " + std::to_string(20 + 60 * i) + " N" + std::to_string(i + 1) + "\r\nCOUNT 1\r\n";
    run(job + "PRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    const std::string letters = "N0123456789";
    EXPECT_EQ(read_text(pages[1], dir.path, 10, 70, letters), "N1") << "its counter was replaced";
    EXPECT_EQ(read_text(pages[1], dir.path, 70, 130, letters), "N3");
    EXPECT_EQ(read_text(pages[1], dir.path, 130, 190, letters), "N4");
    EXPECT_EQ(read_text(pages[1], dir.path, 190, 255, letters), "N5");
}

TEST_F(Labels, BytesBeforeTheFirstBangAreIgnored) {
    DotImage img = label("garbage TEXT 4 0 10 10 NO\r\nBOX 0 0 1000 1000 9\r\n! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    EXPECT_EQ(img.ink().left, 10);
    EXPECT_EQ(img.ink().right, 49);
    // after PRINT too
    run("! 0 203 203 100 1\r\nPRINT\r\nBOX 0 0 1000 1000 9\r\n! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(pages[0].ink().empty);
    EXPECT_EQ(pages[1].ink().right, 49);
}

TEST_F(Labels, SemicolonCommentsDoNothing) {
    DotImage img = label("! 0 203 203 100 1\r\n;BOX 0 0 1000 90 9\r\nBOX;comment 0 0 1000 90 9\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    EXPECT_EQ(img.ink().left, 10);
    EXPECT_EQ(img.ink().right, 49);
}

TEST_F(Labels, QuantityZeroPrintsNothing) {
    run("! 0 203 203 100 0\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    EXPECT_TRUE(printed().empty());
    // the next label is clean
    DotImage img = label(one_label({"BOX 100 10 150 50 2"}, 100));
    EXPECT_EQ(img.ink().left, 100);
}

TEST_F(Labels, LinesAreAtMost127Characters) {
    // The 128th character starts a line of its own: here a BOX command.
    std::string text = "TEXT 7 0 10 10 " + std::string(127 - 15, 'x');
    DotImage img = label(one_label({text + "BOX 600 150 620 170 20"}, 200));
    EXPECT_TRUE(img.dot(610, 160));
    // A line feed alone ends a line as well as CR LF.
    img = label("! 0 203 203 100 1\nBOX 10 10 50 50 2\nPRINT\n");
    EXPECT_EQ(img.ink().left, 10);
}

TEST_F(Labels, AJobInPiecesIsOneLabel) {
    run_jobs({"! 0 203 203 200 1\r\nBOX 10 10 50 ", "50 2\r\nTEXT 4 0 100 ", "100 SPLIT\r\nPR", "INT\r\n"});
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].dot(10, 10));
    EXPECT_EQ(read_text(pages[0], dir.path, 90, 195), "SPLIT");
}

TEST_F(Labels, AfterADrySpellTheNextLineStartsAtABang) {
    // The job ends without PRINT: its label is dropped when the next one starts.
    run("! 0 203 203 200 1\r\nBOX 0 0 900 190 9\r\n");
    run("TEXT 4 0 10 10 LOST\r\n! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].ink().right, 49);
    // The last line of a job needs no line end.
    run("! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\nPRINT");
    EXPECT_EQ(printed().size(), 1u);
}

TEST_F(Labels, SlaveHearsWhenTheInputRunsDry) {
    run("! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\n");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1) << "no label printed: the job is over";
    run("PRINT\r\n");
    printed();
    shell_lines.clear();
    run("! 0 203 203 100 1\r\nBOX 10 10 50 50 2\r\nPRINT\r\n");
    printed();
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 0) << "a label was printed since";
}

TEST_F(Labels, ContrastLevels) {
    run("! 0 203 203 100 1\r\nCONTRAST 0\r\nCONTRAST 1\r\nCONTRAST 2\r\nCONTRAST 3\r\nCONTRAST 9\r\nPRINT\r\n");
    printed();
    EXPECT_EQ(contrasts, std::vector<int>({2, 4, 6, 8, 2}));
}

TEST_F(Labels, UnitsScalePositions) {
    // 8 dots a millimetre
    DotImage img = label(one_label({"IN-MILLIMETERS", "BOX 5 5 15 10 0.5"}, 200));
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 40);
    EXPECT_EQ(b.top, 40);
    EXPECT_EQ(b.right, 119);
    EXPECT_EQ(runs(img, 60, 30, 60, true).front(), 4);
    img = label(one_label({"IN-CENTIMETERS", "BOX 1 1 2 2 1"}, 200));
    EXPECT_EQ(img.ink().left, 80);
    img = label(one_label({"IN-INCHES", "LINE 1 1 2 1 0.02"}, 400));
    EXPECT_EQ(img.ink().left, 203);
    EXPECT_EQ(img.ink().top, 203);
    EXPECT_EQ(img.ink().height(), 4);
    // the next label is in dots again
    img = label(one_label({"BOX 5 5 15 10 1"}, 200));
    EXPECT_EQ(img.ink().left, 5);
}

TEST_F(Labels, PageWidthLastsOneLabel) {
    DotImage img = label(one_label({"PAGE-WIDTH 400", "RIGHT", "TEXT 4 0 0 10 END"}, 100));
    EXPECT_LE(img.ink().right, 399);
    EXPECT_GT(img.ink().right, 370);
    img = label(one_label({"TEXT 4 0 0 10 END"}, 100));
    EXPECT_GT(img.ink().right, 1700) << "back to the head's width";
    run(one_label({"LEFT"}));
    printed();
}
