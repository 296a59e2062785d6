// A one-page PDF from job file to dot image through pdf_interp's job path (mode and type test,
// pdftoppm, the page into a dot image), on one core. Prints the median time of the whole job and
// of the rasteriser in it.
//   pdf_job_bench [iterations] [PDF]     (default: samples/delivery-note.pdf)
#include "image_builder.h"
#include "pdf.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::string pdf = argc > 2 ? argv[2] : std::string(PRINTER_SOURCE_DIR) + "/samples/delivery-note.pdf";
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    char tmpl[] = "/tmp/pdf_job_bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string dir = tmpl;
    PdfState s;
    s.paths.engine_intake = dir + "/intake";
    s.paths.image_file = dir + "/imagefile";
    s.paths.new_pdf = dir + "/newjob.pdf";
    s.paths.render_png = dir + "/imageRender.png";
    s.paths.pages = dir + "/pages";
    s.defaultEmulation = "AUTOIMAGE";
    s.shell = [](const char*) { return 0; };
    PATH_TO_DOTIMAGE_FILES = dir + "/images";
    IMSTART_INTAKE_FOLDER = dir + "/imstart";
    PAPER_CONFIG_FILEPATH = dir + "/paper_config.cfg";
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
    for (const auto& d : {s.paths.engine_intake, PATH_TO_DOTIMAGE_FILES, IMSTART_INTAKE_FOLDER}) fs::create_directories(d);

    std::vector<double> total, tool;
    int rows = 0;
    for (int i = 0; i < iterations + 1; ++i) {
        std::string job = s.paths.engine_intake + "/printjob-1";
        fs::copy_file(pdf, job, fs::copy_options::overwrite_existing);
        auto t0 = std::chrono::steady_clock::now();
        take_job(s, job);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (s.images_in_job != 1) {
            std::fprintf(stderr, "%s: %d dot images, expected 1\n", pdf.c_str(), s.images_in_job);
            return 1;
        }
        for (const auto& e : fs::directory_iterator(PATH_TO_DOTIMAGE_FILES)) {
            std::ifstream in(e.path());
            std::string p4;
            int w = 0;
            in >> p4 >> w >> rows;
            fs::remove(e.path());
        }
        for (const auto& e : fs::directory_iterator(IMSTART_INTAKE_FOLDER)) fs::remove(e.path());
        if (i >= 1) {  // the first run fills the caches
            total.push_back(ms);
            tool.push_back(s.tool_ms);
        }
    }
    fs::remove_all(dir);
    std::sort(total.begin(), total.end());
    std::sort(tool.begin(), tool.end());
    double t = total[total.size() / 2], p = tool[tool.size() / 2];
    std::printf("one-page PDF (%d rows) job to dot image: median %.1f ms, of which pdftoppm %.1f ms (%.0f%%); "
                "min %.1f, max %.1f ms over %d runs\n",
                rows, t, p, 100 * p / t, total.front(), total.back(), iterations);
    return 0;
}
