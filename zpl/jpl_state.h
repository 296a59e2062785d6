// jpl_interp: the binary JPL label language on the ZPL interpreter's process frame, ring, field
// model, fonts, encodings and symbol drawing.
//
// A command is the control byte SUB (0x1A), a command byte, for most commands a variant byte, and
// binary parameters: coordinates and sizes are 16-bit, least significant byte first; strings end
// with a zero byte. Bytes between commands are dropped.
#pragma once

#include "image_builder.h"
#include "zpl_label.h"

#include <cstdint>
#include <string>

inline constexpr int JPL_SUB = 0x1A;
inline constexpr int JPL_LABEL_ROWS = 420;         // label length of a start without parameters
inline constexpr size_t JPL_DATA_BYTES = 10000;     // text and 2-D symbol data kept
inline constexpr size_t JPL_BARCODE_BYTES = 1023;   // linear barcode data kept
inline constexpr int JPL_CELL_WRAP_DOTS = 560;      // cells wrap to a new band before this x
inline constexpr int JPL_MAX_COPIES = 255;

// What JPL keeps beside the shared field model (config, global, text, barcode_z of zpl_label.h).
struct JplState {
    bool sub_pending = false;  // the SUB that ended a cell bitmap's data starts the next command
    int printnum = 0;          // extra copies of the next end of label
    bool setprinum = false;    // a copy count is pending
    // Attributes of the text field being drawn.
    bool bold = false, underline = false, whitefont = false, deline = false;
    uint8_t rotate = 'N';
    int commands = 0;  // commands taken (tests, diagnostics)
};
extern JplState jpl;

extern const LabelDialect jpl_dialect;

// A freshly started jpl_interp: the shared field model with the JPL dialect and its settings file
// (ZPL_CONFIG_FILE, "/home/jpl_emu.cfg" on the device), the ring, the render state, and JplState.
void jpl_fresh_state();
// Every device path below root (as zpl_use_folders_under), the settings file root/jpl_emu.cfg.
void jpl_use_folders_under(const std::string& root);

// One command from the ring: false when the input ran dry (test mode only).
bool jpl_process_one_command();
// Test mode: runs commands until the ring is empty.
void jpl_run_until_dry();
void* jpl_process_data_pthrd(void*);

// Command handlers, after SUB and the command byte (each reads its own variant and parameters).
void jpl_start_label();    // 0x5B
void jpl_end_label();      // 0x5D
void jpl_copies();         // 0x4F
void jpl_text();           // 0x54
void jpl_line();           // 0x5C
void jpl_box();            // 0x26
void jpl_solid_box();      // 0x2A
void jpl_cell_bitmap();    // 0x21
void jpl_linear_barcode(); // 0x30
void jpl_symbol_2d();      // 0x31
void jpl_paper_roll();     // 0x0C
void jpl_test_text();      // 0x0B

// Building blocks, reachable for tests.
const char* jpl_initial_family(int index);
// Text (already converted to UTF-8) at (x, y) with the pending JPL attributes, height h and width
// w in dots; returns the measured size (width along the text, height across it).
TextSize jpl_draw_text(int x, int y, const std::string& utf8, int h, int w);
