// The profile: the stream of 16-bit words that the slave executes row by row. A word made of two
// bytes (first, second) has the value first * 256 + second and is stored little-endian, so the
// second byte comes first in the stream.
//
// Per row: odd clump width words, even clump width words, the step word (rs1, rs2), and when the
// row burns: one pulse pair per burn, the bank mask, and the dot bytes of every bank that holds
// dots. The last row written for a block carries an end code in the step word's low byte unless
// its rs2 is 255.
#pragma once

#include "profiler.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

inline constexpr const char* PROFILE_SIZE_FOLDER = "/tmp/profilesize";
inline constexpr const char* PROFILE_SIZE_FILE = "/tmp/profilesize/prosize";

// The pulse pair of one burn: (first, second) in microseconds.
struct PulsePair {
    uint16_t first;
    uint16_t second;
};
PulsePair split_burn(int btime, int rs1, int hotpoint, int slow_hotpoint);

// Serialises `rows` rows (nodes and their dot rows, ROW_BYTES each) into out (capacity cap bytes).
// Returns the number of bytes, or -1 when cap is too small.
template <class L>
long serialise_rows(const LineNode<L>* list, const uint8_t* dots, int rows, int hotpoint, uint8_t* out, size_t cap);

// Writes the serialised rows to path ("wb"). Returns the size in bytes, -1 when the file cannot be
// created or written.
long write_profile_bytes(const std::string& path, const uint8_t* bytes, long size);

// Size rounded up to whole 4096-byte blocks.
inline long padded_size(long size) { return (size + HSS_BLOCK - 1) / HSS_BLOCK * HSS_BLOCK; }

// Profiles one cut block of J rows (the block plus any look-ahead rows) and serialises the rows
// to write: the first 40 when J is 80 (the rest only shaped the speeds), else all J. finalspeed
// becomes the first ramp step of row 40 when J is 80, else 0. Returns the serialised size.
template <class L>
long profile_block(Profiler<L>& p, const uint8_t* work, int J, int temp, int first_cap, int last_cap,
                   LineNode<L>* list, point_t* prof, uint8_t* out, size_t cap, int& finalspeed);

}  // namespace engine
