// The command decoder: one byte at a time from the input ring; printable characters, single
// control bytes, and ESC / FS / GS / US sequences dispatched from tables to the handlers of
// each command family. Each handler reads exactly its own parameters.
#pragma once

#include "escpos_state.h"

#include <cstdint>

namespace escpos {

enum : uint8_t { HT = 0x09, LF = 0x0a, FF = 0x0c, CR = 0x0d, DLE = 0x10, CAN = 0x18, ESC = 0x1b, FS = 0x1c,
                 GS = 0x1d, US = 0x1f };

using Handler = void (*)(EscposState&);

// 256 handlers, one per function byte (indexed by a byte value or a character literal).
struct HandlerTable {
    Handler h[256]{};
    Handler& operator[](int byte) { return h[uint8_t(byte)]; }
    Handler operator[](int byte) const { return h[uint8_t(byte)]; }
};

// Handlers by prefix and function byte; "GS (" and "FS (" sequences by the byte after "(".
struct CommandTables {
    HandlerTable esc, fs, gs, us;
    HandlerTable gs_paren, fs_paren;
    Handler* table(uint8_t prefix);
};
const CommandTables& command_tables();

// Registration of each command family (one handler file each).
void add_char_commands(CommandTables& t);      // character sets, fonts, print modes
void add_position_commands(CommandTables& t);  // feeds, spacing, tabs, margins, justification
void add_page_commands(CommandTables& t);      // initialise, page mode, page end
void add_image_commands(CommandTables& t);     // bit images, raster and stored graphics
void add_barcode_commands(CommandTables& t);   // barcodes and 2-D symbols
void add_device_commands(CommandTables& t);    // status, real-time, mark paper, cut, maker codes

// One decoding step for a byte taken with get_one_char.
void process_command(EscposState& st, int byte);
// The printable character path (also used to play macros).
void pirnt_characters(EscposState& st, uint8_t byte);

// The decoding thread's start: every setting reset, then a fresh canvas.
void start_decoding(EscposState& st);
// Takes one byte and decodes it (with everything it reads).
void escpos_step(EscposState& st);
// Decodes until the input ends (tests, fuzzing, benchmarks: InputEnded from the input).
void run_until_input_ends(EscposState& st);

// Parameter reading shared by the handlers.
inline int param(EscposState& st);
// n or its ASCII digit '0' + n, for n in 0..max; -1 otherwise.
inline int digit_param(int byte, int max) {
    if (byte >= 0 && byte <= max) return byte;
    if (byte >= '0' && byte <= '0' + max) return byte - '0';
    return -1;
}
// Skips n parameter bytes.
void skip_params(EscposState& st, long n);
// Skips n raw data bytes.
void skip_raw(EscposState& st, long n);

}  // namespace escpos

#include "escpos_input.h"

inline int escpos::param(EscposState& st) { return get_one_char(st); }
