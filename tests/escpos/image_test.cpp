// Bit images, raster images and stored graphics: where they land, what is cut, that the stream
// stays in step whatever sizes the host gives, and the stored file layout.
#include "escpos_test_support.h"

#include "escpos_images.h"

#include <dirent.h>

#include <fstream>
#include <iterator>

using namespace escpos;
using namespace std::string_literals;

namespace {
std::string l16(long v) { return bytes({int(v & 0xff), int((v >> 8) & 0xff)}); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// GS ( L 'p' (print buffer) and 'C' (NV graphics) for an image of w x h with its data.
std::string store_buffer(long w, long h, const std::string& data) {
    return gs("(L") + l16(10 + long(data.size())) + "0p0\x01\x01" "1" + l16(w) + l16(h) + data;
}
std::string store_nv(int kc1, int kc2, long w, long h, const std::string& data) {
    return gs("(L") + l16(11 + long(data.size())) + "0C0" + bytes({kc1, kc2, 1}) + l16(w) + l16(h) + "1" + data;
}
std::string print_buffer() { return gs("(L\x02\x00" "02"s); }
std::string print_nv(int kc1, int kc2) { return gs("(L\x06\x00" "0E"s) + bytes({kc1, kc2, 1, 1}); }
}  // namespace

TEST_F(EscposTest, ColumnImageOf1000SingleDensityColumnsIsCutAt1624Dots) {
    // 812 columns print (doubled to 1624 dots); the other 188 are read: were they not, they
    // would print as 188 letters X.
    run(esc("*\x00"s) + l16(1000) + std::string(812, '\xff') + std::string(188, 'X') + "Z\n");
    ASSERT_EQ(images.size(), 1u);
    InkBox ink = images[0].image.ink_in(0, 0, 1624, 30);
    EXPECT_EQ(ink.left, 0);
    EXPECT_EQ(ink.width(), 1624);
    // Each of the 8 dots is two rows and a blank row: rows 0..22 inked, 2, 5, .. blank.
    EXPECT_EQ(ink.top, 0);
    EXPECT_EQ(ink.bottom, 22);
    EXPECT_TRUE(images[0].image.dot(100, 0));
    EXPECT_TRUE(images[0].image.dot(100, 1));
    EXPECT_FALSE(images[0].image.dot(100, 2));
    EXPECT_TRUE(images[0].image.dot(100, 3));
    // The Z follows the image on its line: one 12-dot character after 1624 dots.
    EXPECT_FALSE(images[0].image.ink_in(1624, 0, 1640, 30).empty);
    EXPECT_TRUE(images[0].image.ink_in(1640, 0, 1728, 30).empty);
}

TEST_F(EscposTest, ColumnImageModesAndTheirWidths) {
    // 24-dot double density: three bytes a column, top byte first, bit 7 at the top.
    run(esc("*\x21") + l16(3) + bytes({0x80, 0, 0x01, 0xff, 0xff, 0xff, 0, 0, 0}) + "\n");
    ASSERT_EQ(images.size(), 1u);
    const DotImage& a = images[0].image;
    EXPECT_TRUE(a.dot(0, 0));
    EXPECT_TRUE(a.dot(0, 23));
    EXPECT_FALSE(a.dot(0, 1));
    EXPECT_EQ(a.ink().width(), 2);
    EXPECT_EQ(a.ink().height(), 24);
    // 24-dot single density: every column twice; 8-dot double density: once.
    fresh();
    run(esc("*\x20") + l16(2) + std::string(6, '\xff') + "\n");
    EXPECT_EQ(images.at(0).image.ink().width(), 4);
    fresh();
    run(esc("*\x01") + l16(5) + std::string(5, '\x01') + "\n");
    InkBox b = images.at(0).image.ink();
    EXPECT_EQ(b.width(), 5);
    EXPECT_EQ(b.top, 21);  // bit 0: rows 21 and 22
    EXPECT_EQ(b.height(), 2);
    // 1700 double-density columns: 1624 printed, 76 read.
    fresh();
    run(esc("*\x21") + l16(1700) + std::string(1624 * 3, '\xff') + std::string(76 * 3, 'X') + "\n");
    EXPECT_EQ(images.at(0).image.ink().width(), 1624);
    EXPECT_EQ(images.at(0).image.ink().height(), 24);
    // An unknown mode ends after m: the rest is text.
    fresh();
    decode(esc("*\x05") + "AB");
    EXPECT_STREQ(st->line.string, "AB");
}

TEST_F(EscposTest, ColumnImageThenLineFeedMovesBelowTheBlock) {
    st->device.conti_mode = false;
    decode("AB" + esc("*\x21") + l16(10) + std::string(30, '\xff'));
    EXPECT_EQ(st->page.ypos, 0);      // the print position stays on the line
    EXPECT_EQ(st->line.fill_xpos, 34);  // after the two letters and the 10 columns
    EXPECT_EQ(st->job.canvas_height, 24);
    decode("\n");
    EXPECT_GE(st->page.ypos, 24);
    run("");
    ASSERT_EQ(images.size(), 1u);
    InkBox block = images[0].image.ink_in(24, 0, 40, 40);
    EXPECT_EQ(block.left, 24);
    EXPECT_EQ(block.width(), 10);
    EXPECT_EQ(block.top, 0);
    EXPECT_EQ(block.height(), 24);
}

TEST_F(EscposTest, RasterImageOfOneDotPrintsTheLeftmostDot) {
    st->device.conti_mode = false;
    decode(gs("v0\x00"s) + l16(1) + l16(1) + "\x80");
    EXPECT_EQ(st->page.ypos, 1);
    // A page of one row waits for more before it is printed.
    run("\n");
    ASSERT_EQ(images.size(), 1u);
    InkBox ink = images[0].image.ink();
    EXPECT_EQ(ink.left, 0);
    EXPECT_EQ(ink.top, 0);
    EXPECT_EQ(ink.width(), 1);
    EXPECT_EQ(ink.height(), 1);
    // The '0' form of m behaves as 0; at the fill position.
    fresh();
    run("A" + gs("v00") + l16(2) + l16(2) + bytes({0x00, 0x01, 0x00, 0x01}) + "\n");
    InkBox two = paper().ink_in(12, 0, 1728, 2);
    EXPECT_EQ(two.left, 12 + 15);
    EXPECT_EQ(two.height(), 2);
}

TEST_F(EscposTest, RasterImageSizesFromTheHostAreBounded) {
    // 524280 dots wide, 3 rows: 1728 dots printed per row, every byte read.
    std::string row = std::string(216, '\xff') + std::string(65535 - 216, 'X');
    run(gs("v0\x00"s) + l16(65535) + l16(3) + row + row + row + "Z\n");
    DotImage p = paper();
    InkBox ink = p.ink_in(0, 0, 1728, 3);
    EXPECT_EQ(ink.width(), 1728);
    EXPECT_EQ(ink.height(), 3);
    EXPECT_FALSE(p.ink_in(0, 3, 20, 40).empty) << "the Z after the image";
    EXPECT_LT(p.height, 60);
    // 65535 rows: the page stops at its longest; the data is read all the same.
    fresh();
    run(gs("v0\x00"s) + l16(1) + l16(65535) + std::string(65535, '\x80') + "Z\n");
    long rows = 0;
    for (const auto& c : images) rows += c.image.height;
    EXPECT_LE(rows, PAGE_MAX_ROWS + 100);
    EXPECT_GE(rows, PAGE_MAX_ROWS);
    EXPECT_STREQ(st->line.string, "");
}

TEST_F(EscposTest, PrintBufferImageIsStoredInItsLayoutAndPrinted) {
    st->device.conti_mode = false;
    // 10 x 2: two bytes a row, bit-reversed, padded to four.
    decode(store_buffer(10, 2, bytes({0x80, 0x40, 0xc0, 0x00})));
    std::string file = read_file(tmp + "/graphic_tmp");
    EXPECT_EQ(file, bytes({10, 0, 2, 0, 32, 0, 0x01, 0x02, 0, 0, 0x03, 0, 0, 0}));
    EXPECT_EQ(st->job.canvas_height, 0) << "storing prints nothing";
    decode("AB" + print_buffer());
    EXPECT_EQ(st->page.ypos, 2) << "below the image";
    run("\n");
    DotImage p = paper();
    EXPECT_TRUE(p.dot(24, 0));
    EXPECT_TRUE(p.dot(24 + 9, 0));
    EXPECT_TRUE(p.dot(24, 1));
    EXPECT_TRUE(p.dot(25, 1));
    EXPECT_EQ(p.ink_in(24, 0, 40, 2).width(), 10);
}

TEST_F(EscposTest, PrintBufferOfAnEarlierJobPrintsAfterARestart) {
    run(store_buffer(16, 3, std::string(6, '\xff')));
    EXPECT_TRUE(images.empty());
    fresh();  // the interpreter starts again: the file is all that is left
    st->device.conti_mode = false;
    decode(print_buffer());
    EXPECT_EQ(st->page.ypos, 3);
    run("\n");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image.ink().width(), 16);
    EXPECT_EQ(images[0].image.ink().height(), 3);
    // Without the file nothing prints and the position stays.
    unlink((tmp + "/graphic_tmp").c_str());
    fresh();
    st->device.conti_mode = false;
    decode(print_buffer());
    EXPECT_EQ(st->page.ypos, 0);
    EXPECT_EQ(st->job.canvas_height, 0);
}

