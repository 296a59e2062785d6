// jpl_interp in the test process: labels, copies, text attributes, lines, boxes, cell bitmaps and
// every symbol, read back from the dot images.
#include "jpl_state.h"
#include "render_symbols.h"
#include "symbol_reading.h"
#include "zpl_input.h"
#include "zpl_test_support.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace {
std::string u16(int v) { return std::string{char(v & 0xff), char((v >> 8) & 0xff)}; }
std::string cmd(int code, int variant) { return std::string{'\x1a', char(code), char(variant)}; }
const std::string START = cmd(0x5B, 0), END = cmd(0x5D, 0);
std::string start_at(int hx, int hy, int length) { return cmd(0x5B, 1) + u16(hx) + u16(hy) + u16(0) + u16(length) + '\0'; }
std::string text1(int x, int y, int h, int flags, int scale, const std::string& s) {
    return cmd(0x54, 1) + u16(x) + u16(y) + u16(h) + char(flags) + char(scale) + s + '\0';
}
std::string line0(int x1, int y1, int x2, int y2) { return cmd(0x5C, 0) + u16(x1) + u16(y1) + u16(x2) + u16(y2); }
std::string linear(int x, int y, char type, int h, int m, int rot, const std::string& data) {
    return cmd(0x30, 0) + u16(x) + u16(y) + type + u16(h) + char(m) + char(rot) + data + '\0';
}
std::string qr(int x, int y, int m, int rot, const std::string& data) {
    return cmd(0x31, 0) + u16(0) + u16(x) + u16(y) + char(m) + char(rot) + data + '\0';
}
}  // namespace

class Jpl : public ZplTest {
protected:
    void SetUp() override {
        ZplTest::SetUp();
        jpl_use_folders_under(dir.path);
        PATH_TO_BARCODE_SVG = dir.path + "/barcode.svg";
        jpl_fresh_state();
    }
    void TearDown() override {
        label_dialect = &zpl_dialect;
        symbols_turn_about_origin = false;
        ZplTest::TearDown();
    }
    void run_jpl(const std::string& bytes) {
        feed(bytes);
        jpl_run_until_dry();
    }
    DotImage jpl_label(const std::string& body) {
        run_jpl(START + body + END);
        return take_image();
    }
    // Width and height of text as the text command measures it (on a page that is dropped).
    TextSize measured(const std::string& s, int h, int flags) {
        jpl.underline = jpl.deline = jpl.bold = false;
        jpl.whitefont = true;
        jpl.rotate = "NRIB"[(flags >> 4) & 3];
        TextSize size = jpl_draw_text(0, 0, s, h, h / 2);
        discard_render_state();
        new_render_state();
        jpl.whitefont = false;
        jpl.rotate = 'N';
        return size;
    }
};

TEST_F(Jpl, BlankLabelIs420RowsAndStrayBytesAreDropped) {
    run_jpl("noise\r\n" + START + "\x01\x02 more noise" + END);
    DotImage img = take_image();
    EXPECT_GE(img.height, 420);
    EXPECT_LT(img.height, 430) << "420 rows plus the padding of text (none here)";
    EXPECT_TRUE(img.ink().empty);
    // The label length of the start command with parameters.
    run_jpl(start_at(0, 0, 600) + line0(10, 10, 100, 10) + END);
    EXPECT_EQ(take_image().height, 600);
}

TEST_F(Jpl, CopiesPrintIdenticalImages) {
    PageTaker taker(images, trigger_folder);
    run_jpl(cmd(0x4F, 1) + '\x03' + START + text1(20, 20, 40, 0, 0, "COPY") + END);
    ASSERT_TRUE(taker.wait_for(3));
    std::vector<DotImage> pages = taker.images();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_FALSE(pages[0].ink().empty);
    EXPECT_TRUE(pages[0].raster == pages[1].raster && pages[1].raster == pages[2].raster);
    // The count is taken by that label only; a copy count of 0 prints one.
    run_jpl(START + text1(20, 20, 40, 0, 0, "ONE") + END + cmd(0x4F, 1) + '\0' + START + line0(0, 5, 50, 5) + END);
    ASSERT_TRUE(taker.wait_for(5));
    EXPECT_EQ(taker.count(), 5u);
}

