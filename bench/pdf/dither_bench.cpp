// Dithering a 1728 x 2400 grey picture (a grey ramp with a fine pattern over it) with the
// Floyd-Steinberg ditherer of pdf_interp, on one core. Prints the median over the iterations in
// million pixels per second of the thread's processor time (target: at least 50), and of wall time
// (which counts the time other programs had the core).
//   pdf_dither_bench [iterations]
#include "pdf.h"

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    const int w = 1728, h = 2400;
    std::vector<uint8_t> grey(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) grey[size_t(y) * w + x] = uint8_t((x * 255 / w + ((x ^ y) & 15)) & 255);
    std::vector<uint8_t> bits(size_t(w / 8) * h);

    auto cpu_seconds = [] {
        struct timespec ts {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    };
    std::vector<double> cpu, wall;
    long ink = 0;
    for (int i = 0; i < iterations + 2; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = cpu_seconds();
        Ditherer d(w);
        for (int y = 0; y < h; ++y) d.row(grey.data() + size_t(y) * w, bits.data() + size_t(y) * (w / 8));
        double c = cpu_seconds() - c0;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (i >= 2) {
            cpu.push_back(double(w) * h / c / 1e6);
            wall.push_back(double(w) * h / s / 1e6);
        }
    }
    for (uint8_t b : bits) ink += __builtin_popcount(b);
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    std::printf("dither 1728 x 2400: median %.1f Mpixel/s of processor time (min %.1f, max %.1f), %.1f Mpixel/s of "
                "wall time, over %d runs; ink %.1f%%\n",
                cpu[cpu.size() / 2], cpu.front(), cpu.back(), wall[wall.size() / 2], iterations,
                100.0 * ink / (double(w) * h));
    return ink > 0 ? 0 : 1;
}
