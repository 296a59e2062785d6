// selftest_interp on one core: the configuration page from the start of the program to its dot
// image written. Each run is a fresh process (this program executed again with --page), so the
// dynamic libraries, the font configuration and the fonts are loaded anew as when engine_watch
// starts the page; the time counts from just before the exec to the image closed.
//
//   selftest_page_bench [iterations] [--max-median-ms N]
//
// The page reads the device image's files in the source tree (PRINTER_SOURCE_DIR/rootfs) and
// writes into a temporary folder; the slave's battery answer is written at once when the page asks
// for it. Prints the median, 90th percentile and extremes of the wall time and of the process's
// CPU time; with --max-median-ms exits 1 when the wall-time median is above N.
#include "selftest_state.h"

#include "image_builder.h"
#include "render_symbols.h"
#include "settings.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
double now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Figures {
    double median, p90, min, max;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 9 / 10)], v.front(), v.back()};
}

// The page in this process: device files from rootfs, everything written under dir. Prints the
// time the image was closed (CLOCK_MONOTONIC, ms) and its rows.
int page(const std::string& rootfs, const std::string& dir) {
    GlobalDefines g;
    g.PATH_TO_DOTIMAGE_FILES = dir + "/images";
    g.PATH_TO_BARCODE_SVG = dir + "/barcode.svg";
    init_render_settings(g);
    SelftestState s;
    SelftestFiles& f = s.files;
    f.prosize = dir + "/prosize";
    f.language = rootfs + "/var/www/languages/english_language.cfg";
    f.selected_language = rootfs + "/var/www/languages/selectedLanguage.cfg";
    f.markup = dir + "/setup_testpage.txt";
    f.interface_config = rootfs + "/home/interface_config.cfg";
    f.network_config = rootfs + "/networkConfig/network_config.cfg";
    f.ap_config = rootfs + "/networkConfig/ap_config.cfg";
    f.bluetooth = rootfs + "/btConfig/blueTooth.cfg";
    f.bluetooth_main = rootfs + "/etc/bluetooth/main.conf";
    f.bt_mac = rootfs + "/home/btMAC.cfg";
    f.wifi_mac = rootfs + "/home/wifiMAC.cfg";
    f.oem_config = rootfs + "/home/oem_config.cfg";
    f.serial_number = rootfs + "/home/serial_number.cfg";
    f.image_config = rootfs + "/imageConfig/image_config.cfg";
    f.escpos_emu = rootfs + "/home/escpos_emu.cfg";
    f.units = rootfs + "/home/device_config_units.cfg";
    f.config_folder = rootfs + "/home";
    f.paper_config = rootfs + "/home/paper_config.cfg";
    f.label_config = rootfs + "/home/label_config.cfg";
    f.headlife = dir + "/liferecode";
    f.fonts_folder = "/usr/share/fonts";
    f.logo_list = rootfs + "/imageConfig/logo_list";
    f.logos = rootfs + "/logos";
    f.battery_icons = rootfs + "/logos/battery";
    f.testpage_logo = rootfs + "/home/testpage_logo.png";
    f.query_response = dir + "/query_response.txt";
    f.return_dat = dir + "/return.dat";
    f.slave_version = dir + "/slave_version.txt";
    f.current_flash = dir + "/current_flash.cfg";
    f.flash_root = dir;
    f.dot_images = dir + "/images";
    // The slave answers the battery query at once.
    std::string response = f.query_response;
    s.shell = [response](const std::string& line) {
        if (line.find("/root/engine_cmd Q") != std::string::npos)
            if (FILE* q = std::fopen(response.c_str(), "w")) {
                std::fputs("07400,74,0", q);
                std::fclose(q);
            }
        return 0;
    };
    bool ok = selftest_run(s);
    double done = now_ms();
    int rows = 0;
    if (ok)
        if (FILE* img = std::fopen(s.image_path.c_str(), "rb")) {
            int w = 0;
            if (std::fscanf(img, "P4 %d %d", &w, &rows) != 2) rows = 0;
            std::fclose(img);
        }
    std::printf("%.3f %d\n", done, rows);
    return ok ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    const char* src = std::getenv("PRINTER_SOURCE_DIR");
    std::string rootfs = std::string(src ? src : PRINTER_SOURCE_DIR) + "/rootfs";
    if (argc == 4 && std::strcmp(argv[1], "--page") == 0) return page(argv[2], argv[3]);

    int iterations = 20;
    double max_median = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-median-ms") == 0 && i + 1 < argc) max_median = std::atof(argv[++i]);
        else iterations = std::max(3, std::atoi(argv[i]));
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);  // one core, inherited by every run

    char tmpl[] = "/tmp/selftest_page_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string dir = tmpl;
    fs::create_directories(dir + "/images");

    std::vector<double> wall, cpu;
    int rows = 0;
    for (int i = 0; i < iterations + 1; ++i) {
        for (const auto& e : fs::directory_iterator(dir + "/images")) fs::remove(e.path());
        int out[2];
        if (pipe(out) != 0) return 2;
        double t0 = now_ms();
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            execl("/proc/self/exe", argv[0], "--page", rootfs.c_str(), dir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        char text[128] = {};
        size_t got = 0;
        for (ssize_t n; got < sizeof text - 1 && (n = read(out[0], text + got, sizeof text - 1 - got)) > 0;) got += size_t(n);
        close(out[0]);
        int status = 0;
        struct rusage ru {};
        wait4(pid, &status, 0, &ru);
        double done = 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::sscanf(text, "%lf %d", &done, &rows) != 2 || rows <= 0) {
            std::fprintf(stderr, "run %d: no page (%s)\n", i, text);
            fs::remove_all(dir);
            return 1;
        }
        if (i == 0) continue;  // the first run fills the disk caches
        wall.push_back(done - t0);
        cpu.push_back((ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3);
    }
    fs::remove_all(dir);
    Figures w = figures(wall), c = figures(cpu);
    std::printf("configuration page (%d rows), %d runs, one core, each a fresh process\n", rows, iterations);
    std::printf("  start to dot image written: median %.1f ms, p90 %.1f ms, min %.1f ms, max %.1f ms\n", w.median, w.p90,
                w.min, w.max);
    std::printf("  CPU time of the whole run:  median %.1f ms, p90 %.1f ms, min %.1f ms, max %.1f ms\n", c.median, c.p90,
                c.min, c.max);
    if (max_median > 0 && w.median > max_median) {
        std::printf("median above %.0f ms\n", max_median);
        return 1;
    }
    return 0;
}