TEST_F(Jpl, WhiteTextDrawsOnlyItsDecorationsAndEndsTheField) {
    DotImage white = jpl_label(text1(100, 100, 48, 0x04, 0, "HIDDEN"));
    EXPECT_TRUE(white.ink().empty) << "white text draws no glyphs";
    DotImage underlined = jpl_label(text1(100, 100, 48, 0x04 | 0x02, 0, "HIDDEN") + text1(100, 300, 48, 0, 0, "SHOWN"));
    InkBox line = underlined.ink_in(0, 0, underlined.width, 200);
    EXPECT_EQ(line.height(), 2) << "only the underline";
    EXPECT_FALSE(underlined.ink_in(0, 280, underlined.width, 400).empty) << "the next text is drawn as usual";
}

TEST_F(Jpl, UnderlineAndStrikeThroughCoordinates) {
    TextSize size = measured("UNDER", 48, 0);
    ASSERT_GT(size.width, 40);
    // Underline only (white text): a 2-dot line from (x + 1, y + H) to (x + 1 + W, y + H).
    DotImage img = jpl_label(text1(100, 50, 48, 0x04 | 0x02, 0, "UNDER"));
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 101);
    EXPECT_NEAR(b.right + 1, 101 + size.width, 1);
    EXPECT_EQ(b.height(), 2);
    EXPECT_NEAR(b.top + 1, 50 + size.height, 1) << "centred on y + H";
    DotImage strike = jpl_label(text1(100, 50, 48, 0x04 | 0x08, 0, "UNDER"));
    EXPECT_NEAR(strike.ink().top + 1, 50 + size.height / 2, 1);
    // Turned 90 degrees: the underline runs down the page at x - H.
    TextSize turned = measured("UNDER", 48, 0x10);
    DotImage r = jpl_label(text1(300, 50, 48, 0x04 | 0x02 | 0x10, 0, "UNDER"));
    InkBox rb = r.ink();
    EXPECT_EQ(rb.width(), 2);
    EXPECT_NEAR(rb.left + 1, 301 - turned.height, 1);
    EXPECT_EQ(rb.top, 50);
    EXPECT_NEAR(rb.bottom + 1, 50 + turned.width, 1);
}

TEST_F(Jpl, TextAttributesBoldTurnAndScale) {
    DotImage plain = jpl_label(text1(50, 50, 48, 0, 0, "ABC"));
    DotImage bold = jpl_label(text1(50, 50, 48, 0x01, 0, "ABC"));
    DotImage wide = jpl_label(text1(50, 50, 48, 0, 0x01, "ABC"));
    DotImage tall = jpl_label(text1(50, 50, 48, 0, 0x10, "ABC"));
    DotImage turned = jpl_label(text1(300, 50, 48, 0x10, 0, "ABC"));
    InkBox p = plain.ink(), w = wide.ink(), t = tall.ink(), r = turned.ink();
    auto count = [](const DotImage& img) {
        size_t n = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) n += img.dot(x, y);
        return n;
    };
    EXPECT_GT(count(bold), count(plain)) << "bold letters carry more ink";
    EXPECT_NEAR(w.width(), 2 * p.width(), p.width() / 4) << "width scale 1: twice as wide";
    EXPECT_NEAR(t.height(), 2 * p.height(), p.height() / 3) << "height scale 1: twice as tall";
    EXPECT_NEAR(r.height(), p.width(), 4) << "turned 90 degrees: the text runs down the page";
    EXPECT_LE(r.right, 301) << "turned about its origin";
}

