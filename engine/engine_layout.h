// The two builds of the print engine share every line of code; what differs between the mains
// engine (dot_feeder) and the battery engine (dot_feeder_battery) is collected in a layout type.
#pragma once

#include <cstdint>

namespace engine {

inline constexpr int ROW_BYTES = 216;        // one dot row of the 1728-dot head
inline constexpr int TEMP_INDICES = 34;      // burn table planes (head temperature bands)
inline constexpr int RAMP_STEPS = 73;        // motor ramp table entries
inline constexpr int STEPSPERDOTLINE = 2;    // motor steps per dot row
inline constexpr int PAUSE_US = 150;         // pause after each burn (pauseus)
inline constexpr int MAX_ROWS = 6496;        // longest image, rows (row list and speed profile size)
inline constexpr int PBMBLOCK_DOTLINE = 40;  // rows written per block
inline constexpr int RAMP_DOTLINE = 40;      // look-ahead rows profiled after a block
inline constexpr int PROFILE_BUF_SIZE = 81920;
inline constexpr int HSS_BLOCK = 4096;

// Mains supply: 4 banks of 54 bytes, 4 clumps per parity, 4 burns, 29 dot-count classes.
struct MainsLayout {
    static constexpr bool battery = false;
    static constexpr int node_entries = 4;   // oddcw, evencw, clumpdots, btimes
    static constexpr int banks = 4;
    static constexpr int bytes_per_bank = 54;
    static constexpr int classes = 29;       // burn table columns
    static constexpr int slow_hotpoint = 75; // first-pulse share (percent) below ramp step 13
    static constexpr int fixed_clump_base = 0;  // 0: the base is PRINTHEAD_MAXNSA
    static constexpr int temp_index_limit = 26;
    static constexpr const char* name = "dot_feeder";
};

// Battery supply: 12 banks of 18 bytes, 18 entries per node, 13 classes, 120-dot clump base.
struct BatteryLayout {
    static constexpr bool battery = true;
    static constexpr int node_entries = 18;
    static constexpr int banks = 12;
    static constexpr int bytes_per_bank = 18;
    static constexpr int classes = 13;
    static constexpr int slow_hotpoint = 88;
    static constexpr int fixed_clump_base = 120;
    static constexpr int temp_index_limit = 33;
    static constexpr const char* name = "dot_feeder_battery";
};

static_assert(MainsLayout::banks * MainsLayout::bytes_per_bank == ROW_BYTES);
static_assert(BatteryLayout::banks * BatteryLayout::bytes_per_bank == ROW_BYTES);

// Words of one serialised row at most: width words, step word, pulse pairs, bank mask, banks.
template <class L>
constexpr int max_row_words() {
    return L::node_entries / 2 * 2 + 1 + 2 * L::node_entries + 1 + L::banks * (L::bytes_per_bank / 2);
}
static_assert(max_row_words<MainsLayout>() == 122);
static_assert(max_row_words<BatteryLayout>() == 164);

}  // namespace engine
