#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace engine;
using namespace enginetest;

namespace {

template <class L>
std::vector<uint8_t> serialise(const std::vector<LineNode<L>>& nodes, const std::vector<uint8_t>& dots, int hotpoint = 80) {
    std::vector<uint8_t> out(nodes.size() * max_row_words<L>() * 2);
    long n = serialise_rows<L>(nodes.data(), dots.data(), int(nodes.size()), hotpoint, out.data(), out.size());
    EXPECT_GE(n, 0);
    out.resize(size_t(std::max(n, 0L)));
    return out;
}

template <class L>
struct Engine {
    std::unique_ptr<Profiler<L>> p = std::make_unique<Profiler<L>>();
    std::vector<LineNode<L>> list = std::vector<LineNode<L>>(MAX_ROWS);
    std::vector<point_t> prof = std::vector<point_t>(MAX_ROWS);
    std::vector<uint8_t> out = std::vector<uint8_t>(PROFILE_BUF_SIZE);
    int finalspeed = 0;
    Engine() {
        load_device_profiler(*p, L::battery ? 0 : 280);
        p->caps.ips_limit = 72;
    }
    long block(const uint8_t* rows, int J, int first = 0, int last = 72) {
        return profile_block(*p, rows, J, 13, first, last, list.data(), prof.data(), out.data(), out.size(), finalspeed);
    }
};

}  // namespace

TEST(ProfileFile, PaddingToWholeBlocks) {
    EXPECT_EQ(padded_size(0), 0);
    EXPECT_EQ(padded_size(1), 4096);
    EXPECT_EQ(padded_size(4096), 4096);
    EXPECT_EQ(padded_size(4097), 8192);  // two blocks, the second padded with zeros
    EXPECT_EQ(padded_size(4097) / HSS_BLOCK, 2);
}

TEST(ProfileFile, BlankRowIsThreeWords) {
    std::vector<LineNode<MainsLayout>> nodes(1);
    nodes[0] = {};
    nodes[0].rs1 = 20;
    nodes[0].rs2 = 255;
    std::vector<uint8_t> dots(ROW_BYTES, 0);
    auto bytes = serialise(nodes, dots);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 0, 255, 20}));
    auto b2 = serialise<BatteryLayout>(std::vector<LineNode<BatteryLayout>>{LineNode<BatteryLayout>{}}, dots);
    EXPECT_EQ(b2.size(), 6u);
}

TEST(ProfileFile, EndCodesOfTheLastRow) {
    std::vector<uint8_t> dots(2 * ROW_BYTES, 0);
    std::vector<LineNode<MainsLayout>> nodes(2);
    nodes[0] = {};
    nodes[1] = {};
    nodes[0].rs1 = 30;
    nodes[0].rs2 = 31;  // not the last row: the step word is plain
    nodes[1].rs1 = 20;
    struct Case {
        uint8_t rs2, code;
    } cases[] = {{20, 0xF0}, {19, 0xF1}, {21, 0xF2}, {255, 255}};
    for (auto c : cases) {
        nodes[1].rs2 = c.rs2;
        auto bytes = serialise(nodes, dots);
        ASSERT_EQ(bytes.size(), 12u);
        EXPECT_EQ(bytes[4], 31);
        EXPECT_EQ(bytes[5], 30);
        EXPECT_EQ(bytes[10], c.code) << int(c.rs2);
        EXPECT_EQ(bytes[11], 20);
    }
}

TEST(ProfileFile, PulseSplit) {
    auto a = split_burn(300, 10, 80, 75);
    EXPECT_EQ(a.first, 300);
    EXPECT_EQ(a.second, 0);  // 75 would be below 255
    auto b = split_burn(1200, 10, 80, 75);
    EXPECT_EQ(b.first, 900);
    EXPECT_EQ(b.second, 300);
    auto c = split_burn(1200, 13, 80, 75);  // from step 13 up: PRINTHEAD_HOTPOINT
    EXPECT_EQ(c.first, 1200);
    EXPECT_EQ(c.second, 0);  // 960 + 240: the second would be below 255
    auto d = split_burn(2000, 40, 80, 75);
    EXPECT_EQ(d.first, 1600);
    EXPECT_EQ(d.second, 400);
    auto e = split_burn(2000, 4, 80, 88);  // battery share for slow rows
    EXPECT_EQ(e.first, 2000);
    EXPECT_EQ(e.second, 0);
    auto f = split_burn(3000, 4, 80, 88);
    EXPECT_EQ(f.first, 2640);
    EXPECT_EQ(f.second, 360);
}

