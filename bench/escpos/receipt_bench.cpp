// Benchmark of escpos_interp's text path on one core: a 40-line receipt decoded, laid out,
// rasterised and written as dot images, in dot rows per second.
//   escpos_receipt_bench [iterations] [--file JOB] [--min-rows-per-s N]
// Runs the receipt twice: as one page, and streamed as on continuous paper (first 200 dots,
// then every line its own image). Dot images go to a temporary folder and are removed at once,
// as a print engine that keeps up would.
#include "dot_font_layout.h"
#include "escpos_decoder.h"
#include "escpos_input.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "image_builder.h"
#include "input_ring.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace escpos;

namespace {
std::string receipt_40_lines() {
    const std::string ESC = "\x1b", GS = "\x1d";
    std::string r = ESC + "@" + ESC + "a\x01" + ESC + "E\x01" + GS + "!\x11" + "CORNER BAKERY\n" + GS + "!" +
                    std::string(1, '\0') + ESC + "E" + std::string(1, '\0');
    r += "12 Market Street, Springfield\n" + ESC + "a" + std::string(1, '\0');
    r += "Receipt 004217                  2024-05-14 09:41\n";
    r += std::string(48, '-') + "\n";
    for (int i = 0; i < 32; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%d x Item number %-2d %*s%6.2f\n", 1 + i % 3, i, 19, "", 1.25 * (i + 1));
        r += line;
    }
    r += std::string(48, '-') + "\n";
    r += "Subtotal                                  660.00\n";
    r += ESC + "E\x01" + GS + "!\x11" + "TOTAL        660.00\n" + GS + "!" + std::string(1, '\0') + ESC + "E" +
         std::string(1, '\0');
    r += ESC + "a\x01" + "Thank you for your visit!\n";
    return r;
}

struct Result {
    double seconds = 0;
    long rows = 0;
    int images = 0;
};

// One interpreter for every run, as on the printer: each run is one receipt followed by the
// idle page end.
class Bench {
public:
    Bench(const std::string& emu, std::shared_ptr<const DotFonts> fonts, bool streamed)
        : ring_(5241, 26214), script_(ring_), st_(make_state(std::move(fonts))) {
        st_->env.shell = [](const std::string&) { return 0; };
        st_->env.put_image = [this](cairo_surface_t* image) {
            write_dotimage(image);
            unlink(nameBuff.c_str());
            result_.rows += cairo_image_surface_get_height(image);
            ++result_.images;
        };
        st_->input = script_.input();
        if (!emu.empty()) load_emu_config(*st_, emu);
        st_->device.conti_mode = streamed;
        start_decoding(*st_);
    }
    Result run(const std::string& job) {
        result_ = Result{};
        script_.add(job);
        auto t0 = std::chrono::steady_clock::now();
        run_until_input_ends(*st_);
        result_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        return result_;
    }

private:
    InputRing ring_;
    ScriptedInput script_;
    std::unique_ptr<EscposState> st_;
    Result result_;
};
}  // namespace

int main(int argc, char** argv) {
    int iterations = 30;
    double min_rate = 0;
    std::string job = receipt_40_lines();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            std::stringstream s;
            s << in.rdbuf();
            job = s.str();
        } else if (std::strcmp(argv[i], "--min-rows-per-s") == 0 && i + 1 < argc) {
            min_rate = std::atof(argv[++i]);
        } else {
            iterations = std::max(1, std::atoi(argv[i]));
        }
    }
    // The print engine's intake lies on a RAM file system on the printer: /dev/shm here.
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/escpos_bench.XXXXXX" : "/tmp/escpos_bench.XXXXXX";
    std::vector<char> folder(pattern.begin(), pattern.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    PATH_TO_DOTIMAGE_FILES = folder.data();
    std::string dir = ESCPOS_DOT_FONT_DIR;
    auto fonts = load_dot_fonts(dir + "/QXCHFontv200.bin", dir + "/TD24CG2.0.bin");
    std::string emu = std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/escpos_emu.cfg";

    bool ok = true;
    for (bool streamed : {false, true}) {
        Bench bench(emu, fonts, streamed);
        bench.run(job);  // warm-up: fonts, caches
        std::vector<double> rates;
        Result last;
        for (int i = 0; i < iterations; ++i) {
            last = bench.run(job);
            rates.push_back(double(last.rows) / last.seconds);
        }
        std::sort(rates.begin(), rates.end());
        double median = rates[rates.size() / 2];
        std::printf("%s: %ld dot rows in %d image%s; median %.0f rows/s (%.2f ms a receipt), min %.0f, max %.0f\n",
                    streamed ? "streamed" : "one page", last.rows, last.images, last.images == 1 ? "" : "s", median,
                    1000.0 * double(last.rows) / median, rates.front(), rates.back());
        if (last.rows == 0) ok = false;
        if (min_rate > 0 && median < min_rate) {
            std::printf("below the target of %.0f rows/s\n", min_rate);
            ok = false;
        }
    }
    std::filesystem::remove_all(folder.data());
    release_escpos_fonts();
    return ok ? 0 : 1;
}
