// cpcl_interp on one core: how long a label takes from its PRINT line to its dot image written and
// closed (rasterising at the label's resolution, packing, writing, the fresh page), and the whole
// label from its "!" line. The previous image is taken away before each label, so no time is
// spent waiting for the print engine.
//
//   cpcl_label_bench [iterations] [--file LABEL.cpcl] [--max-median-ms N]
//
// Without --file a built-in delivery label is used: 10 text items, a Code 128, a QR Code and two
// boxes. Prints the median, 90th percentile and extremes of the thread's CPU time and of the wall
// time; with --max-median-ms exits 1 when the CPU-time median from PRINT is above N.
#include "cpcl_commands.h"
#include "cpcl_input.h"
#include "cpcl_settings.h"

#include "image_builder.h"
#include "render_symbols.h"

#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {
std::atomic<int> images_taken{0};

const char* const DELIVERY_LABEL =
    "! 0 203 203 812 1\r\n"
    "PAGE-WIDTH 812\r\n"
    "BOX 8 8 804 804 4\r\n"
    "BOX 8 540 804 804 3\r\n"
    "TEXT 4 1 30 24 DELIVERY\r\n"
    "TEXT 7 1 520 40 ROUTE 12B\r\n"
    "TEXT 5 0 30 140 FROM\r\n"
    "TEXT 5 1 30 168 NORTHWIND TRADING, HARBOUR RD 5\r\n"
    "TEXT 5 0 30 226 TO\r\n"
    "TEXT 4 0 30 254 ACME HARDWARE LTD\r\n"
    "TEXT 5 1 30 312 18 MILL LANE, SPRINGFIELD 62704\r\n"
    "TEXT 0 3 30 376 PARCEL 1 OF 3\r\n"
    "BARCODE 128 2 1 90 30 420 PCL-0000451\r\n"
    "TEXT 7 1 30 580 WEIGHT 2.4 KG\r\n"
    "TEXT90 5 1 740 790 FRAGILE\r\n"
    "B QR 520 566 M 2 U 6\r\n"
    "MA,https://track.example.net/delivery/NW-77812\r\n"
    "ENDQR\r\n"
    "PRINT\r\n";

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double wall_ms() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Figures {
    double median, p90, min, max;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 9 / 10)], v.front(), v.back()};
}

void feed(cpcl::CpclState& s, const std::string& bytes) {
    cpcl::put_job_bytes(s.in, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    cpcl::end_of_job(s.in);
}

// The print engine's part, on another core: each dot image is taken (moved into `taken`) as soon
// as it is closed, so that the copies of a label never wait long. A single copy is written without
// waiting for anything.
void take_images(const std::string& folder, const std::string& taken, const std::atomic<bool>& stop) {
    int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE);
    while (!stop) {
        struct pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        alignas(struct inotify_event) char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        for (ssize_t off = 0; off < n;) {
            auto* ev = reinterpret_cast<struct inotify_event*>(buf + off);
            if (ev->len && std::strncmp(ev->name, "dotimage-", 9) == 0) {
                std::string name = ev->name;
                std::rename((folder + "/" + name).c_str(), (taken + "/" + name).c_str());
                ++images_taken;
            }
            off += ssize_t(sizeof(struct inotify_event) + ev->len);
        }
    }
    close(fd);
}

// The PRINT line arrives once everything before it is drawn (as the rest of the same job).
cpcl::CpclState* bench_state = nullptr;
std::string print_line;
bool print_sent = false;
double print_cpu = 0, print_wall = 0;
bool deliver_print() {
    if (print_sent) return false;
    print_sent = true;
    print_cpu = thread_cpu_ms();
    print_wall = wall_ms();
    feed(*bench_state, print_line);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    int iterations = 40;
    double max_median = 0;
    std::string label = DELIVERY_LABEL, name = "delivery label (10 text items, Code 128, QR Code, 2 boxes)";
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
    size_t end = label.rfind("PRINT");
    if (end == std::string::npos) {
        std::fprintf(stderr, "%s: no PRINT\n", name.c_str());
        return 2;
    }
    std::string body = label.substr(0, end);
    print_line = label.substr(end);

    char tmpl[] = "/tmp/cpcl_label_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string dir = tmpl;
    PATH_TO_DOTIMAGE_FILES = dir + "/images";
    IMSTART_INTAKE_FOLDER = dir + "/imstart";
    PATH_TO_BARCODE_SVG = dir + "/barcode.svg";
    fs::create_directories(PATH_TO_DOTIMAGE_FILES);
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
    std::atomic<bool> stop{false};
    std::string taken = dir + "/taken";
    fs::create_directories(taken);
    std::thread engine(take_images, PATH_TO_DOTIMAGE_FILES, taken, std::cref(stop));  // before the pinning

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);  // one core

    auto state = std::make_unique<cpcl::CpclState>();
    cpcl::CpclState& s = *state;
    cpcl::SettingsFiles files;
    const char* src = std::getenv("PRINTER_SOURCE_DIR");
    files.font_map = std::string(src ? src : PRINTER_SOURCE_DIR) + "/rootfs/home/cpcl_font_map.cfg";
    files.image_config = dir + "/none";
    files.units_folder = dir;
    files.label_config = dir + "/none";
    cpcl::load_settings(s, files, 1.0);
    s.formats_dir = dir + "/formats";
    s.shell = [](const char*) { return 0; };
    s.in.stop_when_dry = true;
    cpcl::reset_input(s);
    init_rendering_system();
    bench_state = &s;
    s.in.ring.refill = deliver_print;

    std::vector<double> cpu, wall, whole;
    int rows = 0, copies = 0;
    long ink_bytes = 0;
    for (int i = 0; i < iterations + 3; ++i) {
        double c0 = thread_cpu_ms();
        print_sent = false;
        int before = s.images_written;
        feed(s, body);
        // Draws the label into the page recording; when the input runs dry the PRINT line comes,
        // and the label is rasterised, written, closed and a fresh page made.
        cpcl::run_until_end(s);
        double c2 = thread_cpu_ms(), w2 = wall_ms();
        if (i >= 3) {  // the first labels load the fonts
            cpu.push_back(c2 - print_cpu);
            wall.push_back(w2 - print_wall);
            whole.push_back(c2 - c0);
        }
        copies = s.images_written - before;
        for (int waited = 0; images_taken.load() < s.images_written && waited < 2000; ++waited) usleep(1000);
        rows = 0;
        for (const auto& e : fs::directory_iterator(taken)) {
            FILE* f = std::fopen(e.path().c_str(), "rb");
            if (f) {
                int w = 0;
                if (std::fscanf(f, "P4 %d %d", &w, &rows) != 2) rows = 0;
                std::fgetc(f);
                ink_bytes = 0;
                for (int b; (b = std::fgetc(f)) != EOF;) ink_bytes += b != 0;
                std::fclose(f);
            }
            fs::remove(e.path());
        }
    }
    stop = true;
    engine.join();
    fs::remove_all(dir);
    state.reset();
    release_font_resources();
    Figures c = figures(cpu), w = figures(wall), a = figures(whole);
    std::printf("%s (%d rows, %ld bytes with ink, %d dot image(s)), %d labels, one core\n", name.c_str(), rows,
                ink_bytes, copies, iterations);
    std::printf("  PRINT to dot image closed:\n");
    std::printf("    CPU time : median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", c.median, c.p90, c.min, c.max);
    std::printf("    wall time: median %.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms\n", w.median, w.p90, w.min, w.max);
    std::printf("  whole label, \"!\" line to dot image closed: CPU median %.2f ms, p90 %.2f ms\n", a.median, a.p90);
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
