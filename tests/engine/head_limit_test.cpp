// The head's supply limit: how many dots a full row heats at once with a clump base, and the
// engine's start-up report of a base whose burns cannot cover a row.
#include "profiler.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {
struct Tables : ::testing::Environment {
    void SetUp() override {
        init_luts();
        init_oddluts();
        init_evenluts();
    }
};
const auto* tables = ::testing::AddGlobalTestEnvironment(new Tables);
}  // namespace

TEST(HeadLimit, FourBurnsOf432CoverAFullRow) {
    EXPECT_EQ(full_row_clump_dots<MainsLayout>(432), 432);
    EXPECT_EQ(clump_base_report<MainsLayout>(432), "");
    EXPECT_EQ(clump_base_report<MainsLayout>(500), "") << "a larger limit is never reported";
}

TEST(HeadLimit, ASmallerBaseIsWidenedAndReported) {
    // The image's old limit: 4 x 280 < 1728, the clumps grow until the row fits.
    EXPECT_EQ(full_row_clump_dots<MainsLayout>(280), 576);
    EXPECT_EQ(clump_base_report<MainsLayout>(280),
              "dot_feeder: PRINTHEAD_MAXNSA 280: 4 burns of 280 dots cannot cover a row of 1728 dots; full rows "
              "are heated up to 576 dots at once\n");
    EXPECT_NE(clump_base_report<MainsLayout>(431), "");
    EXPECT_NE(clump_base_report<MainsLayout>(0), "") << "a missing key";
}

TEST(HeadLimit, TheBatteryEngineKeepsItsFixedBase) {
    // 18 burns of 120 dots cover a row whatever the key says.
    EXPECT_EQ(clump_base_report<BatteryLayout>(280), "");
    EXPECT_EQ(clump_base_report<BatteryLayout>(0), "");
    EXPECT_LE(full_row_clump_dots<BatteryLayout>(120), 120 + 9 + 4);
}
