// Benchmark of a receipt with pictures on one core: a 576 x 200 raster logo, 30 text lines, a
// Code 128 and a QR Code, from the receipt's last byte to its last dot image written.
//   escpos_logo_bench [iterations] [--max-ms N] [--file JOB]
// Two figures, each the median over the iterations:
//   whole:  the receipt arrives at once; its last byte is there at the start, so the figure is
//           all of the work: decoding, encoding the symbols, rasterising, writing the images;
//   paced:  the receipt arrives in 4 KiB pieces (as from USB) on continuous paper: the figure is
//           the time from the last piece to the last image (the paper before it was already
//           streamed while the bytes came).
// Idle time (the 200 ms page end) is simulated and costs nothing. Dot images go to a folder on
// /dev/shm and are removed at once, as a print engine that keeps up would.
#include "dot_font_layout.h"
#include "escpos_decoder.h"
#include "escpos_input.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "image_builder.h"
#include "input_ring.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace escpos;
using Clock = std::chrono::steady_clock;

namespace {
std::string l16(int v) { return std::string{char(v & 0xff), char((v >> 8) & 0xff)}; }

std::string logo_receipt() {
    const std::string ESC = "\x1b", GS = "\x1d";
    std::string r = ESC + "@" + GS + "L" + l16(576) + GS + "W" + l16(576);
    // The logo: rings and bars, 72 bytes a row.
    r += GS + "v0" + std::string(1, '\0') + l16(72) + l16(200);
    for (int y = 0; y < 200; ++y)
        for (int b = 0; b < 72; ++b) {
            int v = 0;
            for (int bit = 0; bit < 8; ++bit) {
                int x = 8 * b + bit;
                double d = std::hypot(x - 100, y - 100);
                bool ink = (d >= 70 && d <= 82) || (x > 220 && (x / 12) % 3 == 0 && y > 30 && y < 170) || y < 6 ||
                           y >= 194 || x < 6 || x >= 570;
                if (ink) v |= 0x80 >> bit;
            }
            r += char(v);
        }
    r += "\n" + ESC + "a\x01" + ESC + "E\x01" + GS + "!\x11" + "CORNER BAKERY\n" + GS + "!" + std::string(1, '\0') +
         ESC + "E" + std::string(1, '\0') + ESC + "a" + std::string(1, '\0');
    for (int i = 0; i < 29; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%d x Item number %-2d %*s%6.2f\n", 1 + i % 3, i, 19, "", 1.25 * (i + 1));
        r += line;
    }
    r += GS + "H\x02" + GS + "w\x02" + GS + "h\x50";
    std::string code = "{BRCPT-004217";
    r += GS + "kI" + char(code.size()) + code + "\n";
    std::string qr = "https://cornerbakery.example/r/004217";
    r += GS + "(k\x03" + std::string(1, '\0') + "1C\x05";
    r += GS + "(k" + l16(int(qr.size()) + 3) + "1P0" + qr;
    r += GS + "(k\x03" + std::string(1, '\0') + "1Q0\n";
    return r;
}

struct Run {
    double ms = 0;  // last byte to last image written
    int images = 0;
    long rows = 0;
};

class Bench {
public:
    Bench(const std::string& emu, std::shared_ptr<const DotFonts> fonts, const std::string& files, bool streamed)
        : ring_(5241, 26214), script_(ring_), st_(make_state(std::move(fonts))) {
        st_->env.shell = [](const std::string&) { return 0; };
        st_->env.sleep = [this](long ms) { script_.advance(ms); };
        point_files_at(st_->env, files);
        st_->env.put_image = [this](cairo_surface_t* image) {
            write_dotimage(image);
            unlink(nameBuff.c_str());
            last_image_ = Clock::now();
            run_.rows += cairo_image_surface_get_height(image);
            ++run_.images;
        };
        script_.before_delivery = [this](size_t job) {
            if (job + 1 == pieces_) last_byte_ = Clock::now();
        };
        st_->input = script_.input();
        if (!emu.empty()) load_emu_config(*st_, emu);
        st_->device.conti_mode = streamed;
        start_decoding(*st_);
    }
    Run run(const std::string& job, size_t piece) {
        run_ = Run{};
        for (size_t at = 0; at < job.size(); at += piece) {
            script_.add(job.substr(at, piece), at == 0 ? 0 : 5);
            ++delivered_;
        }
        pieces_ = delivered_;
        run_until_input_ends(*st_);
        run_.ms = std::chrono::duration<double, std::milli>(last_image_ - last_byte_).count();
        return run_;
    }

private:
    InputRing ring_;
    ScriptedInput script_;
    std::unique_ptr<EscposState> st_;
    Run run_;
    size_t delivered_ = 0, pieces_ = 0;
    Clock::time_point last_byte_, last_image_;
};
}  // namespace

int main(int argc, char** argv) {
    int iterations = 30;
    double max_ms = 0;
    std::string job = logo_receipt();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-ms") == 0 && i + 1 < argc) {
            max_ms = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            std::stringstream s;
            s << in.rdbuf();
            job = s.str();
        } else {
            iterations = std::max(1, std::atoi(argv[i]));
        }
    }
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/escpos_logo_bench.XXXXXX" : "/tmp/escpos_logo_bench.XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    PATH_TO_DOTIMAGE_FILES = std::string(folder.data()) + "/images";
    std::filesystem::create_directories(PATH_TO_DOTIMAGE_FILES);
    std::string dir = ESCPOS_DOT_FONT_DIR;
    auto fonts = load_dot_fonts(dir + "/QXCHFontv200.bin", dir + "/TD24CG2.0.bin");
    std::string emu = std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/escpos_emu.cfg";
    std::printf("receipt of %zu bytes: 576 x 200 raster logo, 30 text lines, Code 128, QR Code\n", job.size());

    bool ok = true;
    struct Mode {
        const char* name;
        bool streamed;
        size_t piece;
    };
    for (const Mode& mode : {Mode{"whole", false, job.size()}, Mode{"paced", true, 4096}}) {
        Bench bench(emu, fonts, std::string(folder.data()) + "/" + mode.name, mode.streamed);
        bench.run(job, mode.piece);  // warm-up: fonts, caches
        std::vector<double> ms;
        Run last;
        for (int i = 0; i < iterations; ++i) {
            last = bench.run(job, mode.piece);
            ms.push_back(last.ms);
        }
        std::sort(ms.begin(), ms.end());
        double median = ms[ms.size() / 2];
        std::printf("%s: last byte to last dot image median %.2f ms (min %.2f, max %.2f); %ld rows in %d image%s\n",
                    mode.name, median, ms.front(), ms.back(), last.rows, last.images, last.images == 1 ? "" : "s");
        if (last.rows == 0) ok = false;
        if (max_ms > 0 && median > max_ms) {
            std::printf("above the target of %.0f ms\n", max_ms);
            ok = false;
        }
    }
    std::filesystem::remove_all(folder.data());
    release_escpos_fonts();
    return ok ? 0 : 1;
}
