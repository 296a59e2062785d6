// Floyd-Steinberg dithering against a plain two-dimensional version of the algorithm, grey levels
// against their ink share, the PNG forms of one picture, 1-bit pages cut into dot images, and the
// time limit of the outside tools.
#include "image_builder.h"
#include "pdf_test_support.h"
#include "run.h"

#include <chrono>
#include <cmath>
#include <random>
#include <signal.h>

namespace {
// The algorithm as written down: a whole array of values, errors added to the neighbours.
std::vector<uint8_t> reference_dither(const std::vector<uint8_t>& grey, int w, int h) {
    std::vector<std::vector<int>> pixel(size_t(w), std::vector<int>(size_t(h), 0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixel[size_t(x)][size_t(y)] = grey[size_t(y) * w + x];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int old = pixel[size_t(x)][size_t(y)];
            int now = old > 127 ? 255 : 0;
            pixel[size_t(x)][size_t(y)] = now;
            int e = old - now;
            if (x < w - 1) pixel[size_t(x + 1)][size_t(y)] += e * 7 / 16;
            if (y < h - 1 && x > 0) pixel[size_t(x - 1)][size_t(y + 1)] += e * 3 / 16;
            if (y < h - 1) pixel[size_t(x)][size_t(y + 1)] += e * 5 / 16;
            if (y < h - 1 && x < w - 1) pixel[size_t(x + 1)][size_t(y + 1)] += e * 1 / 16;
        }
    std::vector<uint8_t> bits(size_t((w + 7) / 8) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (pixel[size_t(x)][size_t(y)] == 0) bits[size_t(y) * ((w + 7) / 8) + x / 8] |= uint8_t(0x80 >> (x % 8));
    return bits;
}

std::vector<uint8_t> dither_all(const std::vector<uint8_t>& grey, int w, int h) {
    Ditherer d(w);
    size_t rb = size_t(w + 7) / 8;
    std::vector<uint8_t> bits(rb * h);
    for (int y = 0; y < h; ++y) d.row(grey.data() + size_t(y) * w, bits.data() + size_t(y) * rb);
    return bits;
}
}  // namespace

class PdfDither : public PdfTest {};

TEST_F(PdfDither, SameDotsAsTheTwoDimensionalAlgorithm) {
    std::mt19937 rng(7);
    for (int w : {1, 7, 8, 97, 1728}) {
        int h = 61;
        std::vector<uint8_t> grey(size_t(w) * h);
        for (auto& g : grey) g = uint8_t(rng());
        EXPECT_EQ(dither_all(grey, w, h), reference_dither(grey, w, h)) << "width " << w;
        for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 255 / grey.size());  // smooth ramp
        EXPECT_EQ(dither_all(grey, w, h), reference_dither(grey, w, h)) << "ramp, width " << w;
    }
}

TEST_F(PdfDither, InkShareFollowsTheGreyLevel) {
    const int w = 512, h = 256;
    for (int level : {0, 1, 32, 64, 127, 128, 192, 250, 255}) {
        std::vector<uint8_t> grey(size_t(w) * h, uint8_t(level));
        std::vector<uint8_t> bits = dither_all(grey, w, h);
        double ink = 0;
        for (uint8_t b : bits) ink += __builtin_popcount(b);
        // Each share is truncated toward zero, which loses a little of the error near black and white.
        EXPECT_NEAR(ink / (w * h), 1 - level / 255.0, 0.01) << "grey " << level;
    }
    // Black is every dot, white none, and the first pixel is the most significant bit.
    Ditherer d(16);
    uint8_t row[16] = {0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0};
    uint8_t bits[2] = {};
    d.row(row, bits);
    EXPECT_EQ(bits[0], 0x80);
    EXPECT_EQ(bits[1], 0x01);
}

TEST_F(PdfDither, PaletteAndOneBitPngGiveTheSameDots) {
    // A picture of black and white only, as 8-bit grey, palette and 1-bit grey.
    std::string rgba = make_png(dir.path + "/bw.png", 1728, 90, [](int x, int y) { return (x / 9 + y / 5) % 3 ? 255 : 0; },
                                [](int, int) { return 255; });
    std::string grey8 = dir.path + "/grey8.png", palette = dir.path + "/palette.png", bilevel = dir.path + "/bit.png";
    program_output({"convert", rgba, "-colorspace", "gray", "-depth", "8", "-define", "png:color-type=0", grey8});
    program_output({"convert", rgba, "-define", "png:color-type=3", "PNG8:" + palette});
    program_output({"convert", rgba, "-colorspace", "gray", "-depth", "1", "-define", "png:bit-depth=1", bilevel});
    std::vector<std::vector<uint8_t>> results;
    for (const std::string& path : {rgba, grey8, palette, bilevel}) {
        ASSERT_TRUE(file_exists(path)) << path;
        PageTaker taker(images, trigger_folder);
        s.images_in_job = 0;
        EXPECT_EQ(png_to_dot_images(s, path), 1) << path;
        auto pages = taker.images();
        ASSERT_EQ(pages.size(), 1u) << path;
        EXPECT_EQ(pages[0].height, 90);
        results.push_back(pages[0].raster);
    }
    for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << "form " << i;
    EXPECT_EQ(png_to_dot_images(s, dir.path + "/missing.png"), 0);
    write_text_file(dir.path + "/fake.png", "\x89PNG\r\n\x1a\nnot really");
    EXPECT_EQ(png_to_dot_images(s, dir.path + "/fake.png"), 0);
}

TEST_F(PdfDither, OneBitPagesAreCutAtThePrintEngineLimit) {
    // A page 1730 dots wide and 7000 rows tall (wider than the head: the edge is cut).
    std::string path = dir.path + "/page-1.pbm";
    std::string pbm = "P4\n1730 7000\n";
    std::string row(217, '\0');
    for (int y = 0; y < 7000; ++y) {
        row[0] = char(y & 0xFF);
        row[216] = char(0xC0);  // the two dots past the head
        pbm += row;
    }
    write_text_file(path, pbm);
    PageTaker taker(images, trigger_folder);
    EXPECT_EQ(pbm_to_dot_images(s, path), 2);
    auto pages = taker.images();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].header, "P4\n1728 6496\n");
    EXPECT_EQ(pages[1].header, "P4\n1728 504\n");
    EXPECT_EQ(pages[1].raster[0], uint8_t(6496 & 0xFF));
    EXPECT_EQ(pages[1].raster[3 * 216], uint8_t(6499 & 0xFF));
    EXPECT_TRUE(pages[0].ink_in(8, 0, 1728, 6496).empty);
}

TEST(RunLimited, ToolsAreStoppedAtTheirLimit) {
    EXPECT_EQ(run_argv_limited({"sh", "-c", "exit 3"}, 10000), 3);
    EXPECT_EQ(run_argv_limited({"/nonexistent/tool"}, 10000), 127);
    auto t0 = std::chrono::steady_clock::now();
    // A shell whose child would outlive it: the whole group goes.
    std::string marker = "/tmp/run_limited_" + std::to_string(getpid());
    EXPECT_EQ(run_argv_limited({"sh", "-c", "sleep 60 & echo $! > " + marker + "; wait"}, 300), RUN_TIMED_OUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    pid_t child = pid_t(std::atoi(read_text_file(marker).c_str()));
    unlink(marker.c_str());
    ASSERT_GT(child, 0);
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = kill(child, 0) != 0;
        if (!gone) usleep(10000);
    }
    EXPECT_TRUE(gone) << "the tool's own child is stopped too";
    // A program that ignores the polite request is killed.
    EXPECT_EQ(run_argv_limited({"sh", "-c", "trap '' TERM; while :; do :; done"}, 200), RUN_TIMED_OUT);
}
