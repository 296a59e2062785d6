// Reads a profile word stream as the slave received it (/sim/profile.bin) and reports what the
// head was asked to heat: "rows=N burns=B most=M", B the most burns of a row, M the most dots one
// burn heats (the odd or even dots of the bytes its clump spans).
//
//   profile_clumps FILE [--battery]
#include "profile_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// Dots of one parity in bytes [from, from + width): odd dots are 0x80, 0x20, 0x08, 0x02 of a byte.
int parity_dots(const DecodedRow& row, int from, int width, bool odd) {
    int n = 0;
    for (int i = from; i < from + width && i < ROW_BYTES; ++i)
        n += __builtin_popcount(unsigned(row.dots[size_t(i)]) & (odd ? 0xAAu : 0x55u));
    return n;
}

int most_in(const DecodedRow& row, const std::vector<uint8_t>& widths, bool odd) {
    int most = 0, at = 0;
    for (uint8_t w : widths) {
        most = std::max(most, parity_dots(row, at, w, odd));
        at += w;
    }
    return most;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: profile_clumps FILE [--battery]\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 2;
    }
    ProfileStream stream;
    if (argc > 2 && std::strcmp(argv[2], "--battery") == 0) stream.set_layout(ProfileLayout::battery);
    long rows = 0;
    size_t burns = 0;
    int most = 0;
    uint8_t block[HSS_BLOCK];
    while (std::fread(block, 1, sizeof block, f) == sizeof block) {
        stream.add_block(block);
        DecodedRow row;
        while (stream.next_row(row)) {
            ++rows;
            burns = std::max(burns, row.odd_widths.size() + row.even_widths.size());
            most = std::max({most, most_in(row, row.odd_widths, true), most_in(row, row.even_widths, false)});
        }
    }
    std::fclose(f);
    std::printf("rows=%ld burns=%zu most=%d\n", rows, burns, most);
    return 0;
}
