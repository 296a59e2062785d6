// Raster graphics compared dot by dot with the rows sent: uncompressed and compressed blocks,
// rows narrower and wider than the head, continuation blocks and 1B "J" gaps, what follows a
// graphic, graphics taller than a page; stored logos, the logo table and its bounds.
#include "image_builder.h"
#include "quorvel_test_support.h"

#include <cstdio>

namespace {
using Rows = std::vector<std::vector<uint8_t>>;

Rows pattern(int rows, int bytes, int seed) {
    Rows out(size_t(rows), std::vector<uint8_t>(size_t(bytes), 0));
    for (int r = 0; r < rows; ++r)
        for (int i = 0; i < bytes; ++i) out[size_t(r)][size_t(i)] = uint8_t((r * 37 + i * 11 + seed) * 73 >> 3);
    return out;
}

// Rows r0.. of the image against the rows sent (padded to the head, cut at it).
void expect_rows(const DotImage& img, int r0, const Rows& rows) {
    ASSERT_GE(img.height, r0 + int(rows.size()));
    int wrong = 0;
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t i = 0; i < 216; ++i) {
            uint8_t want = i < rows[r].size() ? rows[r][i] : 0;
            wrong += img.raster[(size_t(r0) + r) * 216 + i] != want;
        }
    EXPECT_EQ(wrong, 0) << "bytes that differ from the rows sent, from row " << r0;
}

void expect_white(const DotImage& img, int r0, int n) {
    EXPECT_TRUE(img.ink_in(0, r0, img.width, r0 + n).empty) << "rows " << r0 << ".." << r0 + n - 1;
}
}  // namespace

class QuorvelGraphics : public QuorvelTest {};

TEST_F(QuorvelGraphics, UncompressedRowsDotByDot) {
    Rows narrow = pattern(20, 30, 1);
    DotImage img = page("\x1B#" + uncompressed_block(narrow, 30));
    EXPECT_EQ(img.height, 20);
    expect_rows(img, 0, narrow);

    // Wider than the head: the first 216 bytes of each row stay, the rest is read and dropped
    // (here it is text, which must not print).
    Rows wide = pattern(12, 216, 2);
    std::string block;
    block.push_back(12);
    block.push_back(char(230));
    for (const auto& row : wide) {
        block.append(row.begin(), row.end());
        block += "DROPPED-BYTES!";
    }
    DotImage cut = page("\x1B#" + block);
    EXPECT_EQ(cut.height, 12) << "nothing of the dropped bytes is printed";
    expect_rows(cut, 0, wide);
}

TEST_F(QuorvelGraphics, CompressedRowsMatchTheUncompressedOnes) {
    Rows rows = pattern(40, 50, 3);
    for (size_t r = 10; r < 20; ++r) rows[r].assign(50, 0xFF);  // long repeats
    DotImage plain = page("\x1B#" + uncompressed_block(rows, 50));
    DotImage packed = page("\x1Bv" + compressed_block(rows, 50));
    expect_rows(packed, 0, rows);
    EXPECT_EQ(packed.raster, plain.raster);
    EXPECT_LT(compressed_block(rows, 50).size(), 40u * 50u) << "the runs did compress";

    Rows wide = pattern(6, 240, 4);
    DotImage cut = page("\x1Bv" + compressed_block(wide, 240));
    expect_rows(cut, 0, wide);
}

TEST_F(QuorvelGraphics, ContinuationBlocksAndGapsMakeOneGraphic) {
    Rows a = pattern(10, 20, 5), b = pattern(7, 216, 6), c = pattern(9, 40, 7);
    DotImage img = page("\x1B#" + uncompressed_block(a, 20) + "\x1B#" + uncompressed_block(b, 216) +
                        "\x1BJ\x05" + "\x1B#" + uncompressed_block(c, 40));
    EXPECT_EQ(img.height, 10 + 7 + 5 + 9);
    expect_rows(img, 0, a);
    expect_rows(img, 10, b);
    expect_white(img, 17, 5);
    expect_rows(img, 22, c);

    DotImage packed = page("\x1Bv" + compressed_block(a, 20) + "\x1Bv" + compressed_block(c, 40));
    expect_rows(packed, 0, a);
    expect_rows(packed, 10, c);
}

TEST_F(QuorvelGraphics, TheBytesAfterAGraphicAreCommandsAgain) {
    Rows a = pattern(10, 20, 8);
    DotImage text_only = page("OK 42\n");
    // 1B and another letter: both bytes are scanned again (here: emphasis on, then text).
    DotImage img = page("\x1B#" + uncompressed_block(a, 20) + "\x1BU1" + "OK 42\n");
    expect_rows(img, 0, a);
    EXPECT_EQ(img.height, 10 + text_only.height);
    EXPECT_EQ(read_text(img, dir.path, 10), "OK42");
    print("\x1BU0");
    // A compressed graphic followed by an uncompressed one: two graphics, one under the other.
    Rows b = pattern(5, 30, 9);
    DotImage two = page("\x1Bv" + compressed_block(a, 20) + "\x1B#" + uncompressed_block(b, 30));
    expect_rows(two, 0, a);
    expect_rows(two, 10, b);
}