TEST_F(Jpl, TextIsReadable) {
    DotImage img = jpl_label(text1(40, 40, 64, 0, 0, "HELLO JPL 123"));
    EXPECT_NE(ocr(img, dir.path, grown(img, img.ink(), 8), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789").find("HELLOJPL123"),
              std::string::npos);
}

TEST_F(Jpl, LinesAndBoxes) {
    DotImage l = jpl_label(cmd(0x5C, 1) + u16(50) + u16(60) + u16(250) + u16(60) + u16(6) + '\x01');
    InkBox lb = l.ink();
    EXPECT_EQ(lb.left, 50);
    EXPECT_EQ(lb.right, 249);
    EXPECT_EQ(lb.height(), 6);
    DotImage skipped = jpl_label(cmd(0x5C, 1) + u16(50) + u16(60) + u16(250) + u16(60) + u16(6) + '\x00' +
                                 line0(0, 200, 10, 200));
    EXPECT_TRUE(skipped.ink_in(0, 0, 400, 100).empty) << "a line whose draw flag is not 1";
    // Box: a 2-dot frame inside the corners.
    DotImage box = jpl_label(cmd(0x26, 0) + u16(100) + u16(100) + u16(300) + u16(200));
    InkBox bb = box.ink();
    EXPECT_NEAR(bb.left, 100, 1);
    EXPECT_NEAR(bb.right, 299, 1);
    EXPECT_NEAR(bb.bottom, 199, 1);
    EXPECT_FALSE(box.dot(200, 150));
    // Box with width 10, colour 1: the frame's outer edge on the corners.
    DotImage thick = jpl_label(cmd(0x26, 1) + u16(100) + u16(100) + u16(300) + u16(200) + u16(10) + '\x01');
    EXPECT_TRUE(thick.dot(100, 150) && thick.dot(109, 150));
    EXPECT_FALSE(thick.dot(111, 150));
    // Other colours: a 1-dot outline and the inside, inset by the width, filled.
    DotImage filled = jpl_label(cmd(0x26, 1) + u16(100) + u16(100) + u16(300) + u16(200) + u16(10) + '\x02');
    EXPECT_TRUE(filled.dot(100, 150));
    EXPECT_FALSE(filled.dot(105, 150));
    EXPECT_TRUE(filled.dot(200, 150));
    // Solid box, colour 1: filled whole.
    DotImage solid = jpl_label(cmd(0x2A, 0) + u16(100) + u16(100) + u16(300) + u16(140) + '\x01');
    InkBox sb = solid.ink();
    EXPECT_NEAR(sb.width(), 200, 1);
    EXPECT_NEAR(sb.height(), 40, 1);
    EXPECT_TRUE(solid.dot(200, 120));
}

TEST_F(Jpl, LabelHomeMovesLinesButNotSymbols) {
    DotImage l = jpl_label(start_at(10, 20, 420).substr(0) + line0(0, 0, 100, 0));
    // (start_at inside the label body starts it again with the home; END closes it.)
    InkBox lb = l.ink();
    EXPECT_EQ(lb.left, 10);
    EXPECT_EQ(lb.right, 109);
    EXPECT_NEAR(lb.top, 19, 1);
    run_jpl(start_at(10, 20, 420) + qr(0, 0, 3, 0, "HOME") + END);
    DotImage q = take_image();
    EXPECT_EQ(q.ink().left, 0);
    EXPECT_EQ(q.ink().top, 0);
    EXPECT_EQ(texts_of(read_symbols(q, dir.path), "QRCode"), std::vector<std::string>{"HOME"});
}

TEST_F(Jpl, CellBitmapsWrapAndEndAtTheNextCommand) {
    // Three cells on, one off, then the end of label straight after the data.
    run_jpl(START + cmd(0x21, 0) + u16(100) + u16(50) + u16(10) + u16(8) + "\xff\xff\x02\xff" + END);
    DotImage img = take_image();
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 50);
    EXPECT_EQ(b.right, 139);
    EXPECT_EQ(b.height(), 8);
    EXPECT_FALSE(img.dot(125, 54)) << "the third cell is off";
    // Cells that reach 560 dots wrap into a band below, starting again at x.
    std::string row(10, '\xff');
    DotImage wrapped = jpl_label(cmd(0x21, 0) + u16(500) + u16(50) + u16(10) + u16(8) + row);
    EXPECT_EQ(wrapped.ink().right, 559);
    EXPECT_TRUE(wrapped.dot(500, 58)) << "the second band";
    // Variant 1: on value 0x01 (a zero byte counts as one), top to bottom, cells scaled.
    DotImage down = jpl_label(cmd(0x21, 1) + u16(100) + u16(50) + u16(10) + u16(8) + '\x03' + '\x41' +
                              std::string("\x01\x00\xff\x01", 4));
    InkBox d = down.ink();
    EXPECT_EQ(d.width(), 20) << "width scale 1 doubles the cell";
    EXPECT_EQ(d.height(), 4 * 16) << "height scale 1 doubles it";
    EXPECT_FALSE(down.dot(105, 50 + 2 * 16 + 4)) << "0xFF is off with the on value 0x01";
}