TEST_F(EscposTest, StoredFileWhoseHeaderDisagreesWithItsSizePrintsNothing) {
    st->device.conti_mode = false;
    // Header: 32 x 1000 but only two rows follow.
    write_text_file(tmp + "/graphic_tmp", bytes({32, 0, 0xe8, 0x03, 32, 0}) + std::string(8, '\xff'));
    decode(print_buffer());
    EXPECT_EQ(st->job.canvas_height, 0);
    // Padded width below the width, and a padded width that is no whole word.
    write_text_file(tmp + "/graphic_tmp", bytes({64, 0, 1, 0, 32, 0}) + std::string(4, '\xff'));
    decode(print_buffer());
    write_text_file(tmp + "/graphic_tmp", bytes({8, 0, 1, 0, 8, 0}) + std::string(1, '\xff'));
    decode(print_buffer());
    EXPECT_EQ(st->job.canvas_height, 0);
    // A file the size of its header prints.
    write_text_file(tmp + "/graphic_tmp", bytes({8, 0, 1, 0, 32, 0}) + std::string(4, '\xff'));
    decode(print_buffer());
    EXPECT_EQ(st->job.canvas_height, 1);
}

TEST_F(EscposTest, KeyCodes1And23And12And3NameTheSameFile) {
    decode(store_nv(1, 23, 8, 1, "\x0f") + store_nv(12, 3, 8, 1, "\xf0"));
    EXPECT_EQ(names_in(nv), std::vector<std::string>{"123"});
    EXPECT_EQ(read_file(nv + "123"), bytes({8, 0, 1, 0, 32, 0, 0x0f, 0, 0, 0}));
}

