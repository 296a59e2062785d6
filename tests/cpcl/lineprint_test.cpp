// Line-printer mode: utility lines, SETLP / SETLF / SETSP / SETBOLD, running text printed line by
// line between labels.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

#include <fstream>
#include <sstream>

using LinePrinter = CpclTest;

namespace {
std::string read_page(const DotImage& img, const std::string& folder) {
    InkBox b = img.ink();
    return b.empty ? "" : ocr_line(img, folder, grown(b, 2), 3);
}
}  // namespace

TEST_F(LinePrinter, RunningTextPrintsLineByLine) {
    run("! U1 SETLP 7 0 24\r\nFIRST LINE\r\nSECOND LINE\r\n\r\nTHIRD\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 4u) << "one page a line, the empty one too";
    for (const DotImage& p : pages) EXPECT_EQ(p.height, 24) << "SETLP's height";
    EXPECT_EQ(read_page(pages[0], dir.path), "FIRST LINE");
    EXPECT_EQ(read_page(pages[1], dir.path), "SECOND LINE");
    EXPECT_TRUE(pages[2].ink().empty);
    EXPECT_EQ(read_page(pages[3], dir.path), "THIRD");
    EXPECT_LE(pages[0].ink().left, 2);
}

TEST_F(LinePrinter, SetlfAndTheFontsOwnHeight) {
    run("! U1 SETLF 40\r\nTALL LINE\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].height, 40);
    EXPECT_EQ(read_page(pages[0], dir.path), "TALL LINE") << "font 5 size 0 at start";
    // without a height the line is as tall as the font's lines
    restart();
    run("! U1 SETLP 4 0\r\nBIG\r\n");
    pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NEAR(pages[0].height, 47, 4);
    EXPECT_EQ(read_page(pages[0], dir.path), "BIG");
}

TEST_F(LinePrinter, CommandAfterCaretOnAUtilityLine) {
    run("! U1 ^SETLF 30\r\nCARET\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].height, 30);
    // "! U1 ..." with a command after blanks only
    run("! U1 SETLF 50\r\nBLANK\r\n");
    pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].height, 50);
}

TEST_F(LinePrinter, TextBeforeAUtilityCommandOnTheSameLine) {
    run("! U1 SETLF 30\r\nHELLO! U1 SETLF 60\r\nWORLD\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].height, 30);
    EXPECT_EQ(read_page(pages[0], dir.path), "HELLO");
    EXPECT_EQ(pages[1].height, 60);
    EXPECT_EQ(read_page(pages[1], dir.path), "WORLD");
}

TEST_F(LinePrinter, SpacingAndBoldHoldInRunningText) {
    run("! U1 SETLF 30\r\nABCDEF\r\n! U1 SETSP 6\r\nABCDEF\r\n! U1 SETBOLD 3\r\nABCDEF\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_NEAR(pages[1].ink().width(), pages[0].ink().width() + 5 * 6, 2);
    int plain = 0, bold = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 400; ++x) plain += pages[1].dot(x, y), bold += pages[2].dot(x, y);
    EXPECT_GT(bold, plain * 11 / 10);
}

TEST_F(LinePrinter, LabelsBeforeAndAfterRunningText) {
    run("! 0 203 203 100 1\r\nBOX 10 10 60 60 2\r\nPRINT\r\n"
        "! U1 SETLF 30\r\nBETWEEN\r\n"
        "! 0 203 203 120 1\r\nBOX 20 20 70 70 2\r\nPRINT\r\n"
        "AFTER THE LABEL\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u) << "text after PRINT needs a new \"!\"";
    EXPECT_EQ(pages[0].height, 100);
    EXPECT_EQ(read_page(pages[1], dir.path), "BETWEEN");
    EXPECT_EQ(pages[2].ink().left, 20) << "a label ends the running text";
    EXPECT_EQ(pages[2].height, 120);
}

TEST_F(LinePrinter, CommandsAreNotPrintedAsText) {
    run("! U1 setvar \"device.languages\" \"line_print\"\r\n! U1 SETLF 30\r\n;comment\r\nCOUNT 1\r\nTEXT\r\n");
    EXPECT_TRUE(printed().empty());
}

TEST_F(LinePrinter, PcxPrintsAsItsOwnPage) {
    std::string pcx(128, '\0');
    pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 1, pcx[8] = 15, pcx[10] = 9, pcx[65] = 1, pcx[66] = 2;
    for (int i = 3; i < 6; ++i) pcx[size_t(16 + i)] = char(0xFF);
    pcx += std::string(20, '\0');  // 16 x 10, all black
    run("! U1 SETLF 30\r\nPCX 8 0 " + pcx + "AFTER\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].height, 10);
    EXPECT_EQ(pages[0].ink().left, 8);
    EXPECT_EQ(pages[0].ink().width(), 16);
}

TEST_F(LinePrinter, TicketSample) {
    std::ifstream in(std::string(PRINTER_SOURCE_DIR) + "/samples/ticket-lp.cpcl", std::ios::binary);
    std::stringstream job;
    job << in.rdbuf();
    ASSERT_FALSE(job.str().empty());
    run(job.str());
    std::vector<DotImage> pages = printed();
    ASSERT_GE(pages.size(), 4u);
    EXPECT_GE(pages.front().height, 150) << "a label first";
    EXPECT_GE(pages.back().height, 150) << "a label last";
    std::string lines;
    for (size_t i = 1; i + 1 < pages.size(); ++i) {
        EXPECT_LT(pages[i].height, 80) << "running text between them";
        lines += read_page(pages[i], dir.path) + "\n";
    }
    EXPECT_NE(lines.find("TOTAL"), std::string::npos) << lines;
}
