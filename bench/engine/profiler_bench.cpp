// Profiler throughput on one core: blocks of 80 rows (40 rows plus 40 look-ahead rows) of label
// content go through the whole per-block path of the block cutter: row list, smoothing, heat
// times, serialisation and the profile file.
//
//   engine_profiler_bench [seconds] [profile-file]
#include "engine_fixtures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

using namespace engine;
using namespace enginetest;

template <class L>
void run(const char* name, double seconds, const std::string& file) {
    auto p = std::make_unique<Profiler<L>>();
    load_device_profiler(*p, L::battery ? 0 : 432);
    p->caps.ips_limit = 72;
    std::vector<LineNode<L>> list(MAX_ROWS);
    std::vector<point_t> prof(MAX_ROWS);
    std::vector<uint8_t> out(PROFILE_BUF_SIZE);
    const int label = 2000;
    auto rows = label_rows(label + 80, 11);
    // CPU time of this thread (user and system): the figure for one core of its own, whatever else
    // the machine runs meanwhile.
    auto cpu_now = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec / 1e9;
    };
    using clock = std::chrono::steady_clock;
    long blocks = 0, bytes = 0;
    int finalspeed = 0, at = 0;
    auto t0 = clock::now();
    const double c0 = cpu_now();
    double elapsed = 0;
    while (elapsed < seconds) {
        for (int k = 0; k < 50; ++k) {
            long n = profile_block(*p, &rows[size_t(at) * ROW_BYTES], 80, 13, finalspeed, 72, list.data(), prof.data(),
                                   out.data(), out.size(), finalspeed);
            if (write_profile_bytes(file, out.data(), n) != n) {
                std::fprintf(stderr, "cannot write %s\n", file.c_str());
                std::exit(1);
            }
            bytes += n;
            ++blocks;
            at = (at + 40) % label;
        }
        elapsed = std::chrono::duration<double>(clock::now() - t0).count();
    }
    const double cpu = cpu_now() - c0;
    std::printf("%-18s %6ld blocks, %.2f s CPU (%.2f s wall): %8.0f rows/s printed (40 a block), %8.0f rows/s "
                "profiled (80 a block), %.0f us CPU a block, %.0f profile bytes a row\n",
                name, blocks, cpu, elapsed, blocks * 40 / cpu, blocks * 80 / cpu, cpu / blocks * 1e6,
                double(bytes) / (blocks * 40.0));
}

// What a label prints like with the device image's constants: burns per row, speeds, heat times.
template <class L>
void label_figures(const char* name, int maxnsa, int temp) {
    auto p = std::make_unique<Profiler<L>>();
    load_device_profiler(*p, maxnsa);
    p->caps.ips_limit = 72;
    std::vector<LineNode<L>> list(MAX_ROWS);
    std::vector<point_t> prof(MAX_ROWS);
    std::vector<uint8_t> out(PROFILE_BUF_SIZE);
    const int label = 2000;
    auto rows = label_rows(label, 11);
    int finalspeed = 0;
    long burns_hist[L::node_entries + 1] = {};
    double time_us = 0;
    long heat_min = 1 << 30, heat_max = 0, heat_sum = 0, heat_n = 0, full_speed = 0;
    for (int at = 0; at < label;) {
        int pending = label - at;
        int J = pending < 80 ? pending : 80;
        profile_block(*p, &rows[size_t(at) * ROW_BYTES], J, temp, finalspeed, pending - J > 0 ? 72 : 0, list.data(),
                      prof.data(), out.data(), out.size(), finalspeed);
        int written = J == 80 ? 40 : J;
        for (int r = 0; r < written; ++r) {
            const auto& n = list[r];
            ++burns_hist[n.numsburn];
            int second = n.rs2 == 255 ? n.rs1 : n.rs2;
            time_us += p->step(n.rs1) + p->step(second);
            if (n.rs1 >= 70) ++full_speed;
            for (int j = 0; j < n.numsburn; ++j) {
                heat_min = std::min<long>(heat_min, n.btimes[j]);
                heat_max = std::max<long>(heat_max, n.btimes[j]);
                heat_sum += n.btimes[j];
                ++heat_n;
            }
        }
        at += written;
    }
    std::printf("%-18s MAXNSA %3d temp index %2d: %.2f in/s on average (%.2f s for %d rows), %.0f%% of rows at "
                "steps 70-72, heat %ld..%ld us (mean %.0f); rows by burns:",
                name, maxnsa, temp, label / 203.0 / (time_us / 1e6), time_us / 1e6, label, 100.0 * full_speed / label,
                heat_min, heat_max, heat_n ? double(heat_sum) / heat_n : 0.0);
    for (int b = 0; b <= L::node_entries; ++b)
        if (burns_hist[b]) std::printf(" %d:%ld", b, burns_hist[b]);
    std::printf("\n");
}

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    // The profile file lives on a RAM file system on the printer (/tmp).
    std::string file = argc > 2 ? argv[2] : "/dev/shm/engine_bench_profile.bin";
    run<MainsLayout>("dot_feeder", seconds, file);
    run<BatteryLayout>("dot_feeder_battery", seconds, file);
    std::remove(file.c_str());
    std::printf("\nA 2000-row label (text, a barcode, boxes), nominal contrast:\n");
    for (int temp : {5, 13, 20}) {
        label_figures<MainsLayout>("dot_feeder", 280, temp);
        label_figures<MainsLayout>("dot_feeder", 432, temp);
        label_figures<BatteryLayout>("dot_feeder_battery", 120, temp);
    }
    return 0;
}
