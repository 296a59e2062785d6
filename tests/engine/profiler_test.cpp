#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

using namespace engine;
using namespace enginetest;

namespace {

template <class L>
struct Block {
    std::unique_ptr<Profiler<L>> p = std::make_unique<Profiler<L>>();
    std::vector<LineNode<L>> list = std::vector<LineNode<L>>(MAX_ROWS);
    std::vector<point_t> prof = std::vector<point_t>(MAX_ROWS);
    explicit Block(int maxnsa = 432) { load_device_profiler(*p, maxnsa); }
    // One block with the caps the block cutter sets.
    void run(const std::vector<uint8_t>& rows, int temp = 13, int first = 72, int last = 72) {
        int J = int(rows.size() / ROW_BYTES);
        p->caps.ips_limit = p->caps.max_speed_index = 72;
        p->caps.max_firstline_speed = first;
        p->caps.max_lastline_speed = last;
        build_linked_list(*p, rows.data(), list.data(), prof.data(), J, temp);
        profile(*p, prof.data(), list.data(), J, temp);
    }
};

int parity_dots(const uint8_t* row, uint8_t mask) {
    int n = 0;
    for (int i = 0; i < ROW_BYTES; ++i) n += __builtin_popcount(row[i] & mask);
    return n;
}

// Every dot of the row lies in a clump of its parity, the clump counts add up, the node holds
// every burn.
template <class L>
void expect_clumps_cover(const LineNode<L>& n, const uint8_t* row) {
    ASSERT_LE(n.numsburn, L::node_entries);
    int no = 0, ne = 0, wo = 0, we = 0;
    while (no < L::node_entries && n.oddcw[no]) wo += n.oddcw[no++];
    while (ne < L::node_entries && n.evencw[ne]) we += n.evencw[ne++];
    ASSERT_EQ(n.numsburn, no + ne);
    int so = 0, se = 0;
    for (int j = 0; j < no; ++j) so += n.clumpdots[j];
    for (int j = 0; j < ne; ++j) se += n.clumpdots[no + j];
    EXPECT_EQ(so, parity_dots(row, 0xAA));
    EXPECT_EQ(se, parity_dots(row, 0x55));
    EXPECT_LE(wo, ROW_BYTES);
    EXPECT_LE(we, ROW_BYTES);
    for (int i = wo; i < ROW_BYTES; ++i) EXPECT_EQ(row[i] & 0xAA, 0) << "odd dot outside the clumps at byte " << i;
    for (int i = we; i < ROW_BYTES; ++i) EXPECT_EQ(row[i] & 0x55, 0) << "even dot outside the clumps at byte " << i;
}

}  // namespace

TEST(Profiler, DotCountTables) {
    init_luts();
    init_oddluts();
    init_evenluts();
    EXPECT_EQ(cbblut[0xFF], 8);
    EXPECT_EQ(oddlut[0x80], 1);
    EXPECT_EQ(oddlut[0x40], 0);
    EXPECT_EQ(oddlut[0xAA], 4);
    EXPECT_EQ(evenlut[0x55], 4);
    EXPECT_EQ(evenlut[0x01], 1);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(oddlut[b] + evenlut[b], cbblut[b]);
}

TEST(Profiler, BlankRowHasNoClumpsAndTheFastestAllowedSpeed) {
    Block<MainsLayout> b;
    std::vector<uint8_t> rows(3 * ROW_BYTES, 0);
    b.run(rows);
    const auto& n = b.list[1];
    EXPECT_EQ(n.numsburn, 0);
    EXPECT_EQ(n.databank, 0);
    EXPECT_EQ(n.oddcw[0], 0);
    EXPECT_EQ(n.evencw[0], 0);
    EXPECT_EQ(b.prof[1].profilex, 35);  // steps 70 and 71: the fastest pair under the limit 72
    // With a configured limit of 1.0 in/s (step 23) the fastest allowed speed index is 10.
    LineNode<MainsLayout> node{};
    EXPECT_EQ(find_best_speed(*b.p, node, 13, 23), 10);
}

TEST(Profiler, FullBlackRowMakesTwoClumpsPerParity) {
    Block<MainsLayout> b(432);
    std::vector<uint8_t> row(ROW_BYTES, 0xFF);
    LineNode<MainsLayout> n{};
    EXPECT_EQ(build_clumps<MainsLayout>(row.data(), 432, n), 1728);
    EXPECT_EQ(n.oddcw[0], 108);
    EXPECT_EQ(n.oddcw[1], 108);
    EXPECT_EQ(n.oddcw[2], 0);
    EXPECT_EQ(n.evencw[0], 108);
    EXPECT_EQ(n.evencw[1], 108);
    EXPECT_EQ(n.evencw[2], 0);
    EXPECT_EQ(n.numsburn, 4);
    EXPECT_EQ(n.databank, 0xF);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(n.clumpdots[j], 432);
}

