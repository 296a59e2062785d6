// Fixtures of the print engine's tests and benchmarks: the device image's constants, label-like
// and random dot rows, and a reader of the profile word stream.
#pragma once

#include "burn_tables.h"
#include "profile_file.h"
#include "profiler.h"

#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace enginetest {

using engine::ROW_BYTES;

inline std::string source_path(const std::string& rel) { return std::string(ENGINE_SOURCE_DIR) + "/" + rel; }

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/engine_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// A profiler loaded with the device image's print head constants and the nominal burn table
// (contrast 5) computed as burn_builder computes it.
template <class L>
void load_device_profiler(engine::Profiler<L>& p, int maxnsa = 432, int hotpoint = 80) {
    auto in = engine::read_burn_inputs(source_path("rootfs/home/printhead_config.cfg"),
                                       source_path("rootfs/home/paper_config.cfg"));
    p.head.ramp_table_size = engine::RAMP_STEPS;
    for (int s = 0; s < engine::RAMP_STEPS; ++s) p.head.acceleration_steps[s] = static_cast<uint16_t>(in.steps[s]);
    p.head.PRINTHEAD_MAXNSA = maxnsa;
    p.head.PRINTHEAD_HOTPOINT = hotpoint;
    const double vp = L::battery ? engine::BATTERY_VP : in.vp;
    const double* f = L::battery ? engine::battery_temp_factor : engine::mains_temp_factor;
    for (int i = 0; i < engine::TEMP_INDICES; ++i)
        for (int s = 0; s < engine::RAMP_STEPS; ++s)
            for (int c = 0; c < L::classes; ++c) p.tables.t[i][s][c] = engine::burn_value(in, 4, i, s, vp, f);
    p.caps = engine::SpeedCaps{};
    engine::init_luts();
    engine::init_oddluts();
    engine::init_evenluts();
}

// Label-like rows: text lines, a barcode, boxes and blank space.
inline std::vector<uint8_t> label_rows(int rows, unsigned seed = 1) {
    std::vector<uint8_t> v(size_t(rows) * ROW_BYTES, 0);
    std::mt19937 rng(seed);
    for (int r = 0; r < rows; ++r) {
        uint8_t* row = &v[size_t(r) * ROW_BYTES];
        int band = (r / 24) % 8;
        if (r % 300 < 2 || r % 300 > 297) {  // box top and bottom
            for (int i = 8; i < ROW_BYTES - 8; ++i) row[i] = 0xFF;
        }
        row[8] |= 0xC0;
        row[ROW_BYTES - 9] |= 0x03;
        if (band == 1 || band == 2 || band == 5) {  // text: glyph strokes
            if (r % 24 < 18) {
                for (int i = 12; i < 200; ++i) row[i] = static_cast<uint8_t>(rng() & rng() & 0x7E);
            }
        } else if (band == 3) {  // barcode: vertical bars
            for (int i = 20; i < 196; ++i) row[i] = static_cast<uint8_t>((i * 37 % 11) < 5 ? 0xFF : (i % 3 ? 0xF0 : 0x0F));
        } else if (band == 6 && r % 5 == 0) {  // a dotted rule
            for (int i = 12; i < 204; ++i) row[i] = 0xAA;
        }
    }
    return v;
}

inline std::vector<uint8_t> random_rows(int rows, unsigned seed, int density_percent) {
    std::vector<uint8_t> v(size_t(rows) * ROW_BYTES, 0);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pct(0, 99);
    for (auto& b : v) {
        uint8_t x = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (pct(rng) < density_percent) x = static_cast<uint8_t>(x | (1 << bit));
        b = x;
    }
    return v;
}

// Decodes a profile word stream back into dot rows, the way the slave reads it: per row the
// width words of both parities, the step word, pulse pairs, the bank mask and the banks. A step
// word whose low byte is 0xF0..0xFF ends a profile, whose padding runs to the next 4096 bytes.
template <class L>
struct DecodedRow {
    std::vector<uint8_t> dots;
    std::vector<int> oddw, evenw;
    int rs1 = 0, low = 0;
    std::vector<std::pair<int, int>> pulses;
    int databank = 0;
};

template <class L>
bool decode_stream(const uint8_t* p, size_t len, std::vector<DecodedRow<L>>& out, bool padded) {
    size_t i = 0;
    auto word = [&](int& first, int& second) {
        if (i + 2 > len) return false;
        second = p[i];
        first = p[i + 1];
        i += 2;
        return true;
    };
    while (i < len) {
        DecodedRow<L> row;
        row.dots.assign(ROW_BYTES, 0);
        for (int parity = 0; parity < 2; ++parity) {
            auto& w = parity ? row.evenw : row.oddw;
            for (int k = 0; k < L::node_entries / 2; ++k) {
                int a, b;
                if (!word(a, b)) return false;
                if (a) w.push_back(a);
                if (b) w.push_back(b);
                if (b == 0) break;
            }
        }
        int rs1, low;
        if (!word(rs1, low)) return false;
        row.rs1 = rs1;
        row.low = low;
        int burns = int(row.oddw.size() + row.evenw.size());
        if (burns) {
            for (int j = 0; j < burns; ++j) {
                int a, b, c, d;
                if (!word(a, b) || !word(c, d)) return false;
                row.pulses.push_back({a * 256 + b, c * 256 + d});
            }
            int a, b;
            if (!word(a, b)) return false;
            row.databank = a * 256 + b;
            for (int bank = 0; bank < L::banks; ++bank) {
                if (!(row.databank & (1 << bank))) continue;
                for (int k = 0; k < L::bytes_per_bank; k += 2) {
                    int x, y;
                    if (!word(x, y)) return false;
                    row.dots[bank * L::bytes_per_bank + k] = static_cast<uint8_t>(x);
                    row.dots[bank * L::bytes_per_bank + k + 1] = static_cast<uint8_t>(y);
                }
            }
        }
        out.push_back(row);
        if (low >= 0xF0) {
            if (!padded) return i == len;
            i = (i + engine::HSS_BLOCK - 1) / engine::HSS_BLOCK * engine::HSS_BLOCK;
        }
    }
    return true;
}

}  // namespace enginetest
