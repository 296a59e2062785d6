// Burn table computation (burn_builder): heat times in microseconds for every head temperature
// band and motor ramp step, one CSV file per contrast step, for the mains and the battery supply.
#pragma once

#include "engine_layout.h"

#include <cstdint>
#include <string>

namespace engine {

struct BurnInputs {
    double steps[RAMP_STEPS] = {};  // RAMP_STEP<s>, microseconds
    int ramp_table_size = 0;
    double x[RAMP_STEPS] = {};      // burn correction x<s>
    int burnx_size = 0;
    double vp = 0;                  // PRINTHEAD_VP
    double e25 = 0, tclt25 = 0, tcgt25 = 0, scale_step = 0;
};

inline constexpr double BATTERY_VP = 24.0;
inline constexpr int MAINS_CLASSES = 29;
inline constexpr int BATTERY_CLASSES = 13;

extern const double mains_temp_factor[TEMP_INDICES];
extern const double battery_temp_factor[TEMP_INDICES];

// Reads the printhead and paper configuration files.
BurnInputs read_burn_inputs(const std::string& printhead_config, const std::string& paper_config);

// Step factor C[s].
double step_factor(const BurnInputs& in, int s);
// Dot energy scale of contrast file k: 1 + (k - 4) * contrast_E25_scale_step.
double contrast_scale(const BurnInputs& in, int k);
// Heat time of contrast file k, temperature index i, ramp step s at supply voltage vp.
uint16_t burn_value(const BurnInputs& in, int k, int i, int s, double vp, const double* factors);

// Writes one table file: the title line and 34 x 73 lines of `classes` equal values.
bool write_burn_table(const std::string& path, const BurnInputs& in, int k, double vp, const double* factors,
                      int classes);

// Writes the ten mains tables to "<root>/burntables/burntables%d.csv" and the ten battery
// tables to "<root>/burntables_battery/burntables%d.csv" (root "" on the printer). Each file that
// cannot be written is reported on standard error with `who`; returns how many failed.
int write_all_burn_tables(const BurnInputs& in, const std::string& root, const char* who);

}  // namespace engine