TEST(Profiler, ClumpLimitSpreadsDotsEvenly) {
    Block<MainsLayout> b(432);
    // 600 dots: L = 600 / 2 + 9 = 309; each parity holds 300, so one clump each.
    std::vector<uint8_t> row(ROW_BYTES, 0);
    for (int i = 0; i < 75; ++i) row[i] = 0xFF;
    LineNode<MainsLayout> n{};
    build_clumps<MainsLayout>(row.data(), 432, n);
    EXPECT_EQ(n.numsburn, 2);
    EXPECT_EQ(n.oddcw[0], ROW_BYTES);
    EXPECT_EQ(n.databank, 0x3);
    // The same row on the battery head (base 120): 600 is a multiple of 120, so L = 120; a clump
    // closes on an odd byte count once 120 dots are reached: 30 bytes (120 dots) each.
    LineNode<BatteryLayout> m{};
    build_clumps<BatteryLayout>(row.data(), 120, m);
    EXPECT_EQ(m.oddcw[0], 30);
    EXPECT_EQ(m.clumpdots[0], 120);
    EXPECT_EQ(m.numsburn, 6);  // 300 dots a parity: 120, 120, 60
    expect_clumps_cover(m, row.data());
    EXPECT_EQ(m.databank, 0x1F);  // 75 bytes reach into the fifth 18-byte bank
}

TEST(Profiler, RowsThatWouldNeedMoreBurnsThanTheNodeHoldsKeepEveryDot) {
    // 1300 dots with a 432 limit would make 3 odd and 2 even clumps; with a 280 limit a black
    // row would need 8. The clumps widen instead, within the node, and no dot is lost.
    std::vector<uint8_t> row(ROW_BYTES, 0);
    for (int i = 0; i < ROW_BYTES; ++i) row[i] = i < 200 ? 0xFE : 0xAA;
    for (int base : {280, 432, 1, 5, 64}) {
        LineNode<MainsLayout> n{};
        build_clumps<MainsLayout>(row.data(), base, n);
        SCOPED_TRACE(base);
        expect_clumps_cover(n, row.data());
        std::vector<uint8_t> black(ROW_BYTES, 0xFF);
        LineNode<MainsLayout> k{};
        build_clumps<MainsLayout>(black.data(), base, k);
        expect_clumps_cover(k, black.data());
    }
    // Random rows of every density, both layouts, many limits.
    std::mt19937 rng(7);
    for (int t = 0; t < 400; ++t) {
        auto r = random_rows(1, 100 + t, t % 100);
        int base = 1 + int(rng() % 900);
        LineNode<MainsLayout> n{};
        build_clumps<MainsLayout>(r.data(), base, n);
        expect_clumps_cover(n, r.data());
        LineNode<BatteryLayout> m{};
        build_clumps<BatteryLayout>(r.data(), 120, m);
        expect_clumps_cover(m, r.data());
        if (HasFailure()) break;
    }
}

TEST(Profiler, ClumpClassBeyondTheTableUsesItsLastColumn) {
    Block<MainsLayout> b(432);
    for (int i = 0; i < TEMP_INDICES; ++i)
        for (int s = 0; s < RAMP_STEPS; ++s) {
            for (int c = 0; c < MainsLayout::classes; ++c) b.p->tables.t[i][s][c] = 100;
            b.p->tables.t[i][s][MainsLayout::classes - 1] = 111;
        }
    std::vector<uint8_t> rows(2 * ROW_BYTES, 0xFF);  // clumps of 432 dots: class 43
    b.run(rows);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(b.list[0].btimes[j], 111);
}

TEST(Profiler, OddOnlyRowsAreNotCappedAt50) {
    Block<MainsLayout> b;
    std::vector<uint8_t> odd(10 * ROW_BYTES, 0);
    for (int r = 0; r < 10; ++r) odd[size_t(r) * ROW_BYTES + 50] = 0xA0;  // odd dots only
    b.run(odd);
    for (int r = 0; r < 10; ++r) EXPECT_GT(b.list[r].rs1, 50) << r;

    std::vector<uint8_t> even(odd.size(), 0);
    for (int r = 0; r < 10; ++r) even[size_t(r) * ROW_BYTES + 50] = 0x50;  // even dots
    b.run(even);
    EXPECT_LE(b.list[0].rs1, 52);  // the first row may add 2 to the cap of 50
    for (int r = 1; r < 10; ++r) EXPECT_LE(b.list[r].rs1, 50) << r;
}

