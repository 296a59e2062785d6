#include "escpos_test_support.h"

#include <cstdio>

using namespace std::string_literals;

TEST_F(EscposTest, Smoke) {
    run(esc("a\x01"s) + esc("E\x01"s) + "BOLD HEADER\n" + esc("E\x00"s) + esc("a\x00"s) + "Coffee       3.50\n" +
        gs("!\x11"s) + "TOTAL 9.99\n" + gs("!\x00"s) + fs("&") + "\xd6\xd0\xce\xc4 OK\n" + fs(".") + esc("t\x02"s) +
        "Caf\x82 \x9c\n" + esc("-\x01"s) + "underlined" + esc("-\x00"s) + " font B:" + esc("!\x01"s) + " small text\n\n");
    DotImage p = paper();
    ASSERT_GT(p.height, 0);
    FILE* f = std::fopen("/tmp/i13_smoke.pbm", "wb");
    std::fprintf(f, "P4\n%d %d\n", p.width, p.height);
    std::fwrite(p.raster.data(), 1, p.raster.size(), f);
    std::fclose(f);
}