TEST(ProfileFile, RowLayoutWordByWord) {
    // One row, dots in banks 0 and 2 only.
    std::vector<uint8_t> dots(ROW_BYTES, 0);
    dots[0] = 0x12;
    dots[1] = 0x34;
    dots[108] = 0x80;
    std::vector<LineNode<MainsLayout>> nodes(1);
    LineNode<MainsLayout>& n = nodes[0];
    n = {};
    build_clumps<MainsLayout>(dots.data(), 280, n);
    n.rs1 = 40;
    n.rs2 = 255;
    for (int j = 0; j < n.numsburn; ++j) n.btimes[j] = static_cast<uint16_t>(400 + j);
    auto bytes = serialise(nodes, dots);
    // odd (216, 0), even (216, 0), step (40, 255), 2 burns x 2 words, mask, 2 banks x 27 words
    ASSERT_EQ(bytes.size(), size_t(2 * (3 + 4 + 1 + 54)));
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 216);
    EXPECT_EQ(bytes[3], 216);
    EXPECT_EQ(bytes[4], 255);
    EXPECT_EQ(bytes[5], 40);
    EXPECT_EQ(bytes[6] | bytes[7] << 8, 400);  // first pulse of burn 0 (400 * 20 % < 255)
    EXPECT_EQ(bytes[8] | bytes[9] << 8, 0);
    EXPECT_EQ(bytes[10] | bytes[11] << 8, 401);
    EXPECT_EQ(bytes[14] | bytes[15] << 8, 0x5);  // banks 0 and 2
    EXPECT_EQ(bytes[16], 0x34);  // word (0x12, 0x34) stored low byte first
    EXPECT_EQ(bytes[17], 0x12);
    EXPECT_EQ(bytes[16 + 54 + 1], 0x80);  // bank 2 byte 0
}

TEST(ProfileFile, StreamDecodesBackToTheSameDots) {
    // Mains and battery, label content and random content of many densities.
    auto check = [](auto engine_tag, int seed) {
        using L = decltype(engine_tag);
        Engine<L> e;
        auto rows = seed % 2 ? label_rows(200, seed) : random_rows(200, seed, seed % 100);
        std::vector<DecodedRow<L>> decoded;
        int at = 0;
        std::vector<uint8_t> stream;
        while (at < 200) {
            int J = std::min(80, 200 - at);
            long n = e.block(&rows[size_t(at) * ROW_BYTES], J, e.finalspeed, 200 - at - J > 0 ? 72 : 0);
            ASSERT_GT(n, 0);
            size_t old = stream.size();
            stream.resize(old + size_t(padded_size(n)), 0);
            std::memcpy(&stream[old], e.out.data(), size_t(n));
            at += J == 80 ? 40 : J;
        }
        ASSERT_TRUE(decode_stream<L>(stream.data(), stream.size(), decoded, true));
        ASSERT_EQ(decoded.size(), 200u);
        for (int r = 0; r < 200; ++r) {
            ASSERT_EQ(0, std::memcmp(decoded[size_t(r)].dots.data(), &rows[size_t(r) * ROW_BYTES], ROW_BYTES)) << "row " << r;
            int wo = 0, we = 0;
            for (int w : decoded[size_t(r)].oddw) wo += w;
            for (int w : decoded[size_t(r)].evenw) we += w;
            EXPECT_LE(wo, ROW_BYTES);
            EXPECT_LE(we, ROW_BYTES);
        }
        EXPECT_EQ(decoded.back().low, 255);  // the end of what was pending
    };
    for (int seed = 1; seed <= 12; ++seed) {
        check(MainsLayout{}, seed);
        check(BatteryLayout{}, seed);
    }
}

TEST(ProfileFile, BlockOfEightyWritesFortyRows) {
    Engine<MainsLayout> e;
    auto rows = label_rows(80, 5);
    long n = e.block(rows.data(), 80, 0, 72);
    std::vector<DecodedRow<MainsLayout>> d;
    ASSERT_TRUE(decode_stream<MainsLayout>(e.out.data(), size_t(n), d, false));
    ASSERT_EQ(d.size(), 40u);
    EXPECT_EQ(e.finalspeed, e.list[40].rs1);
    EXPECT_GE(d.back().low, 0xF0);
    EXPECT_LE(d.back().low, 0xF2);
    // Fewer rows: all of them, ending with 255; the next block starts from standstill.
    long m = e.block(rows.data(), 79, 0, 0);
    d.clear();
    ASSERT_TRUE(decode_stream<MainsLayout>(e.out.data(), size_t(m), d, false));
    EXPECT_EQ(d.size(), 79u);
    EXPECT_EQ(d.back().low, 255);
    EXPECT_EQ(d.back().rs1, 0);  // the paper stops at the end
    EXPECT_EQ(e.finalspeed, 0);
}

TEST(ProfileFile, RowsStayWithinTheirWordBudget) {
    Engine<MainsLayout> m;
    Engine<BatteryLayout> b;
    std::vector<uint8_t> black(80 * ROW_BYTES, 0xFF);
    long nm = m.block(black.data(), 79);
    long nb = b.block(black.data(), 79);
    EXPECT_EQ(nm, 79L * 122 * 2);  // 2 + 2 width words, step, 4 burns, mask, 4 banks
    EXPECT_LE(nb, 79L * 164 * 2);
    std::vector<DecodedRow<BatteryLayout>> d;
    ASSERT_TRUE(decode_stream<BatteryLayout>(b.out.data(), size_t(nb), d, false));
    EXPECT_EQ(d[10].databank, 0xFFF);
    EXPECT_EQ(d[10].oddw.size() + d[10].evenw.size(), 16u);  // 8 clumps of 30 bytes a parity
}

TEST(ProfileFile, WritesTheFile) {
    TempDir d;
    std::vector<uint8_t> bytes(5000, 0x5A);
    EXPECT_EQ(write_profile_bytes(d.path + "/profile.bin", bytes.data(), 5000), 5000);
    EXPECT_EQ(write_profile_bytes(d.path + "/missing/profile.bin", bytes.data(), 5000), -1);
}
