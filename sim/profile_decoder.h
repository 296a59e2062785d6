// The simulated slave's reading of the profile word stream that the print engine sends through
// the block data port.
//
// Every word is 16 bits, (first byte × 256 + second byte), stored little-endian. A row is:
//   odd clump widths   1 word (w0, w1), a second word (w2, w3) when w1 is not 0
//                      (battery layout: pairs until one whose second byte is 0, at most 9)
//   even clump widths  the same
//   motor steps        (rs1, rs2); the low byte is an end code on the last row of a block:
//                      0xF0 same step, 0xF1 one slower, 0xF2 one faster, 0xFF end of what is pending
//   per burn           (first pulse µs), (second pulse µs)      } only when the row has burns
//   databank           bit b: bank b carries dots                }
//   per bank with dots 27 words (battery layout: 9), bytes 2i, 2i+1 of the bank as one word
// A profile is padded with zeros to whole 4096-byte blocks; after a row with an end code the
// rest of its block is padding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline constexpr size_t HSS_BLOCK = 4096;
inline constexpr int ROW_BYTES = 216;
inline constexpr int RAMP_STEPS = 73;

enum class ProfileLayout { normal, battery };

struct DecodedRow {
    uint8_t rs1 = 0;
    uint8_t rs2 = 0;  // as sent: a ramp step or an end code
    std::vector<uint8_t> odd_widths, even_widths;  // clump widths in bytes (non-zero entries)
    std::vector<std::pair<uint16_t, uint16_t>> burns;
    uint16_t databank = 0;
    std::array<uint8_t, ROW_BYTES> dots{};
    uint64_t end_offset = 0;  // stream offset after the row (rounded up to a block after an end code)

    bool end_code() const { return rs2 >= 0xF0 && (rs2 <= 0xF2 || rs2 == 0xFF); }
    bool job_end() const { return rs2 == 0xFF; }
    // The ramp step of the row's second motor step.
    int second_step() const;
    // Time of the row: both motor steps, in microseconds.
    long row_time_us(const std::array<int, RAMP_STEPS>& steps) const;
    // "row=N rs1=.. rs2=.. burns=.. heat=a/b,c/d banks=0,2" (without the row number)
    std::string describe() const;
};

// Decodes one row from buf[0..len). Returns the bytes it takes, or 0 when the row is not
// complete yet.
size_t decode_row(const uint8_t* buf, size_t len, ProfileLayout layout, DecodedRow& row);

// The stream of blocks as it arrives: rows come out as soon as they are complete.
class ProfileStream {
public:
    void add_block(const uint8_t* block);  // HSS_BLOCK bytes
    bool next_row(DecodedRow& row);
    void reset();
    // Parsing stands at the start of a profile: the last row had an end code (or there was none)
    // and nothing further has arrived.
    bool at_profile_start() const { return !in_profile_ && pos_ == buf_.size(); }
    // A profile has begun and its last row has not come yet.
    bool in_profile() const { return in_profile_; }
    // The layout applies from the next profile that starts.
    void set_layout(ProfileLayout l) { next_layout_ = l; }
    ProfileLayout layout() const { return layout_; }
    uint64_t blocks_added() const { return blocks_; }

private:
    void skip_to_block_end();
    std::vector<uint8_t> buf_;  // block-aligned: buf_[0] is the start of block base_block_
    size_t pos_ = 0;
    uint64_t base_block_ = 0;
    uint64_t blocks_ = 0;
    bool in_profile_ = false;
    ProfileLayout layout_ = ProfileLayout::normal;
    ProfileLayout next_layout_ = ProfileLayout::normal;
};