TEST_F(EscposTest, NvGraphicsAreStoredPrintedAndDeleted) {
    st->device.conti_mode = false;
    decode(store_nv('A', 'B', 24, 2, std::string(6, '\xff')) + store_nv('A', 'C', 8, 1, "\xff"));
    EXPECT_EQ(names_in(nv), (std::vector<std::string>{"6566", "6567"}));
    // Printed at the fill position; the print position stays.
    decode("A" + print_nv('A', 'B'));
    EXPECT_EQ(st->page.ypos, 0);
    EXPECT_EQ(st->job.canvas_height, 2);
    run("\n");
    InkBox ink = paper().ink_in(12, 0, 1728, 2);
    EXPECT_EQ(ink.left, 12);
    EXPECT_EQ(ink.width(), 24);
    // A key code outside 32..126 ends the command at that byte.
    fresh();
    decode(gs("(L\x06\x00" "0E"s) + bytes({0x10}) + "XY");
    EXPECT_STREQ(st->line.string, "XY");
    // Delete one, then all; the NV user memory in the same folder stays.
    write_text_file(nv + "nv_user_memory", std::string(1024, 'm'));
    decode(gs("(L\x04\x00" "0BAC"s));
    EXPECT_EQ(names_in(nv), (std::vector<std::string>{"6566", "nv_user_memory"}));
    decode(gs("(L\x05\x00" "0ACLR"s));
    EXPECT_EQ(names_in(nv), std::vector<std::string>{"nv_user_memory"});
    EXPECT_GE(count_shell("sync"), 2);
}

TEST_F(EscposTest, StoredImagesAreBoundedAndTheirDataRead) {
    // 65535 dots wide (8192 bytes a row), 2 rows: 1728 dots kept, every byte read.
    std::string row = std::string(216, '\xff') + std::string(8192 - 216, 'X');
    decode(store_buffer(65535, 2, row + row) + "Z");
    EXPECT_STREQ(st->line.string, "Z");
    std::string file = read_file(tmp + "/graphic_tmp");
    EXPECT_EQ(file.substr(0, 6), bytes({0xc0, 0x06, 2, 0, 0xc0, 0x06}));
    EXPECT_EQ(file.size(), 6u + 2 * 216);
    // 1728 x 5000: only what the row buffer holds (906598 / 216 = 4197 rows) is stored.
    // (fed in pieces: the input ring holds 512 KiB)
    fresh();
    job(store_buffer(1728, 5000, ""));
    for (int i = 0; i < 5; ++i) job(std::string(216 * 1000, '\x01'));
    decode("Z");
    EXPECT_STREQ(st->line.string, "Z");
    file = read_file(tmp + "/graphic_tmp");
    EXPECT_EQ(file.size(), 6u + 4197u * 216u);
    EXPECT_EQ(stored_layout(1728, 5000).height, 4197);
    // A file that cannot be created: the data is read all the same.
    fresh();
    st->env.graphic_tmp = dir.path + "/missing/graphic_tmp";
    decode(store_buffer(16, 2, "abcd") + "Z");
    EXPECT_STREQ(st->line.string, "Z");
}

TEST_F(EscposTest, GraphicsConditionsEndTheCommandAtTheFailingByte) {
    // m not '0', fn 2 with a wrong length, 'C' with b not 1: what follows is decoded anew.
    decode(gs("(L\x02\x00" "1X"s));
    EXPECT_STREQ(st->line.string, "X");
    fresh();
    decode(gs("(L\x03\x00" "02Y"s));
    EXPECT_STREQ(st->line.string, "Y");
    fresh();
    decode(gs("(L\x0c\x00" "0C0AB\x02"s) + "W");
    EXPECT_STREQ(st->line.string, "W");
    // GS 8 L: the 32-bit length form.
    fresh();
    decode(gs("8L\x0c\x00\x00\x00" "0p0\x01\x01" "1"s) + l16(8) + l16(1) + "\xff" + "V");
    EXPECT_STREQ(st->line.string, "V");
    EXPECT_EQ(read_file(tmp + "/graphic_tmp").size(), 10u);
}
