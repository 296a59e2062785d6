#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace engine;
using namespace enginetest;

namespace {
BurnInputs device_inputs() {
    return read_burn_inputs(source_path("rootfs/home/printhead_config.cfg"), source_path("rootfs/home/paper_config.cfg"));
}
std::vector<std::string> lines_of(const std::string& path) {
    std::ifstream f(path);
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);) v.push_back(l);
    return v;
}
}  // namespace

TEST(BurnBuilder, ContrastFilesScaleTheEnergy) {
    BurnInputs in = device_inputs();
    in.scale_step = 0.1;
    EXPECT_DOUBLE_EQ(contrast_scale(in, 0), 0.6);
    EXPECT_DOUBLE_EQ(contrast_scale(in, 4), 1.0);
    EXPECT_DOUBLE_EQ(contrast_scale(in, 9), 1.5);
    TempDir d;
    ASSERT_TRUE(write_burn_table(d.path + "/0.csv", in, 0, in.vp, mains_temp_factor, 29));
    ASSERT_TRUE(write_burn_table(d.path + "/9.csv", in, 9, in.vp, mains_temp_factor, 29));
    char title0[128], title9[128];
    std::snprintf(title0, sizeof title0, "E25=%f Tclt25=%f Tcgte25=%f Vp=%f", 0.6 * in.e25, in.tclt25, in.tcgt25, in.vp);
    std::snprintf(title9, sizeof title9, "E25=%f Tclt25=%f Tcgte25=%f Vp=%f", 1.5 * in.e25, in.tclt25, in.tcgt25, in.vp);
    EXPECT_EQ(lines_of(d.path + "/0.csv")[0], title0);
    EXPECT_EQ(lines_of(d.path + "/9.csv")[0], title9);
    // Heat times follow the energy at 24 C (index 13): E = k * E25 + 1 * Tclt25.
    const double p = (in.vp - 0.305) * (in.vp - 0.305) / 1500;
    for (int k : {0, 9}) {
        double e = contrast_scale(in, k) * in.e25 + in.tclt25;
        EXPECT_EQ(burn_value(in, k, 13, 48, in.vp, mains_temp_factor), uint16_t(e / (p + 0.005) * 1000 * 1.15)) << k;
    }
}

TEST(BurnBuilder, LinesHoldOneValuePerClass) {
    BurnInputs in = device_inputs();
    TempDir d;
    ASSERT_TRUE(write_burn_table(d.path + "/m.csv", in, 4, in.vp, mains_temp_factor, MAINS_CLASSES));
    ASSERT_TRUE(write_burn_table(d.path + "/b.csv", in, 4, BATTERY_VP, battery_temp_factor, BATTERY_CLASSES));
    for (auto [file, classes] : {std::pair<std::string, int>{"/m.csv", 29}, {"/b.csv", 13}}) {
        auto lines = lines_of(d.path + file);
        ASSERT_EQ(lines.size(), size_t(1 + 34 * 73));
        for (size_t i = 1; i < lines.size(); ++i) {
            std::stringstream ss(lines[i]);
            std::vector<std::string> vals;
            for (std::string v; std::getline(ss, v, ',');) vals.push_back(v);
            ASSERT_EQ(int(vals.size()), classes) << file << " line " << i;
            for (auto& v : vals) ASSERT_EQ(v, vals[0]);
        }
        // Line 1 + i*73 + s holds temperature i, ramp step s.
        const double* f = classes == 29 ? mains_temp_factor : battery_temp_factor;
        const double vp = classes == 29 ? in.vp : BATTERY_VP;
        EXPECT_EQ(std::stoi(lines[1 + 20 * 73 + 30]), burn_value(in, 4, 20, 30, vp, f));
    }
}

TEST(BurnBuilder, StepFactorAndTemperature) {
    BurnInputs in = device_inputs();
    ASSERT_GT(in.burnx_size, 48);
    EXPECT_DOUBLE_EQ(step_factor(in, 48), 1.0);
    EXPECT_DOUBLE_EQ(step_factor(in, 72), in.steps[72] / in.steps[in.burnx_size - 1]);
    EXPECT_DOUBLE_EQ(step_factor(in, 0), (2 * in.steps[0] - in.x[0]) / (2 * in.steps[48] - in.x[48]));
    // The formula by hand at temperature index 14 (26 C, above 24: Tcgt25) and index 5 (8 C).
    const double p = (in.vp - 0.305) * (in.vp - 0.305) / 1500;
    double e = in.e25 - (26 - 25) * in.tcgt25;
    EXPECT_EQ(burn_value(in, 4, 14, 48, in.vp, mains_temp_factor), uint16_t(e / (p + 0.005) * 1000 * 1.15));
    e = in.e25 - (8 - 25) * in.tclt25;
    EXPECT_EQ(burn_value(in, 4, 5, 48, in.vp, mains_temp_factor), uint16_t(e / (p + 0.005) * 1000 * 1.23));
    // Out-of-range results saturate instead of wrapping.
    BurnInputs big = in;
    big.e25 = 1000;
    EXPECT_EQ(burn_value(big, 4, 0, 0, in.vp, mains_temp_factor), 65535);
    BurnInputs neg = in;
    neg.e25 = -1;
    EXPECT_EQ(burn_value(neg, 4, 0, 0, in.vp, mains_temp_factor), 0);
    // Missing correction table: the steps scale against the reference step.
    BurnInputs nox = in;
    nox.burnx_size = 0;
    EXPECT_DOUBLE_EQ(step_factor(nox, 48), 1.0);
    EXPECT_DOUBLE_EQ(step_factor(nox, 24), in.steps[24] / in.steps[48]);
}

TEST(BurnBuilder, TablesParseBackIntoTheEngine) {
    BurnInputs in = device_inputs();
    TempDir d;
    ASSERT_TRUE(write_burn_table(d.path + "/burntables4.csv", in, 4, in.vp, mains_temp_factor, MAINS_CLASSES));
    BurnTables<MainsLayout> t{};
    std::string title, why;
    ASSERT_TRUE(parse_burntables<MainsLayout>(d.path + "/burntables4.csv", t, title, why)) << why;
    EXPECT_EQ(title.rfind("E25=", 0), 0u);
    for (int i = 0; i < 34; i += 11)
        for (int s = 0; s < 73; s += 9) EXPECT_EQ(t.t[i][s][7], burn_value(in, 4, i, s, in.vp, mains_temp_factor));
    EXPECT_FALSE(write_burn_table(d.path + "/no/such/folder.csv", in, 4, in.vp, mains_temp_factor, 29));
}
