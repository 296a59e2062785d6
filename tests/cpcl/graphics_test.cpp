// Graphics: stored logos, COMPRESSED-GRAPHICS bitmaps, PCX pictures made here, boxes and lines,
// compared dot by dot or measured.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

#include <cairo.h>

#include <cstdint>

using Graphics = CpclTest;

namespace {
// A CG picture: `width` bytes by `height` rows, dot (x, y) black when pattern says so.
std::string cg_bytes(int width, int height, bool (*pattern)(int, int)) {
    std::string bytes;
    for (int y = 0; y < height; ++y)
        for (int b = 0; b < width; ++b) {
            uint8_t v = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (pattern(b * 8 + bit, y)) v |= uint8_t(0x80 >> bit);
            bytes.push_back(static_cast<char>(v));
        }
    return bytes;
}

bool checker(int x, int y) { return ((x / 2) + (y / 2)) % 2 == 0; }

// A one-bit PCX picture (version 5, one plane), run-length coded; `dark` dots are 0 bits (black
// in the palette).
std::string pcx_file(int width, int height, bool (*dark)(int, int)) {
    int bpl = (width + 15) / 16 * 2;
    std::string h(128, '\0');
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = 1;
    auto put16 = [&](int at, int v) {
        h[size_t(at)] = char(v & 0xFF);
        h[size_t(at) + 1] = char(v >> 8);
    };
    put16(8, width - 1);
    put16(10, height - 1);
    put16(12, 203);
    put16(14, 203);
    for (int i = 3; i < 6; ++i) h[size_t(16 + i)] = char(0xFF);  // palette: 0 black, 1 white
    h[65] = 1;
    put16(66, bpl);
    std::string data;
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> line(size_t(bpl), 0xFF);
        for (int x = 0; x < width; ++x)
            if (dark(x, y)) line[size_t(x / 8)] &= uint8_t(~(0x80 >> (x % 8)));
        for (size_t i = 0; i < line.size();) {
            size_t run = 1;
            while (i + run < line.size() && line[i + run] == line[i] && run < 63) ++run;
            if (run > 1 || (line[i] & 0xC0) == 0xC0) {
                data.push_back(char(0xC0 | run));
                data.push_back(char(line[i]));
            } else {
                data.push_back(char(line[i]));
            }
            i += run;
        }
    }
    return h + data;
}

bool frame_and_cross(int x, int y) { return x < 3 || y < 3 || x > 36 || y > 26 || x == y; }

bool ring(int x, int y) {
    int dx = x - 20, dy = y - 20;
    return dx * dx + dy * dy < 400 && dx * dx + dy * dy > 100;
}
}  // namespace

TEST_F(Graphics, CompressedGraphicsDotByDot) {
    std::string bits = cg_bytes(4, 24, checker);  // 32 x 24 dots
    // the bytes right after the last number, or after the line end
    for (const std::string& head : {std::string("CG 4 24 100 50 "), std::string("COMPRESSED-GRAPHICS 4 24 100 50\r\n")}) {
        DotImage img = label("! 0 203 203 120 1\r\n" + head + bits + "\r\nBOX 300 10 320 30 20\r\nPRINT\r\n");
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x) ASSERT_EQ(img.dot(100 + x, 50 + y), checker(x, y)) << head << x << "," << y;
        EXPECT_TRUE(img.ink_in(0, 0, 290, 120).left == 100 && img.ink_in(0, 0, 290, 120).right == 131);
        EXPECT_TRUE(img.dot(310, 20)) << "the command after the picture";
    }
}

TEST_F(Graphics, CompressedGraphicsBeyondTheLimitIsReadNotDrawn) {
    // 300 bytes a row is wider than any page: the bytes are read and dropped, the label goes on.
    std::string bits(300 * 4, '\xff');
    DotImage img = label("! 0 203 203 120 1\r\nCG 300 4 0 0 " + bits + "\r\nBOX 300 10 320 30 20\r\nPRINT\r\n");
    EXPECT_TRUE(img.ink_in(0, 0, 290, 120).empty);
    EXPECT_TRUE(img.dot(310, 20));
    // Sizes that are no numbers read nothing.
    img = label("! 0 203 203 120 1\r\nCG X 4 0 0\r\nBOX 300 10 320 30 20\r\nPRINT\r\n");
    EXPECT_TRUE(img.dot(310, 20));
}

TEST_F(Graphics, PcxPictureDotByDot) {
    std::string pcx = pcx_file(40, 30, frame_and_cross);
    DotImage img = label("! 0 203 203 120 1\r\nPCX 200 40 " + pcx + "\r\nBOX 400 10 420 30 20\r\nPRINT\r\n");
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(img.dot(200 + x, 40 + y), frame_and_cross(x, y)) << x << "," << y;
    EXPECT_TRUE(img.dot(410, 20)) << "the command after the picture";
    // numbers ended by the line end, a picture with runs
    pcx = pcx_file(41, 41, ring);
    img = label("! 0 203 203 120 1\r\nPCX 10 5\r\n" + pcx + "BOX 400 10 420 30 20\r\nPRINT\r\n");
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x) ASSERT_EQ(img.dot(10 + x, 5 + y), ring(x, y)) << x << "," << y;
    EXPECT_TRUE(img.dot(410, 20));
}

