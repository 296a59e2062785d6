#include "burn_tables.h"

#include "keyfile.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace engine {

const double mains_temp_factor[TEMP_INDICES] = {1.35, 1.33, 1.30, 1.27, 1.25, 1.23, 1.20, 1.17, 1.15, 1.15, 1.15, 1.15,
                                                1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15,
                                                1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15, 1.15};
const double battery_temp_factor[TEMP_INDICES] = {1.28, 1.25, 1.23, 1.20, 1.17, 1.15, 1.13, 1.00, 0.97, 0.95, 0.93, 0.90,
                                                  0.87, 0.85, 0.83, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80,
                                                  0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80, 0.80};

namespace {
// "RAMP_STEP12", "x7": a key of a numbered table row. (Built with snprintf: GCC 12 reports a false
// -Wrestrict overlap for "x" + std::to_string(s) in optimised builds.)
std::string numbered_key(const char* prefix, int n) {
    char key[32];
    std::snprintf(key, sizeof key, "%s%d", prefix, n);
    return key;
}
}  // namespace

BurnInputs read_burn_inputs(const std::string& printhead_config, const std::string& paper_config) {
    BurnInputs in;
    KeyFile head(printhead_config);
    in.ramp_table_size = head.get_int("Step Times", "RAMP_TABLE_SIZE");
    if (in.ramp_table_size < 0) in.ramp_table_size = 0;
    if (in.ramp_table_size > RAMP_STEPS) in.ramp_table_size = RAMP_STEPS;
    for (int s = 0; s < in.ramp_table_size; ++s) {
        in.steps[s] = head.get_int("Step Times", numbered_key("RAMP_STEP", s).c_str());
    }
    in.burnx_size = head.get_int("Step burnX", "BURNX_SIZE");
    if (in.burnx_size < 0) in.burnx_size = 0;
    if (in.burnx_size > RAMP_STEPS) in.burnx_size = RAMP_STEPS;
    for (int s = 0; s < in.burnx_size; ++s) in.x[s] = head.get_double("Step burnX", numbered_key("x", s).c_str());
    in.vp = head.get_double("Printhead_Electrical", "PRINTHEAD_VP");
    // Read for completeness; they do not enter the tables.
    (void)head.get_double("Printhead_Electrical", "PRINTHEAD_Ri");
    (void)head.get_double("Printhead_Electrical", "PRINTHEAD_rC");
    (void)head.get_double("Printhead_Electrical", "PRINTHEAD_RC");
    (void)head.get_double("Printhead_Electrical", "PRINTHEAD_RH");

    KeyFile paper(paper_config);
    in.e25 = paper.get_double("Paper", "configE25");
    in.tclt25 = paper.get_double("Paper", "configTclt25");
    in.tcgt25 = paper.get_double("Paper", "configTcgt25");
    in.scale_step = paper.get_double("Paper", "contrast_E25_scale_step");
    return in;
}

double step_factor(const BurnInputs& in, int s) {
    constexpr int ref = 48;  // the reference step
    if (in.burnx_size == 0) return in.steps[ref] != 0 ? in.steps[s] / in.steps[ref] : 0.0;
    if (s < in.burnx_size) {
        double den = 2 * in.steps[ref] - in.x[ref];
        return den != 0 ? (2 * in.steps[s] - in.x[s]) / den : 0.0;
    }
    double last = in.steps[in.burnx_size - 1];
    return last != 0 ? in.steps[s] / last : 0.0;
}

double contrast_scale(const BurnInputs& in, int k) { return 1 + (k - 4) * in.scale_step; }

uint16_t burn_value(const BurnInputs& in, int k, int i, int s, double vp, const double* factors) {
    const double p = (vp - 0.305) * (vp - 0.305) / 1500;
    const double e25 = contrast_scale(in, k) * in.e25;
    const double t = 2.0 * (i - 1);
    const double c = t > 24 ? in.tcgt25 : in.tclt25;
    const double e = e25 - (t - 25) * c;
    const double v = e / (p + 0.005) * step_factor(in, s) * 1000 * factors[i];
    // Heat times are unsigned 16-bit: out-of-range results saturate instead of wrapping.
    if (!(v > 0)) return 0;
    if (v >= 65535) return 65535;
    return static_cast<uint16_t>(v);
}

bool write_burn_table(const std::string& path, const BurnInputs& in, int k, double vp, const double* factors,
                      int classes) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "E25=%f Tclt25=%f Tcgte25=%f Vp=%f\n", contrast_scale(in, k) * in.e25, in.tclt25, in.tcgt25, vp);
    char line[16 * 32];
    for (int i = 0; i < TEMP_INDICES; ++i) {
        for (int s = 0; s < RAMP_STEPS; ++s) {
            const unsigned v = burn_value(in, k, i, s, vp, factors);
            int n = 0;
            for (int c = 0; c < classes; ++c) {
                n += std::snprintf(line + n, sizeof line - size_t(n), c + 1 < classes ? "%u," : "%u\n", v);
            }
            std::fputs(line, f);
        }
    }
    bool ok = !std::ferror(f);
    return (std::fclose(f) == 0) && ok;
}

int write_all_burn_tables(const BurnInputs& in, const std::string& root, const char* who) {
    struct Set {
        const char* folder;
        double vp;
        const double* factors;
        int classes;
    };
    const Set sets[] = {{"/burntables", in.vp, mains_temp_factor, MAINS_CLASSES},
                        {"/burntables_battery", BATTERY_VP, battery_temp_factor, BATTERY_CLASSES}};
    int failed = 0;
    for (const Set& set : sets) {
        for (int k = 0; k < 10; ++k) {
            std::string path = root + set.folder + "/burntables" + std::to_string(k) + ".csv";
            if (!write_burn_table(path, in, k, set.vp, set.factors, set.classes)) {
                std::perror((std::string(who) + ": can't write " + path).c_str());
                ++failed;
            }
        }
    }
    return failed;
}

}  // namespace engine
