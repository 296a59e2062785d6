#include "dot_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/dot_image_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::string cmd = "rm -rf '" + path + "'"; (void)std::system(cmd.c_str()); }
};

std::vector<uint8_t> pattern_rows(int rows) {
    std::vector<uint8_t> v(size_t(rows) * BYTES_PER_LINE);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 7 + i / BYTES_PER_LINE);
    return v;
}
}  // namespace

TEST(DotImage, BothHeaderFormsGiveTheSameRows) {
    TempDir d;
    auto raster = pattern_rows(100);
    std::string a = d.path + "/padded.pbm", b = d.path + "/plain.pbm";
    ASSERT_TRUE(write_dot_image_file(a, HEAD_DOTS, 100, raster.data(), true));
    ASSERT_TRUE(write_dot_image_file(b, HEAD_DOTS, 100, raster.data(), false));
    EXPECT_EQ(dot_image_header(1728, 100, true), "P4\n1728 00100\n");
    EXPECT_EQ(dot_image_header(1728, 100, false), "P4\n1728 100\n");

    std::vector<uint8_t> ra(PBM_BUFFER_SIZE), rb(PBM_BUFFER_SIZE);
    EXPECT_EQ(read_dot_image(a, ra.data(), ra.size(), 0), 100);
    EXPECT_EQ(read_dot_image(b, rb.data(), rb.size(), 0), 100);
    EXPECT_TRUE(std::equal(raster.begin(), raster.end(), ra.begin()));
    EXPECT_TRUE(std::equal(raster.begin(), raster.end(), rb.begin()));
    DotImageInfo info;
    ASSERT_TRUE(probe_dot_image(a, info));
    EXPECT_EQ(info.width, 1728);
    EXPECT_EQ(info.height, 100);
    EXPECT_EQ(info.raster_len, raster.size());
}

TEST(DotImage, CutsToRoomSheetLengthAndRasterLength) {
    TempDir d;
    auto raster = pattern_rows(3000);
    std::string p = d.path + "/long.pbm";
    ASSERT_TRUE(write_dot_image_file(p, HEAD_DOTS, 3000, raster.data(), true));
    std::vector<uint8_t> buf(PBM_BUFFER_SIZE);
    EXPECT_EQ(read_dot_image(p, buf.data(), buf.size(), 0), 3000);
    EXPECT_EQ(read_dot_image(p, buf.data(), buf.size(), 1), 3000);
    EXPECT_EQ(read_dot_image(p, buf.data(), buf.size(), 2), SHEET_MAX_ROWS);
    // Only 1000 rows of room left in the ring: the rest is cut, never written past the room.
    std::vector<uint8_t> small(1000 * BYTES_PER_LINE + 100, 0xEE);
    EXPECT_EQ(read_dot_image(p, small.data(), 1000 * BYTES_PER_LINE, 0), 1000);
    EXPECT_EQ(small[1000 * BYTES_PER_LINE], 0xEE);
    EXPECT_TRUE(std::equal(small.begin(), small.begin() + 1000 * BYTES_PER_LINE, raster.begin()));

    // A header that claims more rows than the file holds: only the rows present are taken.
    DotImageInfo info{HEAD_DOTS, 500, 14, 10 * BYTES_PER_LINE + 5};
    EXPECT_EQ(dot_image_rows_to_take(info, 0, PBM_BUFFER_SIZE), 10);
}

TEST(DotImage, UnreadableFilesGiveNoRows) {
    TempDir d;
    std::vector<uint8_t> buf(BYTES_PER_LINE * 4);
    EXPECT_EQ(read_dot_image(d.path + "/missing.pbm", buf.data(), buf.size(), 0, 0), 0);
    std::string bad = d.path + "/bad.pbm";
    FILE* f = fopen(bad.c_str(), "w");
    fputs("P5\n1728 4\n", f);
    fclose(f);
    EXPECT_EQ(read_dot_image(bad, buf.data(), buf.size(), 0, 0), 0);
    DotImageInfo info;
    const uint8_t junk[] = "P4\n1728x4\n";
    EXPECT_FALSE(parse_dot_image_header(junk, sizeof junk - 1, info));
}

TEST(DotImage, BitReversal) {
    EXPECT_EQ(reverse8(0x01), 0x80);
    EXPECT_EQ(reverse8(0xF0), 0x0F);
    EXPECT_EQ(reverse8(0xA5), 0xA5);
    EXPECT_EQ(reverse8(0x12), 0x48);
    uint8_t row[3] = {0x01, 0x03, 0xFF};
    reverse_bits(row, 3);
    EXPECT_EQ(row[0], 0x80);
    EXPECT_EQ(row[1], 0xC0);
    EXPECT_EQ(row[2], 0xFF);
}