TEST_F(Graphics, PcxThatIsNoPictureDrawsNothing) {
    std::string not_pcx(128, 'x');
    DotImage img = label("! 0 203 203 120 1\r\nPCX 10 10 " + not_pcx + "\r\nBOX 400 10 420 30 20\r\nPRINT\r\n");
    EXPECT_TRUE(img.ink_in(0, 0, 390, 120).empty);
    EXPECT_TRUE(img.dot(410, 20));
}

TEST_F(Graphics, LogoScaledToItsSize) {
    // 20 x 10 picture: opaque left half, transparent right half
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 20, 10);
    cairo_t* cr = cairo_create(png);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_rectangle(cr, 0, 0, 10, 10);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(png, (logos + "/half.png").c_str());
    cairo_surface_destroy(png);

    DotImage img = label(one_label({"LOGO half 100 40 80 40"}, 200));
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 40);
    EXPECT_NEAR(b.width(), 40, 1);
    EXPECT_NEAR(b.height(), 40, 1);
    img = label(one_label({"LOGO half 100 40 0 0"}, 200));
    EXPECT_EQ(img.ink().width(), 10) << "its own size";
    // names that leave the logo folder are refused; a missing logo draws nothing
    img = label(one_label({"LOGO ../logos/half 100 40 80 40", "LOGO missing 100 40 80 40", "BOX 400 10 420 30 20"}, 200));
    EXPECT_TRUE(img.ink_in(0, 0, 390, 200).empty);
}

TEST_F(Graphics, BoxOutlineInsideItsCorners) {
    DotImage img = label(one_label({"BOX 100 50 300 150 5"}, 200));
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 50);
    EXPECT_EQ(b.right, 299);
    EXPECT_EQ(b.bottom, 149);
    EXPECT_EQ(runs(img, 100, 90, 310, true), std::vector<int>({5, 5})) << "edges 5 dots thick";
    std::vector<int> column;
    for (int y = 40; y <= 160; ++y) column.push_back(img.dot(200, y));
    EXPECT_EQ(std::count(column.begin(), column.end(), 1), 10);
    EXPECT_FALSE(img.dot(200, 100)) << "an outline";
    // a width that fills it; corners given the other way round
    img = label(one_label({"BOX 120 80 100 60 15"}, 200));
    EXPECT_TRUE(img.dot(110, 70));
    EXPECT_EQ(img.ink().width(), 20);
    // width 1
    img = label(one_label({"BOX 10 10 20 20 1"}, 200));
    EXPECT_EQ(runs(img, 15, 0, 40, true), std::vector<int>({1, 1}));
    EXPECT_EQ(img.ink().right, 19);
}

TEST_F(Graphics, Lines) {
    DotImage img = label(one_label({"LINE 100 50 300 50 3", "L 400 20 400 120 2", "LINE 500 20 600 120 4"}, 200));
    InkBox h = img.ink_in(0, 0, 350, 200), v = img.ink_in(350, 0, 450, 200), d = img.ink_in(450, 0, 700, 200);
    EXPECT_EQ(h.left, 100);
    EXPECT_EQ(h.right, 299);
    EXPECT_EQ(h.top, 50);
    EXPECT_EQ(h.height(), 3) << "grows down from y";
    EXPECT_EQ(v.left, 400);
    EXPECT_EQ(v.width(), 2) << "grows right from x";
    EXPECT_EQ(v.top, 20);
    EXPECT_EQ(v.bottom, 119);
    EXPECT_NEAR(d.left, 500, 3);
    EXPECT_NEAR(d.bottom, 120, 3);
    EXPECT_TRUE(img.dot(550, 70)) << "the diagonal";
    EXPECT_NEAR(runs(img, 70, 450, 700, true).front(), 5.66, 1) << "4 dots across a 45-degree line";
}

// Drawing far off the page is dropped where it is recorded: a label with it prints at once.
TEST_F(Graphics, DrawingFarOffThePageIsDropped) {
    DotImage img = label(one_label({"LINE 0 0 105 93100 10", "BOX 0 100 50000 2", "TEXT 7 0 2030203 100 FAR",
                                    "BOX 300 10 320 30 20"}, 200));
    EXPECT_TRUE(img.dot(310, 20));
    EXPECT_TRUE(img.dot(1, 60)) << "the part of the line on the page";
    EXPECT_TRUE(img.dot(1000, 2)) << "the box edge across the head";
    EXPECT_TRUE(img.ink_in(330, 10, 1728, 90).empty);
}

// The copies of a label carry its pictures too (their bytes are kept with the label's lines).
TEST_F(Graphics, PicturesOnEveryCopy) {
    std::string bits = cg_bytes(4, 24, checker);
    std::string pcx = pcx_file(40, 30, frame_and_cross);
    run("! 0 203 203 120 3\r\nTEXT 4 0 300 20 N1\r\nCOUNT 1\r\nCG 4 24 10 10 " + bits + "PCX 100 40 " + pcx +
        "\r\nPRINT\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    for (const DotImage& img : pages) {
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x) ASSERT_EQ(img.dot(10 + x, 10 + y), checker(x, y)) << x << "," << y;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) ASSERT_EQ(img.dot(100 + x, 40 + y), frame_and_cross(x, y)) << x << "," << y;
    }
    // without a counter as well
    run("! 0 203 203 120 2\r\nCG 4 24 10 10 " + bits + "\r\nPRINT\r\n");
    pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].raster, pages[1].raster);
    EXPECT_TRUE(pages[1].dot(10, 10));
}
