// What a job costs zpl_interp: each job file runs in a child process of its own, with a fresh
// interpreter and every folder below a temporary root, and the child's CPU time, wall time and
// peak memory are reported. Hostile jobs (fuzz findings, oversized labels) must stay far below a
// second and a few tens of megabytes each.
//
//   zpl_cost_bench [--max-ms N] [--max-mb N] [--repeat N] [--limit-mb N] [--keep DIR] JOB...
//
// --keep DIR keeps the dot images the jobs make in DIR.
// --limit-mb caps each child's address space (default 4096 MB): a job that wants more fails.
// --repeat runs the job N times in the same child (the figures are for all of them together):
// a job that leaves state behind that makes the next one dearer shows up as more than N times
// the cost of one. Exits 1 when a job is above --max-ms (CPU) or --max-mb, 2 when a child fails.
#include "image_builder.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_state.h"

#include <sys/resource.h>
#include <sys/wait.h>
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
// The job's bytes go into the ring as the intake thread would put them: as much as there is room
// for whenever the command loop runs dry.
std::string pending;
size_t pending_at = 0;
std::string keep_folder;  // --keep: the dot images are moved here instead of removed

bool refill() {
    if (pending_at >= pending.size()) return false;
    size_t room = ring_free() > RING_LOW_WATER ? ring_free() - RING_LOW_WATER : 0;
    size_t n = std::min(room, pending.size() - pending_at);
    if (n == 0) return false;
    ring_put(reinterpret_cast<const uint8_t*>(pending.data()) + pending_at, n);
    pending_at += n;
    return true;
}

int run_child(const std::string& job, int repeat, const std::string& root, const std::string& source) {
    std::ifstream in(job, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return 2;
    std::string bytes = text.str();
    zpl_use_folders_under(root);
    if (!source.empty()) FONTS_LIST_PATH = source + "/rootfs/usr/share/fontslist";
    zpl_shell = [](const char*) { return 0; };
    zpl_stop_when_dry = true;
    contrast_trigger_written = [](const std::string& path) { unlink(path.c_str()); };
    dot_image_written = [](const std::string& path) {
        if (keep_folder.empty() || std::rename(path.c_str(), (keep_folder + "/" + fs::path(path).filename().string()).c_str()) != 0)
            unlink(path.c_str());
    };
    init_rendering_system();
    for (int i = 0; i < repeat; ++i) {
        zpl_fresh_state();
        pending = bytes;
        pending_at = 0;
        zpl_refill = refill;
        zpl_run_until_dry();
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    double max_ms = 0, max_mb = 0;
    long limit_mb = 4096;
    int repeat = 1;
    std::vector<std::string> jobs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-ms") == 0 && i + 1 < argc) max_ms = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--max-mb") == 0 && i + 1 < argc) max_mb = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) keep_folder = argv[++i];
        else if (std::strcmp(argv[i], "--limit-mb") == 0 && i + 1 < argc) limit_mb = std::max(64L, std::atol(argv[++i]));
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
        else jobs.emplace_back(argv[i]);
    }
    if (jobs.empty()) {
        std::fprintf(stderr, "usage: zpl_cost_bench [--max-ms N] [--max-mb N] [--repeat N] [--limit-mb N] [--keep DIR] JOB...\n");
        return 2;
    }
    const char* src = std::getenv("PRINTER_SOURCE_DIR");
    std::string source = src ? src : "";
    int status = 0;
    std::printf("%-44s %10s %10s %10s\n", "job", "CPU ms", "wall ms", "peak MB");
    for (const std::string& job : jobs) {
        char tmpl[] = "/tmp/zpl_cost_bench.XXXXXX";
        if (!mkdtemp(tmpl)) return 2;
        std::string root = tmpl;
        auto t0 = std::chrono::steady_clock::now();
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            // A job gone wild is stopped by its address space, not by the machine running short.
            struct rlimit as {};
            as.rlim_cur = as.rlim_max = rlim_t(limit_mb) << 20;
            setrlimit(RLIMIT_AS, &as);
            int rc = run_child(job, repeat, root, source);
            std::fflush(stdout);
            _exit(rc);
        }
        int st = 0;
        struct rusage ru {};
        wait4(pid, &st, 0, &ru);
        double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::error_code ec;
        fs::remove_all(root, ec);
        double cpu = ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3 + ru.ru_stime.tv_sec * 1e3 + ru.ru_stime.tv_usec / 1e3;
        double mb = ru.ru_maxrss / 1024.0;
        std::string name = fs::path(job).filename().string();
        if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
            std::printf("%-44s failed (status %d)\n", name.c_str(), st);
            status = 2;
            continue;
        }
        bool over = (max_ms > 0 && cpu > max_ms) || (max_mb > 0 && mb > max_mb);
        std::printf("%-44s %10.1f %10.1f %10.1f%s\n", name.c_str(), cpu, wall, mb, over ? "  above the limit" : "");
        if (over && status == 0) status = 1;
    }
    return status;
}
