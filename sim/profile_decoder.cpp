#include "profile_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
struct Reader {
    const uint8_t* buf;
    size_t len;
    size_t pos = 0;
    bool ok = true;
    uint16_t word() {
        if (pos + 2 > len) {
            ok = false;
            pos = len;
            return 0;
        }
        uint16_t w = uint16_t(buf[pos] | (buf[pos + 1] << 8));
        pos += 2;
        return w;
    }
};

void read_widths(Reader& r, ProfileLayout layout, std::vector<uint8_t>& out) {
    int max_pairs = layout == ProfileLayout::battery ? 9 : 2;
    for (int i = 0; i < max_pairs && r.ok; ++i) {
        uint16_t w = r.word();
        uint8_t first = uint8_t(w >> 8), second = uint8_t(w & 0xFF);
        if (first) out.push_back(first);
        if (second) out.push_back(second);
        if (second == 0) break;
    }
}
}  // namespace

int DecodedRow::second_step() const {
    int s1 = std::min<int>(rs1, RAMP_STEPS - 1);
    switch (rs2) {
        case 0xF1: return std::max(s1 - 1, 0);
        case 0xF2: return std::min(s1 + 1, RAMP_STEPS - 1);
        default: return rs2 < RAMP_STEPS ? rs2 : s1;  // 0xF0, 0xFF: the same step
    }
}

long DecodedRow::row_time_us(const std::array<int, RAMP_STEPS>& steps) const {
    return long(steps[std::min<int>(rs1, RAMP_STEPS - 1)]) + steps[second_step()];
}

std::string DecodedRow::describe() const {
    std::string s = "rs1=" + std::to_string(rs1) + " rs2=";
    if (end_code()) {
        char code[4];
        std::snprintf(code, sizeof code, "%02X", rs2);
        s += code;
    } else {
        s += std::to_string(rs2);
    }
    s += " burns=" + std::to_string(burns.size()) + " heat=";
    if (burns.empty()) s += "-";
    for (size_t i = 0; i < burns.size(); ++i) {
        if (i) s += ",";
        s += std::to_string(burns[i].first) + "/" + std::to_string(burns[i].second);
    }
    s += " banks=";
    bool any = false;
    for (int b = 0; b < 16; ++b) {
        if (!(databank & (1u << b))) continue;
        if (any) s += ",";
        s += std::to_string(b);
        any = true;
    }
    if (!any) s += "-";
    return s;
}

size_t decode_row(const uint8_t* buf, size_t len, ProfileLayout layout, DecodedRow& row) {
    row = DecodedRow{};
    Reader r{buf, len};
    read_widths(r, layout, row.odd_widths);
    read_widths(r, layout, row.even_widths);
    uint16_t steps = r.word();
    row.rs1 = uint8_t(steps >> 8);
    row.rs2 = uint8_t(steps & 0xFF);
    size_t burns = row.odd_widths.size() + row.even_widths.size();
    if (burns && r.ok) {
        for (size_t i = 0; i < burns && r.ok; ++i) {
            uint16_t first = r.word();
            uint16_t second = r.word();
            row.burns.emplace_back(first, second);
        }
        row.databank = r.word();
        int banks = layout == ProfileLayout::battery ? 12 : 4;
        int words = layout == ProfileLayout::battery ? 9 : 27;
        row.databank &= uint16_t((1u << banks) - 1);
        for (int b = 0; b < banks && r.ok; ++b) {
            if (!(row.databank & (1u << b))) continue;
            for (int i = 0; i < words && r.ok; ++i) {
                uint16_t w = r.word();
                row.dots[size_t(b * words * 2 + 2 * i)] = uint8_t(w >> 8);
                row.dots[size_t(b * words * 2 + 2 * i + 1)] = uint8_t(w & 0xFF);
            }
        }
    }
    return r.ok ? r.pos : 0;
}

void ProfileStream::add_block(const uint8_t* block) {
    buf_.insert(buf_.end(), block, block + HSS_BLOCK);
    ++blocks_;
}

void ProfileStream::reset() {
    buf_.clear();
    pos_ = 0;
    base_block_ = blocks_;
    in_profile_ = false;
}

void ProfileStream::skip_to_block_end() {
    pos_ = (pos_ + HSS_BLOCK - 1) / HSS_BLOCK * HSS_BLOCK;
    if (pos_ > buf_.size()) pos_ = buf_.size();
}

bool ProfileStream::next_row(DecodedRow& row) {
    for (;;) {
        // Drop whole blocks already read.
        size_t done_blocks = pos_ / HSS_BLOCK;
        if (done_blocks) {
            buf_.erase(buf_.begin(), buf_.begin() + long(done_blocks * HSS_BLOCK));
            pos_ -= done_blocks * HSS_BLOCK;
            base_block_ += done_blocks;
        }
        if (pos_ >= buf_.size()) return false;
        // Zeros to the end of a block are padding (a profile that lost its end code).
        size_t block_end = (pos_ / HSS_BLOCK + 1) * HSS_BLOCK;
        if (std::all_of(buf_.begin() + long(pos_), buf_.begin() + long(block_end), [](uint8_t b) { return b == 0; })) {
            pos_ = block_end;
            in_profile_ = false;
            continue;
        }
        if (!in_profile_) layout_ = next_layout_;
        size_t n = decode_row(buf_.data() + pos_, buf_.size() - pos_, layout_, row);
        if (n == 0) return false;
        pos_ += n;
        in_profile_ = !row.end_code();
        if (row.end_code()) skip_to_block_end();
        row.end_offset = base_block_ * HSS_BLOCK + pos_;
        return true;
    }
}
