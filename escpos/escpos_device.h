// Device commands that reach beyond the page: the pieces the tests look at directly.
#pragma once

#include "escpos_state.h"

#include <cstdint>

namespace escpos {

// Expands a compressed dot line (US DC3). Input and output are 4-bit nibbles, the low nibble of
// each byte first: 0xA copies the next nibble as it is; 0x5 f g emits (f & 7) * 16 + g nibbles of
// 0xF (bit 3 of f set) or 0x0; any other nibble is itself. Decoding stops at DOTLINE_BYTES bytes
// of output, or at a run that starts within the last two input nibbles. Returns the whole bytes
// produced (written to out, which holds DOTLINE_BYTES).
int line_unzip(const uint8_t* in, int n, uint8_t* out);

// Writes both mark distances (dots) into the mark key file of the configured unit, each as the
// whole number of units above it (inches: 203 dots, millimetres: 8). False when the file cannot
// be written or the unit name is unusable.
bool write_mark_config(EscposState& st);

// The 1024 bytes of NV user memory (bytes the file does not hold read as 0xFF).
std::string read_nv_memory(const EscposState& st);

}  // namespace escpos
