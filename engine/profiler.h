// The print profiler: splits each dot row into clumps of dots heated together, chooses the motor
// speed of every row and the heat time of every burn.
//
// Units: ramp steps 0..72 index the motor step table (larger = faster); a row printed at speed
// index s uses ramp steps 2s and 2s+1. Temperature index 0..33 selects the burn table plane.
#pragma once

#include "engine_layout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

// Dot count tables for every byte value (bit 7 is the leftmost dot).
extern uint8_t cbblut[256];   // all dots
extern uint8_t oddlut[256];   // dots 1, 3, 5, 7 of the byte (0x80, 0x20, 0x08, 0x02)
extern uint8_t evenlut[256];  // dots 2, 4, 6, 8 (0x40, 0x10, 0x04, 0x01)
void init_luts();
void init_oddluts();
void init_evenluts();

// One dot row.
template <class L>
struct LineNode {
    uint8_t oddcw[L::node_entries];       // odd clump widths in bytes, 0 ends the list
    uint8_t evencw[L::node_entries];      // even clump widths
    uint8_t rs1;                          // ramp step of the first motor step
    uint8_t rs2;                          // ramp step of the second one; 255 on a block's last row
    uint8_t numsburn;                     // burns: odd clumps + even clumps
    uint16_t databank;                    // bit b: bank b holds a dot
    uint16_t clumpdots[L::node_entries];  // dots per burn: odd clumps first, then even clumps
    uint16_t btimes[L::node_entries];     // heat time per burn, microseconds
    uint16_t profile_index;               // the row's speed index
    LineNode* nextp;
};

// Speed profile entry.
struct point_t {
    int profilex;  // speed index
    uint8_t f;     // raised by a forward ramp
    uint8_t r;     // raised by a backward ramp
};

// Burn table: heat times in microseconds by [temperature][ramp step][dot count class].
template <class L>
struct BurnTables {
    uint16_t t[TEMP_INDICES][RAMP_STEPS][L::classes];
};

inline constexpr int max_speed_table[6] = {65535, 4, 8, 14, 18, 23};
inline constexpr int ips_index_table[7] = {65535, 4, 23, 36, 48, 60, 72};

// Constants of the print head (printhead configuration file).
struct HeadConstants {
    uint16_t acceleration_steps[RAMP_STEPS] = {};  // step time per ramp step, microseconds
    int ramp_table_size = 0;
    int PRINTHEAD_MAXNSA = 0;
    int PRINTHEAD_HOTPOINT = 0;
    int speed_floor = 0;  // PROFILE_SPEED_FLOOR of the paper file: lowest best speed (0 = none)
};

// Speed caps and switches, in ramp steps. The cap-file and speed-mode values are written by
// their intake threads and read here row by row.
struct SpeedCaps {
    int max_speed_index = 72;      // the current cap while a block is built
    int max_firstline_speed = 72;
    int max_lastline_speed = 72;
    int ips_limit = 72;            // the configured limit (get_ips_limit_index)
    int set_max_speed_index = 0;   // 1 while a cap from the cap file is active
    int speed_index = 0;           // its digit
    int set_speedmode_index = 1;   // 1: best speed per row; 0: half the cap
    int cap_offset = 0;            // battery engine: raised caps during a long run
};

// Everything the profiler reads and writes for one engine.
template <class L>
struct Profiler {
    HeadConstants head;
    BurnTables<L> tables{};
    SpeedCaps caps;

    // Ramp step time, bounded to the table.
    int step(int s) const { return head.acceleration_steps[s < 0 ? 0 : s >= RAMP_STEPS ? RAMP_STEPS - 1 : s]; }
};

// Configured speed limit in ramp steps from units ("inch" or anything else = millimetres) and
// configMaxPaperSpeed.
int ips_limit_from(const std::string& units, double max_paper_speed);
// Reads the limit from "/home/device_config_units.cfg" and the device configuration.
int read_ips_limit_index();

// Head thermistor millivolts to temperature index; limited to `limit` (26 mains, 33 battery).
extern const uint16_t tempx[33];
int get_temp_x(int mv, int limit);

// Whether a thermistor reading (millivolts) can come from a head at all: between about -40 C
// (3250 mV) and 100 C (380 mV). Anything else (0, a battery voltage, a status word read as a
// temperature) is not a temperature and is not used for heat.
inline constexpr int THERMISTOR_MIN_MV = 380;
inline constexpr int THERMISTOR_MAX_MV = 3250;
inline bool thermistor_plausible(int mv) { return mv >= THERMISTOR_MIN_MV && mv <= THERMISTOR_MAX_MV; }

// Clumps of one row into a node (clump widths, dot counts, burns and bank mask). Returns D,
// the number of dots of the row.
template <class L>
int build_clumps(const uint8_t* row, int clump_base, LineNode<L>& node);

// The most dots one burn of a row of all 1728 dots heats with this clump base (the clumps are
// widened when base x node entries cannot cover the row).
template <class L>
int full_row_clump_dots(int clump_base);
// The start-up report of a clump base (PRINTHEAD_MAXNSA, or the battery engine's fixed base) whose
// burns cannot cover a whole row, so that full rows heat more dots at once than the base allows;
// empty when the base is sound.
template <class L>
std::string clump_base_report(int maxnsa);

// Best speed index of a row for the burn count of its node.
template <class L>
int find_best_speed(const Profiler<L>& p, const LineNode<L>& node, int temp, int max_speed_index);

// Fills `rows` nodes and speed entries for the rows at `dots` (ROW_BYTES each), linked in order.
template <class L>
void build_linked_list(Profiler<L>& p, const uint8_t* dots, LineNode<L>* list, point_t* profile, int rows, int temp);

// Smooths the speeds (neighbours differ by at most one index) and computes the heat times.
template <class L>
void profile(Profiler<L>& p, point_t* prof, LineNode<L>* list, int rows, int temp);
// Largest difference between neighbouring speed indices (0 for fewer than two rows).
int max_speed_jump(const point_t* prof, int rows);

// Heat times of every row for its speed and the next row's speed.
template <class L>
void get_burn_times(Profiler<L>& p, point_t* prof, LineNode<L>* list, int rows, int temp);

// The burn table file of a contrast (1..10; anything else is contrast 5): "<folder>/burntables<k>.csv",
// k = contrast - 1.
std::string burntable_path(const std::string& folder, int contrast);

// Parses a burn table file. Returns false (and leaves `out` unspecified) when the file is
// missing, short or malformed; `why` says what was wrong, `title` gets the first line (64 chars).
template <class L>
bool parse_burntables(const std::string& path, BurnTables<L>& out, std::string& title, std::string& why);

// Loads the burn table for a contrast into p.tables. The mains engine keeps the table it had
// when the file is missing or bad; the battery engine clears the table first and keeps what the
// file gave. Returns true when a whole table was loaded.
template <class L>
bool read_burntables(Profiler<L>& p, const std::string& folder, int contrast);

}  // namespace engine