TEST_F(QuorvelGraphics, BlankRowsMoveThePageDown) {
    DotImage text = page("TOP\n");
    DotImage img = page("TOP\n\x1BJ\x64" "BOTTOM\n");
    EXPECT_EQ(img.height, 2 * text.height + 100);
    expect_white(img, text.height, 100);
    EXPECT_EQ(print("\x1BJ\x64\x1BJ\x10").size(), 0u) << "white rows alone print nothing";
}

TEST_F(QuorvelGraphics, AGraphicTallerThanAPageIsSplit) {
    std::string job;
    std::vector<Rows> blocks;
    for (int i = 0; i < 30; ++i) {
        blocks.push_back(pattern(255, 8, i));
        job += "\x1B#" + uncompressed_block(blocks.back(), 8);
    }
    auto pages = print(job);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].height, MAX_PAGE_ROWS);
    EXPECT_EQ(pages[1].height, 30 * 255 - MAX_PAGE_ROWS);
    Rows all;
    for (const Rows& b : blocks) all.insert(all.end(), b.begin(), b.end());
    expect_rows(pages[0], 0, Rows(all.begin(), all.begin() + MAX_PAGE_ROWS));
    expect_rows(pages[1], 0, Rows(all.begin() + MAX_PAGE_ROWS, all.end()));
}

TEST_F(QuorvelGraphics, JobEndingInsideABlockKeepsWhatCame) {
    Rows a = pattern(10, 20, 10);
    std::string block = uncompressed_block(a, 20);
    DotImage img = page("\x1B#" + block.substr(0, 2 + 5 * 20 + 7));
    EXPECT_EQ(img.height, 6) << "five whole rows and the part of the sixth";
    expect_rows(img, 0, Rows(a.begin(), a.begin() + 5));
    EXPECT_EQ(print("\x1Bv\x05").size(), 0u);
    EXPECT_EQ(print(BYTES("\x1Bv\x05\x10\x85")).size(), 0u);
}

TEST_F(QuorvelGraphics, StoredHeaderLogoReplacesHeaderPbmAndPrints) {
    write_text_file(q.paths.header_pbm, "old header");
    write_text_file(q.paths.logo_list, "0=keep.png\nA=logoh.png\n");
    Rows logo = pattern(24, 16, 11);
    EXPECT_EQ(print("\x1BLGh\x1B#" + uncompressed_block(logo, 16)).size(), 0u) << "storing prints nothing";

    std::string header = read_text_file(q.paths.header_pbm);
    std::string want = "P4\n1728 24\n";
    for (const auto& row : logo) {
        std::string padded(216, '\0');
        std::copy(row.begin(), row.end(), padded.begin());
        want += padded;
    }
    EXPECT_EQ(header, want);
    EXPECT_TRUE(file_exists(q.paths.logos + "/logoh.png"));
    EXPECT_TRUE(file_exists(q.paths.logos_web + "/logoh.png"));
    EXPECT_FALSE(file_exists(q.paths.footer_pbm));
    EXPECT_EQ(read_text_file(q.paths.logo_list), "0=keep.png\nh=logoh.png\n")
        << "the other entry of the same name is dropped";

    DotImage printed = page("\x1BLgh" "UNDER\n");
    expect_rows(printed, 0, logo);
    EXPECT_EQ(read_text(printed, dir.path, 24), "UNDER");
}

TEST_F(QuorvelGraphics, LogoTableBounds) {
    // Names that leave the logo folder are not taken from the list.
    write_text_file(q.paths.logo_list, "3=../../outside.png\n4=/etc/passwd\n5=ok.png\nx=bad.png\n9\n");
    load_logo_table(q);
    EXPECT_EQ(q.logo_filenames[3], "");
    EXPECT_EQ(q.logo_filenames[4], "");
    EXPECT_EQ(q.logo_filenames[5], "ok.png");
    EXPECT_EQ(print("\x1BLg3\x1BLg4\x1BLg5\x1BLg7").size(), 0u) << "missing and refused logos print nothing";
    // A prefix outside the table is no logo command: its bytes print as text.
    EXPECT_EQ(read_text(page("\x1BLgZ\n"), dir.path), "LgZ");
    EXPECT_FALSE(update_logo_table(q, 'Z', "logoZ.png"));
    EXPECT_EQ(logo_index('0'), 0);
    EXPECT_EQ(logo_index('L'), 21);
    EXPECT_EQ(logo_index('h'), 22);
    EXPECT_EQ(logo_index('f'), 23);
    EXPECT_EQ(logo_index('M'), -1);
    // A store without a picture after it stores nothing and the bytes are scanned again.
    EXPECT_EQ(read_text(page("\x1BLG1" "AFTER\n"), dir.path), "AFTER");
    EXPECT_FALSE(file_exists(q.paths.logos + "/logo1.png"));
    // Footer logo.
    print("\x1BLGf\x1B#" + uncompressed_block(pattern(3, 4, 1), 4));
    EXPECT_EQ(read_text_file(q.paths.footer_pbm).substr(0, 10), "P4\n1728 3\n");
}
