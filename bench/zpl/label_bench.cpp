// zpl_interp on one core: the time from the end-of-format command of a 10-field text label to its
// dot image being written and closed (rasterising, packing, writing, the new render state). The
// previous image is taken away before each label, so no time is spent waiting for the engine.
//
//   zpl_label_bench [iterations] [--max-median-ms N]
//
// Prints the median, 90th percentile and extremes of the thread's CPU time and of the wall time;
// with --max-median-ms exits 1 when the CPU-time median is above N.
#include "image_builder.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
const char* const FIELDS =
    "^XA"
    "^FO50,50^A0N,60,0^FDSHIP TO: ACME CORPORATION^FS"
    "^FO50,130^A0N,40,0^FD1234 INDUSTRIAL PARKWAY^FS"
    "^FO50,190^A0N,40,0^FDSPRINGFIELD IL 62704^FS"
    "^FO50,260^ADN,36,20^FDORDER 0004512^FS"
    "^FO50,320^AAN,27,15^FDWEIGHT 12.5 KG^FS"
    "^FO50,380^ABN,33,21^FDCARRIER GROUND^FS"
    "^FO50,450^A0N,80,0^FDPO 778812^FS"
    "^FO50,560^AEN,28,15^FDTRACKING 1Z999AA10123456784^FS"
    "^FO50,620^A0N,30,0^FDHANDLE WITH CARE^FS"
    "^FO50,680^AHN,21,13^FDBOX 1 OF 3^FS";

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double wall_ms() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void feed(const std::string& s) { ring_put(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

struct Figures {
    double median, p90, min, max;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 9 / 10)], v.front(), v.back()};
}
}  // namespace

int main(int argc, char** argv) {
    int iterations = 40;
    double max_median = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-median-ms") == 0 && i + 1 < argc)
            max_median = std::atof(argv[++i]);
        else
            iterations = std::max(5, std::atoi(argv[i]));
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);  // one core

    char tmpl[] = "/tmp/zpl_label_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string dir = tmpl;
    PATH_TO_DOTIMAGE_FILES = dir + "/images";
    IMSTART_INTAKE_FOLDER = dir + "/imstart";
    fs::create_directories(PATH_TO_DOTIMAGE_FILES);
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
    zpl_stop_when_dry = true;
    zpl_shell = [](const char*) { return 0; };
    update_font_table();
    update_zpl_emu(dir + "/defaults");
    reset_text_defaults();
    reset_position_defaults();
    init_data_inbuf();
    init_rendering_system();

    std::vector<double> cpu, wall, fields;
    int rows = 0;
    long ink_bytes = 0;
    for (int i = 0; i < iterations + 3; ++i) {
        feed(FIELDS);
        double f0 = thread_cpu_ms();
        zpl_run_until_dry();  // fields drawn into the recording
        double f1 = thread_cpu_ms();
        for (const auto& e : fs::directory_iterator(PATH_TO_DOTIMAGE_FILES)) fs::remove(e.path());
        feed("^XZ");
        double c0 = thread_cpu_ms(), w0 = wall_ms();
        zpl_run_until_dry();  // rasterise, write, close, new render state
        double c1 = thread_cpu_ms(), w1 = wall_ms();
        if (i >= 3) {  // the first labels load the fonts
            cpu.push_back(c1 - c0);
            wall.push_back(w1 - w0);
            fields.push_back(f1 - f0);
        }
        rows = 0;
        for (const auto& e : fs::directory_iterator(PATH_TO_DOTIMAGE_FILES)) {
            FILE* f = std::fopen(e.path().c_str(), "rb");
            if (f) {
                int w = 0;
                if (std::fscanf(f, "P4 %d %d", &w, &rows) != 2) rows = 0;
                std::fgetc(f);
                ink_bytes = 0;
                for (int b; (b = std::fgetc(f)) != EOF;) ink_bytes += b != 0;
                std::fclose(f);
            }
        }
    }
    fs::remove_all(dir);
    Figures c = figures(cpu), w = figures(wall), f = figures(fields);
    std::printf("10-field label, ^XZ to dot image closed (%d rows, %ld bytes with ink), %d labels\n", rows,
                ink_bytes, iterations);
    std::printf("  CPU time : median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", c.median, c.p90, c.min, c.max);
    std::printf("  wall time: median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", w.median, w.p90, w.min, w.max);
    std::printf("  (for comparison, ^XA and the ten fields before it: CPU median %.2f ms)\n", f.median);
    if (rows <= 0 || ink_bytes == 0) {
        std::printf("no dot image with text was written\n");
        return 1;
    }
    if (max_median > 0 && c.median > max_median) {
        std::printf("median above %.1f ms\n", max_median);
        return 1;
    }
    return 0;
}