TEST(Profiler, SpeedOptimisationOffUsesHalfTheCap) {
    Block<MainsLayout> b;
    b.p->caps.set_speedmode_index = 0;
    std::vector<uint8_t> rows(80 * ROW_BYTES, 0);
    b.run(rows, 13, 10, 0);
    // First row capped at step 10, last at 0, the rest at 72 / 2 before smoothing; smoothing ramps
    // the neighbours of both ends.
    EXPECT_EQ(b.prof[0].profilex, 5);
    EXPECT_EQ(b.prof[1].profilex, 6);
    EXPECT_EQ(b.prof[79].profilex, 0);
    EXPECT_EQ(b.prof[78].profilex, 1);
    EXPECT_EQ(b.prof[40].profilex, 36);
    EXPECT_EQ(b.list[40].rs1, 72);
    EXPECT_EQ(b.list[40].rs2, 72);
    EXPECT_LE(max_speed_jump(b.prof.data(), 80), 1);
    // Rows with even dots are capped at step 50 first: speed index 25.
    std::vector<uint8_t> even(80 * ROW_BYTES, 0x55);
    b.run(even);
    EXPECT_EQ(b.prof[40].profilex, 25);
}

TEST(Profiler, SmoothingLeavesNoJumpAboveOne) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        Block<MainsLayout> b(seed % 2 ? 432 : 280);
        // Alternating stretches of black and blank rows give the largest speed jumps.
        auto rows = random_rows(80, seed, int(seed * 3 % 100));
        std::mt19937 rng(seed);
        for (int r = 0; r < 80; ++r) {
            int kind = int(rng() % 4);
            uint8_t* row = &rows[size_t(r) * ROW_BYTES];
            if (kind == 0) std::memset(row, 0, ROW_BYTES);
            if (kind == 1) std::memset(row, 0xFF, ROW_BYTES);
        }
        b.run(rows, int(seed % 34), int(seed * 5 % 73), seed % 3 ? 72 : 0);
        EXPECT_LE(max_speed_jump(b.prof.data(), 80), 1) << "seed " << seed;
        for (int r = 0; r < 79; ++r) {
            EXPECT_LE(std::abs(b.list[r].rs2 - b.list[r].rs1), 1) << r;
            EXPECT_LE(b.list[r].rs2, 72);
        }
    }
}

TEST(Profiler, LastProfiledRowEndsWith255) {
    Block<MainsLayout> b;
    for (int J : {1, 7, 80}) {
        auto rows = label_rows(J, J);
        b.run(rows);
        EXPECT_EQ(b.list[J - 1].rs2, 255) << J;
        EXPECT_EQ(b.list[J - 1].nextp, nullptr);
        if (J > 1) {
            EXPECT_NE(b.list[J - 2].rs2, 255);
            EXPECT_EQ(b.list[0].nextp, &b.list[1]);
        }
    }
}

TEST(Profiler, HeatTimesComeFromTheFasterStepAndFitTheRow) {
    Block<MainsLayout> b;
    auto rows = label_rows(80, 3);
    b.run(rows, 13);
    int looked_up = 0;
    for (int r = 0; r < 80; ++r) {
        const auto& n = b.list[r];
        const int second = n.rs2 == 255 ? n.rs1 : n.rs2;
        const int a = b.p->step(n.rs1), bb = b.p->step(second);
        const int faster = a < bb ? n.rs1 : second;
        long table_sum = 0, sum = 0;
        for (int j = 0; j < n.numsburn; ++j) {
            int cls = std::min(n.clumpdots[j] / 10, MainsLayout::classes - 1);
            table_sum += b.p->tables.t[13][faster][cls];
            sum += n.btimes[j] + PAUSE_US;
        }
        EXPECT_LE(sum, a + bb) << "row " << r;  // the burns always fit the row's two steps
        if (n.numsburn && table_sum <= a + bb - PAUSE_US * n.numsburn) {
            ++looked_up;
            for (int j = 0; j < n.numsburn; ++j) {
                int cls = std::min(n.clumpdots[j] / 10, MainsLayout::classes - 1);
                EXPECT_EQ(n.btimes[j], b.p->tables.t[13][faster][cls]);
            }
        }
    }
    EXPECT_GT(looked_up, 20);
}