TEST_F(Jpl, LinearBarcodesDecode) {
    struct Case {
        char type;
        std::string data, format, read;
    } cases[] = {
        {'A', "01234567890", "UPCA", "012345678905"},
        {'B', "123456", "UPCE", "01234565"},
        {'C', "590123412345", "EAN13", "5901234123457"},
        {'E', "ABC", "Code39", "ABCX"},  // the mod 43 character X: 10 + 11 + 12 = 33
        {'F', "1234567890", "ITF", "1234567890"},
        {'G', "A40156B", "Codabar", "40156"},  // the reader leaves out start and stop
        {'H', "CODE93", "Code93", "CODE93"},
        {'I', "JPL-128 ok", "Code128", "JPL-128 ok"},
    };
    for (const Case& c : cases) {
        DotImage img = jpl_label(linear(60, 40, c.type, 100, 2, 0, c.data));
        InkBox b = img.ink();
        EXPECT_EQ(b.top, 40) << c.type;
        if (c.type > 'D') {  // (EAN and UPC have their guard bars longer and the quiet zone left)
            EXPECT_EQ(b.left, 60) << c.type;
            EXPECT_EQ(b.height(), 100) << c.type << ": no human-readable line";
        }
        EXPECT_EQ(texts_of(read_symbols(img, dir.path), c.format), std::vector<std::string>{c.read}) << c.type;
    }
    // Code 39 carries its check character: the reader that checks it accepts the symbol.
    DotImage code39 = jpl_label(linear(60, 40, 'E', 100, 2, 0, "ABC"));
    EXPECT_NE(zbar_read(code39, dir.path).find("ABCX"), std::string::npos);
}

