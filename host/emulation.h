// Emulations: the list of printer languages, the default and running emulation, the hand-over
// style that follows from the name, and the in-band switch (ESC ESC <index> at the start of a job).
#pragma once

#include "host_state.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

inline constexpr size_t EMULATION_TABLE_MAX = 15;
inline constexpr size_t EMULATION_LINE_BUFFER = 68;

struct EmulationEntry {
    EmulationName name{};
    EmulationName program{};
    int index = 0;
};

struct EmulationTable {
    EmulationEntry entries[EMULATION_TABLE_MAX];
    size_t count = 0;
};

extern EmulationTable emulation_table;

// Reads "name,program,index" lines. Reading stops at the end of the file or at the first line of
// at most one character; at most 15 entries are kept, in file order. A line longer than the
// 68-byte line buffer is read whole and cut, never split into two entries; a line without a
// decimal index is skipped. A missing file leaves the table empty.
void load_emulation_tables(EmulationTable& table, const std::string& path);
inline void load_emulation_tables() { load_emulation_tables(emulation_table, host_settings.EMULATION_LIST_FILEPATH); }

// The name of the first entry with this index; false (name empty) when no entry has it.
bool get_indexed_emulation_name(const EmulationTable& table, int index, EmulationName& name);

// 1 for names beginning with "JPL", "ZPL", "CPCL" or "ESCPOS" (streaming), else 0 (whole-job).
int emulation_style(const char* name);

// The running and the default emulation (both start as configEmulation).
std::string current_emulation();
std::string default_emulation();
void set_emulation(const char* name);  // sets both names and data_continually

// configEmulation from the image configuration into the default and running emulation.
void load_default_emulation(const std::string& image_config_path);

// Runs "/home/start_emulation.sh" with the name (as an argument, never through a shell line).
void start_emulation(const char* name);
// Tests replace the starter.
extern std::function<void(const char*)> start_emulation_hook;
extern long emulation_switch_pause_ms;  // 1000: time the new interpreter gets before the job

// Looks at the first three bytes of the first read of a job. With ESC ESC and an index that a
// list entry has, and a name other than the running one: starts that emulation, waits, makes it
// the running and default emulation and decides the style again. Returns 1 when it switched.
int check_emulation_switch(const uint8_t* buffer, size_t length);
