// A one-page PDF from job file to dot image through pdf_interp's job path (mode and type test,
// pdftoppm, the page into a dot image), on one core. Prints the median time of the whole job and
// of the rasteriser in it: wall time, and processor time (this program's and its children's),
// which other programs on the machine do not inflate.
//   pdf_job_bench [iterations] [PDF]     (default: samples/delivery-note.pdf)
#include "image_builder.h"
#include "pdf.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {
double cpu_ms(int who) {
    struct rusage u {};
    getrusage(who, &u);
    return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) / 1e3;
}
}  // namespace

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

    std::vector<double> total, tool, total_cpu, tool_cpu;
    int rows = 0;
    for (int i = 0; i < iterations + 1; ++i) {
        std::string job = s.paths.engine_intake + "/printjob-1";
        fs::copy_file(pdf, job, fs::copy_options::overwrite_existing);
        auto t0 = std::chrono::steady_clock::now();
        double self0 = cpu_ms(RUSAGE_SELF), child0 = cpu_ms(RUSAGE_CHILDREN);
        take_job(s, job);
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        double self = cpu_ms(RUSAGE_SELF) - self0, child = cpu_ms(RUSAGE_CHILDREN) - child0;
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
            total_cpu.push_back(self + child);
            tool_cpu.push_back(child);
        }
    }
    fs::remove_all(dir);
    for (auto* v : {&total, &tool, &total_cpu, &tool_cpu}) std::sort(v->begin(), v->end());
    auto median = [](const std::vector<double>& v) { return v[v.size() / 2]; };
    double t = median(total), p = median(tool), tc = median(total_cpu), pc = median(tool_cpu);
    std::printf("one-page PDF (%d rows) job to dot image over %d runs:\n"
                "  wall time: median %.1f ms, of which pdftoppm %.1f ms (%.0f%%); min %.1f, max %.1f ms\n"
                "  processor time: median %.1f ms, of which pdftoppm %.1f ms (%.0f%%)\n",
                rows, iterations, t, p, 100 * p / t, total.front(), total.back(), tc, pc, 100 * pc / tc);
    return 0;
}