TEST_F(Jpl, TwoDimensionalSymbolsDecodeAndTurnAboutTheirOrigin) {
    DotImage q = jpl_label(qr(100, 100, 4, 0, "JPL QR"));
    EXPECT_EQ(q.ink().left, 100);
    EXPECT_EQ(texts_of(read_symbols(q, dir.path), "QRCode"), std::vector<std::string>{"JPL QR"});
    DotImage pdf = jpl_label(cmd(0x31, 1) + '\x04' + '\x02' + '\x03' + u16(50) + u16(60) + '\x02' + '\x00' +
                             "PDF417 FROM JPL" + '\0');
    EXPECT_EQ(pdf.ink().left, 50);
    EXPECT_EQ(texts_of(read_symbols(pdf, dir.path), "PDF417"), std::vector<std::string>{"PDF417 FROM JPL"});
    DotImage dm = jpl_label(cmd(0x31, 2) + u16(70) + u16(80) + '\x04' + '\x00' + "DATA MATRIX" + '\0');
    InkBox db = dm.ink();
    EXPECT_EQ(db.left, 70);
    EXPECT_EQ(db.top, 80);
    EXPECT_EQ(texts_of(read_symbols(dm, dir.path), "DataMatrix"), std::vector<std::string>{"DATA MATRIX"});
    // Grid Matrix (no reader here knows it): a square symbol of 4-dot modules at its origin.
    DotImage gm = jpl_label(cmd(0x31, 3) + '\0' + u16(90) + u16(90) + '\x04' + '\x00' + "GRID" + '\0');
    InkBox gb = gm.ink();
    EXPECT_EQ(gb.left, 90);
    EXPECT_EQ(gb.top, 90);
    EXPECT_EQ(gb.width(), gb.height());
    EXPECT_EQ(gb.width() % 4, 0);
    // Module widths outside 1..4 are 3; turned symbols turn about their origin.
    DotImage upright = jpl_label(qr(400, 300, 9, 0, "TURN"));
    InkBox u = upright.ink();
    EXPECT_EQ(u.width() % 3, 0);
    DotImage r90 = jpl_label(qr(400, 300, 3, 1, "TURN"));
    InkBox r = r90.ink();
    EXPECT_EQ(r.right, 399) << "90 degrees: left of the origin";
    EXPECT_EQ(r.top, 300);
    DotImage r180 = jpl_label(qr(400, 300, 3, 2, "TURN"));
    EXPECT_EQ(r180.ink().right, 399);
    EXPECT_EQ(r180.ink().bottom, 299);
    DotImage r270 = jpl_label(qr(400, 300, 3, 3, "TURN"));
    EXPECT_EQ(r270.ink().left, 400);
    EXPECT_EQ(r270.ink().bottom, 299);
    for (const DotImage* img : {&r90, &r180, &r270})
        EXPECT_EQ(texts_of(read_symbols(*img, dir.path), "QRCode"), std::vector<std::string>{"TURN"});
}

TEST_F(Jpl, PaperRollTestTextAndUnknownCommands) {
    run_jpl(cmd(0x0C, 0) + cmd(0x0C, 1) + cmd(0x77, 0) + "\x01\x02\x03");
    EXPECT_EQ(count_shell("/root/engine_cmd F 3"), 1);
    EXPECT_EQ(image_count(), 0);
    DotImage test = jpl_label(cmd(0x0B, 0));
    InkBox b = test.ink();
    EXPECT_NEAR(b.left, 60, 10);
    EXPECT_GT(b.width(), 5 * 100) << "five characters of 60 points";
    // A command cut short by the end of the input is dropped; the next one is read.
    run_jpl(START + cmd(0x54, 1) + u16(10));
    run_jpl(END);
    EXPECT_TRUE(take_image().ink().empty);
}

TEST_F(Jpl, SampleLabelDecodes) {
    std::ifstream in(std::string(PRINTER_SOURCE_DIR) + "/samples/label.jpl", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    ASSERT_FALSE(bytes.str().empty());
    run_jpl(bytes.str());
    DotImage img = take_image();
    EXPECT_GE(img.height, 1218);
    std::vector<ReadSymbol> found = read_symbols(img, dir.path);
    EXPECT_EQ(texts_of(found, "Code128"), std::vector<std::string>{"1Z999AA10123456784"});
    EXPECT_EQ(texts_of(found, "QRCode"), std::vector<std::string>{"https://track.example.net/1Z999AA10123456784"});
    EXPECT_EQ(texts_of(found, "DataMatrix"), std::vector<std::string>{"1Z999AA10123456784 PARCEL 1/3"});
    std::vector<ReadSymbol> pdf = read_symbols(img, dir.path, InkBox{false, 230, 980, 811, 1115});
    EXPECT_EQ(texts_of(pdf, "PDF417"), std::vector<std::string>{"PO 778812 / DEPT 42 / BOX 1 OF 3 / WEIGHT 2 LB"});
    std::vector<ReadSymbol> route = read_symbols(img, dir.path, InkBox{false, 310, 550, 811, 645});
    ASSERT_EQ(texts_of(route, "Code39").size(), 1u);
    EXPECT_EQ(texts_of(route, "Code39")[0].substr(0, 8), "ROUTE420");
    EXPECT_NE(ocr(img, dir.path, InkBox{false, 55, 195, 700, 250}).find("HARBOURSTORESLTD"), std::string::npos);
}
