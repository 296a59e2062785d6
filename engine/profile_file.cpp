#include "profile_file.h"

#include "settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace engine {

namespace {

struct WordWriter {
    uint8_t* p;
    uint8_t* end;
    bool ok = true;
    // The word (first, second): value first * 256 + second, stored little-endian.
    void word(uint8_t first, uint8_t second) {
        if (end - p < 2) {
            ok = false;
            return;
        }
        p[0] = second;
        p[1] = first;
        p += 2;
    }
    void value(uint16_t v) { word(static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)); }
};

template <int N>
void width_words(WordWriter& w, const uint8_t (&cw)[N]) {
    for (int k = 0; k + 1 < N; k += 2) {
        w.word(cw[k], cw[k + 1]);
        if (cw[k + 1] == 0) break;
    }
}

}  // namespace

PulsePair split_burn(int btime, int rs1, int hotpoint, int slow_hotpoint) {
    int p = rs1 < 13 ? slow_hotpoint : hotpoint;
    p = std::clamp(p, 0, 100);
    int first = p * btime / 100;
    int second = (100 - p) * btime / 100;
    if (second < 255) {
        first = btime;
        second = 0;
    }
    return {static_cast<uint16_t>(first), static_cast<uint16_t>(second)};
}

template <class L>
long serialise_rows(const LineNode<L>* list, const uint8_t* dots, int rows, int hotpoint, uint8_t* out, size_t cap) {
    WordWriter w{out, out + cap};
    for (int i = 0; i < rows && w.ok; ++i) {
        const LineNode<L>& n = list[i];
        width_words(w, n.oddcw);
        width_words(w, n.evencw);
        uint8_t low = n.rs2;
        if (i == rows - 1 && n.rs2 != 255) low = n.rs2 == n.rs1 ? 0xF0 : n.rs2 < n.rs1 ? 0xF1 : 0xF2;
        w.word(n.rs1, low);
        if (n.numsburn == 0) continue;
        for (int j = 0; j < n.numsburn && j < L::node_entries; ++j) {
            PulsePair pp = split_burn(n.btimes[j], n.rs1, hotpoint, L::slow_hotpoint);
            w.value(pp.first);
            w.value(pp.second);
        }
        w.value(n.databank);
        const uint8_t* row = dots + size_t(i) * ROW_BYTES;
        for (int b = 0; b < L::banks; ++b) {
            if (!(n.databank & (1u << b))) continue;
            const uint8_t* bank = row + b * L::bytes_per_bank;
            if (w.end - w.p < L::bytes_per_bank) {
                w.ok = false;
                break;
            }
            // Byte 2i is the word's first (high) byte, so the pair is swapped in the stream.
            for (int k = 0; k < L::bytes_per_bank; k += 2) {
                w.p[k] = bank[k + 1];
                w.p[k + 1] = bank[k];
            }
            w.p += L::bytes_per_bank;
        }
    }
    return w.ok ? long(w.p - out) : -1;
}

long write_profile_bytes(const std::string& path, const uint8_t* bytes, long size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    bool ok = size == 0 || std::fwrite(bytes, 1, size_t(size), f) == size_t(size);
    ok = (std::fclose(f) == 0) && ok;
    return ok ? size : -1;
}

template <class L>
long profile_block(Profiler<L>& p, const uint8_t* work, int J, int temp, int first_cap, int last_cap,
                   LineNode<L>* list, point_t* prof, uint8_t* out, size_t cap, int& finalspeed) {
    if (J <= 0) {
        finalspeed = 0;
        return 0;
    }
    p.caps.max_firstline_speed = first_cap + p.caps.cap_offset;
    p.caps.max_lastline_speed = last_cap + p.caps.cap_offset;
    p.caps.max_speed_index = p.caps.ips_limit;
    for (int i = 0; i < J; ++i) prof[i] = point_t{};
    build_linked_list(p, work, list, prof, J, temp);
    profile(p, prof, list, J, temp);
    dbg("fisrtline--listptr->rs1 = %d\n", list[0].rs1);
    dbg("lastline--listptr->rs1 = %d\n", list[J - 1].rs1);
    int written = J;
    if (J == PBMBLOCK_DOTLINE + RAMP_DOTLINE) {
        finalspeed = list[PBMBLOCK_DOTLINE].rs1;
        written = PBMBLOCK_DOTLINE;
    } else {
        finalspeed = 0;
    }
    return serialise_rows(list, work, written, p.head.PRINTHEAD_HOTPOINT, out, cap);
}

template long serialise_rows<MainsLayout>(const LineNode<MainsLayout>*, const uint8_t*, int, int, uint8_t*, size_t);
template long serialise_rows<BatteryLayout>(const LineNode<BatteryLayout>*, const uint8_t*, int, int, uint8_t*,
                                            size_t);
template long profile_block<MainsLayout>(Profiler<MainsLayout>&, const uint8_t*, int, int, int, int,
                                         LineNode<MainsLayout>*, point_t*, uint8_t*, size_t, int&);
template long profile_block<BatteryLayout>(Profiler<BatteryLayout>&, const uint8_t*, int, int, int, int,
                                           LineNode<BatteryLayout>*, point_t*, uint8_t*, size_t, int&);

}  // namespace engine