TEST(Profiler, SqueezedRowsShareTheRowTime) {
    Block<MainsLayout> b;
    for (auto& plane : b.p->tables.t)
        for (auto& line : plane)
            for (auto& v : line) v = 2000;  // far more than the row's steps allow
    b.p->caps.set_speedmode_index = 0;   // speeds from the caps, not from the heat times
    std::vector<uint8_t> rows(3 * ROW_BYTES, 0xFF);
    b.run(rows, 0, 72, 72);
    const auto& n = b.list[1];
    ASSERT_EQ(n.numsburn, 4);
    const int a = b.p->step(n.rs1), bb = b.p->step(n.rs2);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(n.btimes[j], (a + bb) / 4 - 150);
}

TEST(Profiler, BestSpeedFitsTheBurnsIntoTheRow) {
    Block<MainsLayout> b;
    for (int burns = 0; burns <= 4; ++burns) {
        LineNode<MainsLayout> n{};
        n.numsburn = static_cast<uint8_t>(burns);
        int s = find_best_speed(*b.p, n, 13, 72);
        long t = long(burns) * (b.p->tables.t[13][2 * s][1] + PAUSE_US);
        EXPECT_LE(t, 2L * b.p->step(2 * s)) << burns;  // the row's burns fit its two steps
        EXPECT_GE(s, 30) << burns;  // at the nominal contrast even 4 burns run near 3 in/s
    }
    // Heavy burns slow the row down: 2000 us burns need steps of 4300 us and more.
    for (auto& line : b.p->tables.t[13]) line[1] = 2000;
    LineNode<MainsLayout> n{};
    n.numsburn = 4;
    int s = find_best_speed(*b.p, n, 13, 72);
    EXPECT_LE(4L * 2150, 2L * b.p->step(2 * s));
    EXPECT_GE(4L * 2150, 2L * b.p->step(2 * s + 1));
    // And a row that fits no speed at all takes the slowest one.
    for (auto& line : b.p->tables.t[13]) line[1] = 60000;
    EXPECT_EQ(find_best_speed(*b.p, n, 13, 72), 0);
}

TEST(Profiler, SpeedCapFileDigitLimitsMiddleRows) {
    Block<MainsLayout> b;
    b.p->caps.set_max_speed_index = 1;
    b.p->caps.speed_index = 3;  // max_speed_table[3] = 14
    std::vector<uint8_t> rows(80 * ROW_BYTES, 0);
    b.run(rows);
    for (int r = 1; r < 79; ++r) EXPECT_LE(b.prof[r].profilex, 6) << r;
    // Digit 0 selects 65535: no cap beyond the ramp table's top, and nothing out of bounds.
    b.p->caps.speed_index = 0;
    b.run(rows);
    EXPECT_EQ(b.prof[40].profilex, 35);
    b.p->caps.set_max_speed_index = 0;
}

TEST(Profiler, BatteryOffsetRaisesBlockCaps) {
    Block<BatteryLayout> b;
    std::vector<uint8_t> rows(10 * ROW_BYTES, 0);
    b.p->caps.cap_offset = 2;
    b.p->caps.set_max_speed_index = 1;
    b.p->caps.speed_index = 1;  // 4 + 2 = 6
    b.run(rows);
    for (int r = 1; r < 9; ++r) EXPECT_EQ(b.prof[r].profilex, 2) << r;
}

TEST(Profiler, ThermistorReadingsOutsideAnyHeadTemperatureAreNotTemperatures) {
    // A battery voltage, a zero status word, a voltage above the divider's supply.
    EXPECT_FALSE(thermistor_plausible(8000));
    EXPECT_FALSE(thermistor_plausible(0));
    EXPECT_FALSE(thermistor_plausible(3300));
    EXPECT_FALSE(thermistor_plausible(266));  // about 114 C
    // The thermistor's whole table, and a cold and a hot head beyond it, are temperatures.
    for (int mv : {974, 1250, 2085, 2869, 2900, 3200, 800, 400}) EXPECT_TRUE(thermistor_plausible(mv)) << mv;
}

TEST(Profiler, ThermistorExamples) {
    EXPECT_EQ(get_temp_x(2900, 26), 0);
    EXPECT_EQ(get_temp_x(2869, 26), 0);
    EXPECT_EQ(get_temp_x(2868, 26), 1);
    EXPECT_EQ(get_temp_x(2500, 26), 8);
    EXPECT_EQ(get_temp_x(1250, 26), 26);
    EXPECT_EQ(get_temp_x(1250, 33), 27);
    EXPECT_EQ(get_temp_x(900, 26), 26);
    EXPECT_EQ(get_temp_x(900, 33), 33);
    EXPECT_EQ(get_temp_x(974, 33), 32);
    // Every voltage falls in its band.
    for (int mv = 974; mv <= 2868; ++mv) {
        int x = get_temp_x(mv, 33);
        ASSERT_GE(x, 1);
        EXPECT_LE(tempx[x], mv);
        EXPECT_LT(mv, tempx[x - 1]);
    }
}

