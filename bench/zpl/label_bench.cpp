// zpl_interp and jpl_interp on one core: how long a label takes, from its first command to its dot
// image written and closed, and how much of that is the end-of-format command (rasterising,
// packing, writing, the new render state). Each dot image is taken away as soon as it is written,
// as the print engine would (labels of several formats write several), and so is each contrast
// trigger (~SD, ^MD), so no time is spent waiting for the engine.
//
//   zpl_label_bench [iterations] [--file LABEL.zpl|LABEL.jpl] [--max-median-ms N]
//
// Without --file a built-in 10-field text label is used; a file ending in ".jpl" is a JPL label. Prints the median, 90th percentile and
// extremes of the thread's CPU time and of the wall time; with --max-median-ms exits 1 when the
// CPU-time median of the whole label is above N.
#include "image_builder.h"
#include "jpl_state.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "render_symbols.h"
#include "zpl_state.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    "^FO50,680^AHN,21,13^FDBOX 1 OF 3^FS"
    "^XZ";

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double wall_ms() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void feed(const std::string& s) { ring_put(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// Each dot image is moved aside the moment it is written (as the engine takes it); it is read
// after the label's time has been taken.
std::string taken_path;
void take_dot_image(const std::string& path) {
    if (!taken_path.empty()) std::rename(path.c_str(), taken_path.c_str());
}

// Rows of the last image taken and how many of its bytes carry ink.
void read_taken(int& rows, long& ink_bytes) {
    FILE* f = std::fopen(taken_path.c_str(), "rb");
    if (!f) return;
    int w = 0;
    if (std::fscanf(f, "P4 %d %d", &w, &rows) != 2) rows = 0;
    std::fgetc(f);
    std::vector<unsigned char> bytes(1 << 16);
    ink_bytes = 0;
    for (size_t n; (n = std::fread(bytes.data(), 1, bytes.size(), f)) > 0;)
        for (size_t i = 0; i < n; ++i) ink_bytes += bytes[i] != 0;
    std::fclose(f);
    std::remove(taken_path.c_str());
}

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
    std::string label = FIELDS, name = "10-field text label";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-median-ms") == 0 && i + 1 < argc) {
            max_median = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            label = text.str();
            name = argv[i];
            if (!in || label.empty()) {
                std::fprintf(stderr, "%s: cannot read\n", argv[i]);
                return 2;
            }
        } else {
            iterations = std::max(5, std::atoi(argv[i]));
        }
    }
    bool jpl_label = name.size() > 4 && name.compare(name.size() - 4, 4, ".jpl") == 0;
    // The label up to its end-of-format command, and that command.
    size_t end = jpl_label ? label.rfind(std::string("\x1a\x5d\x00", 3)) : label.rfind("^XZ");
    if (end == std::string::npos) {
        std::fprintf(stderr, "%s: no end of label\n", name.c_str());
        return 2;
    }
    std::string fields = label.substr(0, end), finish = label.substr(end);

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);  // one core

    // Every folder the interpreter touches (dot images, trigger, stored graphics and formats of the
    // label, scratch files) lies below a temporary folder of this run: the machine's device paths
    // are never used.
    char tmpl[] = "/tmp/zpl_label_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string dir = tmpl;
    if (jpl_label) jpl_use_folders_under(dir);
    else zpl_use_folders_under(dir);
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) FONTS_LIST_PATH = std::string(src) + "/rootfs/usr/share/fontslist";
    zpl_stop_when_dry = true;
    zpl_shell = [](const char*) { return 0; };
    contrast_trigger_written = [](const std::string& path) { unlink(path.c_str()); };
    taken_path = dir + "/taken.pbm";
    dot_image_written = take_dot_image;
    init_rendering_system();
    if (jpl_label) jpl_fresh_state();
    else zpl_fresh_state();
    auto run_until_dry = jpl_label ? jpl_run_until_dry : zpl_run_until_dry;

    std::vector<double> cpu, wall, xz;
    int rows = 0;
    long ink_bytes = 0;
    for (int i = 0; i < iterations + 3; ++i) {
        feed(fields);
        double c0 = thread_cpu_ms(), w0 = wall_ms();
        run_until_dry();  // fields drawn into the recording
        double c1 = thread_cpu_ms();
        feed(finish);
        run_until_dry();  // rasterise, write, close, new render state
        double c2 = thread_cpu_ms(), w2 = wall_ms();
        if (i >= 3) {  // the first labels load the fonts
            cpu.push_back(c2 - c0);
            wall.push_back(w2 - w0);
            xz.push_back(c2 - c1);
        }
        read_taken(rows, ink_bytes);
    }
    fs::remove_all(dir);
    release_font_resources();
    Figures c = figures(cpu), w = figures(wall), x = figures(xz);
    std::printf("%s (%d rows, %ld bytes with ink), %d labels, one core\n", name.c_str(), rows, ink_bytes,
                iterations);
    std::printf("  whole label, first command to dot image closed:\n");
    std::printf("    CPU time : median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", c.median, c.p90, c.min, c.max);
    std::printf("    wall time: median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", w.median, w.p90, w.min, w.max);
    std::printf("  ^XZ to dot image closed: CPU median %.2f ms, p90 %.2f ms\n", x.median, x.p90);
    if (rows <= 0 || ink_bytes == 0) {
        std::printf("no dot image with ink was written\n");
        return 1;
    }
    if (max_median > 0 && c.median > max_median) {
        std::printf("median above %.1f ms\n", max_median);
        return 1;
    }
    return 0;
}