TEST(Profiler, ConfiguredSpeedLimits) {
    EXPECT_EQ(ips_limit_from("inch", 1.0), 23);
    EXPECT_EQ(ips_limit_from("inch", 1.5), 36);
    EXPECT_EQ(ips_limit_from("inch", 2.0), 48);
    EXPECT_EQ(ips_limit_from("inch", 2.5), 60);
    EXPECT_EQ(ips_limit_from("inch", 3.0), 72);
    EXPECT_EQ(ips_limit_from("inch", 4.2), 72);   // not a multiple of 5: 55
    EXPECT_EQ(ips_limit_from("inch", 0.5), 23);   // below 10 tenths: 10
    EXPECT_EQ(ips_limit_from("inch", 1.2), 72);   // 12 is not a multiple of 5
    EXPECT_EQ(ips_limit_from("mm", 76), 72);      // 29.9 -> 30 tenths
    EXPECT_EQ(ips_limit_from("mm", 25.4), 23);
    EXPECT_EQ(ips_limit_from("", 0), 23);
}

TEST(BurnTableFile, MissingOrShortFilesKeepTheLastTable) {
    TempDir d;
    auto in = read_burn_inputs(source_path("rootfs/home/printhead_config.cfg"), source_path("rootfs/home/paper_config.cfg"));
    for (int k = 0; k < 10; ++k)
        ASSERT_TRUE(write_burn_table(d.path + "/burntables" + std::to_string(k) + ".csv", in, k, in.vp,
                                     mains_temp_factor, MainsLayout::classes));
    auto p = std::make_unique<Profiler<MainsLayout>>();
    ASSERT_TRUE(read_burntables(*p, d.path, 5));
    EXPECT_EQ(p->tables.t[13][48][0], burn_value(in, 4, 13, 48, in.vp, mains_temp_factor));
    EXPECT_EQ(p->tables.t[33][72][28], burn_value(in, 4, 33, 72, in.vp, mains_temp_factor));
    const uint16_t kept = p->tables.t[20][30][5];

    // Contrast outside 1..10 loads file 4.
    EXPECT_EQ(burntable_path("/b", 0), "/b/burntables4.csv");
    EXPECT_EQ(burntable_path("/b", 11), "/b/burntables4.csv");
    EXPECT_EQ(burntable_path("/b", 10), "/b/burntables9.csv");

    // Missing file.
    std::system(("rm " + d.path + "/burntables2.csv").c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_burntables(*p, d.path, 3));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not loaded"), std::string::npos);
    EXPECT_EQ(p->tables.t[20][30][5], kept);

    // Short file: half the lines; and a line with too few values.
    std::string full = d.path + "/burntables0.csv";
    std::ifstream src(full);
    std::string text((std::istreambuf_iterator<char>(src)), {});
    std::ofstream(d.path + "/burntables1.csv") << text.substr(0, text.size() / 2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_burntables(*p, d.path, 2));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(p->tables.t[20][30][5], kept);
    std::string bad = text;
    bad.replace(bad.find('\n', bad.size() / 2) + 1, 0, "1,2,3\n");
    std::ofstream(d.path + "/burntables3.csv") << bad;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_burntables(*p, d.path, 4));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(p->tables.t[20][30][5], kept);

    // A battery table read by the mains engine has too few columns.
    ASSERT_TRUE(write_burn_table(d.path + "/burntables7.csv", in, 7, 24.0, battery_temp_factor, 13));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_burntables(*p, d.path, 8));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(p->tables.t[20][30][5], kept);
}

TEST(BurnTableFile, BatteryTableIsClearedByAMissingFile) {
    TempDir d;
    auto in = read_burn_inputs(source_path("rootfs/home/printhead_config.cfg"), source_path("rootfs/home/paper_config.cfg"));
    ASSERT_TRUE(write_burn_table(d.path + "/burntables4.csv", in, 4, 24.0, battery_temp_factor, 13));
    auto p = std::make_unique<Profiler<BatteryLayout>>();
    ASSERT_TRUE(read_burntables(*p, d.path, 5));
    EXPECT_EQ(p->tables.t[13][48][12], burn_value(in, 4, 13, 48, 24.0, battery_temp_factor));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_burntables(*p, d.path, 6));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(p->tables.t[13][48][12], 0);
}
