#include "cpcl_test_support.h"

#include "cpcl_commands.h"
#include "cpcl_input.h"

#include "image_builder.h"
#include "job_intake.h"
#include "render_symbols.h"

#include <glib.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// ---- the print engine's stand-in ------------------------------------------------------------------

void EngineStandIn::start(const std::string& folder, const std::string& taken) {
    folder_ = folder;
    taken_ = taken;
    fs::create_directories(taken_);
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(fd_, folder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    stop_ = false;
    thread_ = std::thread([this] { loop(); });
}

void EngineStandIn::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    close(fd_);
    fd_ = -1;
}

bool EngineStandIn::wait_for(int n) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count_.load() < n) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void EngineStandIn::loop() {
    while (!stop_) {
        struct pollfd p {fd_, POLLIN, 0};
        poll(&p, 1, 20);
        alignas(struct inotify_event) char buf[8192];
        while (read(fd_, buf, sizeof buf) > 0) {}
        // Every closed image, oldest first (the writer keeps at most one waiting).
        std::vector<fs::path> waiting;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder_, ec))
            if (e.path().filename().string().rfind("dotimage-", 0) == 0) waiting.push_back(e.path());
        most_waiting_ = std::max(most_waiting_.load(), int(waiting.size()));
        std::sort(waiting.begin(), waiting.end(), [](const fs::path& a, const fs::path& b) {
            return fs::last_write_time(a) < fs::last_write_time(b);
        });
        for (const fs::path& f : waiting) {
            if (file_being_written(f)) continue;
            char name[32];
            std::snprintf(name, sizeof name, "/%04d.pbm", count_.load());
            fs::rename(f, taken_ + name, ec);
            if (!ec) ++count_;
        }
    }
}

// ---- the interpreter ------------------------------------------------------------------------------

std::vector<std::string> CpclTest::shell_lines;
std::vector<int> CpclTest::contrasts;

namespace {
std::deque<std::string> pending_jobs;
cpcl::CpclState* delivering_to = nullptr;

bool deliver_next_job() {
    if (pending_jobs.empty() || !delivering_to) return false;
    std::string job = pending_jobs.front();
    pending_jobs.pop_front();
    cpcl::put_job_bytes(delivering_to->in, reinterpret_cast<const uint8_t*>(job.data()), job.size());
    cpcl::end_of_job(delivering_to->in);
    return true;
}
}  // namespace

void CpclTest::restart() {
    if (s) written_before += s->images_written;
    s = std::make_unique<cpcl::CpclState>();
    s->formats_dir = formats;
    s->logos_dir = logos;
    cpcl::load_font_map(*s, std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/cpcl_font_map.cfg");
    s->shell = [](const char* line) {
        shell_lines.emplace_back(line);
        return 0;
    };
    s->set_contrast = [](int index) { contrasts.push_back(index); };
    s->default_contrast = [] { return 5; };
    s->in.stop_when_dry = true;
    s->page_width = PRINTHEAD_DOT_WIDTH;
    cpcl::reset_input(*s);
    cpcl::fresh_page(*s);
}

void CpclTest::SetUp() {
    RenderTest::SetUp();
    formats = dir.path + "/home/cpcl_formats";
    logos = dir.path + "/logos";
    taken = dir.path + "/taken";
    fs::create_directories(logos);
    shell_lines.clear();
    contrasts.clear();
    restart();
    engine.start(images, taken);
}

void CpclTest::TearDown() {
    engine.stop();
    s.reset();
    RenderTest::TearDown();
}

void CpclTest::feed(const std::string& job) {
    cpcl::put_job_bytes(s->in, reinterpret_cast<const uint8_t*>(job.data()), job.size());
    cpcl::end_of_job(s->in);
}

void CpclTest::run(const std::string& job) {
    feed(job);
    cpcl::run_until_end(*s);
}

void CpclTest::run_jobs(const std::vector<std::string>& jobs) {
    pending_jobs.assign(jobs.begin(), jobs.end());
    delivering_to = s.get();
    s->in.ring.refill = deliver_next_job;
    cpcl::run_until_end(*s);
    s->in.ring.refill = nullptr;
    delivering_to = nullptr;
    pending_jobs.clear();
}

std::vector<DotImage> CpclTest::printed() {
    std::vector<DotImage> out;
    EXPECT_TRUE(engine.wait_for(written_before + s->images_written)) << "the stand-in takes every image";
    for (int i = handed_over; i < engine.taken(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.pbm", i);
        DotImage img;
        EXPECT_TRUE(read_dot_image_file(taken + name, img)) << name;
        out.push_back(img);
    }
    handed_over = engine.taken();
    return out;
}

DotImage CpclTest::label(const std::string& job) {
    run(job);
    std::vector<DotImage> all = printed();
    EXPECT_EQ(all.size(), 1u) << "dot images of the job";
    return all.empty() ? DotImage{} : all.back();
}

int CpclTest::count_shell(const std::string& line) const {
    return int(std::count(shell_lines.begin(), shell_lines.end(), line));
}

std::string one_label(const std::vector<std::string>& lines, int height) {
    std::string job = "! 0 203 203 " + std::to_string(height) + " 1\r\n";
    for (const std::string& l : lines) job += l + "\r\n";
    return job + "PRINT\r\n";
}

// ---- reading back -------------------------------------------------------------------------------

void write_grey_map(const DotImage& img, const std::string& path, int x0, int y0, int x1, int y1, int scale,
                    int border) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, img.width);
    y1 = std::min(y1, img.height);
    int w = std::max(0, x1 - x0) * scale + 2 * border, h = std::max(0, y1 - y0) * scale + 2 * border;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool inside = x >= border && y >= border && x < w - border && y < h - border;
            bool ink = inside && img.dot(x0 + (x - border) / scale, y0 + (y - border) / scale);
            row[size_t(x)] = ink ? '\0' : '\xff';
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
}

InkBox grown(const InkBox& box, int margin) {
    InkBox b = box;
    b.left -= margin;
    b.top -= margin;
    b.right += margin;
    b.bottom += margin;
    return b;
}

namespace {
std::string area_map(const DotImage& img, const std::string& folder, const InkBox* area, const char* name,
                     int border) {
    std::string path = folder + "/" + name;
    if (area)
        write_grey_map(img, path, area->left, area->top, area->right + 1, area->bottom + 1, 1, border);
    else
        write_grey_map(img, path, 0, 0, img.width, img.height, 1, border);
    return path;
}
}  // namespace

std::string zbar(const DotImage& img, const std::string& folder, const InkBox* area, const std::string& option) {
    std::vector<std::string> args{"zbarimg", "-q", "--raw"};
    if (!option.empty()) args.push_back(option);
    args.push_back(area_map(img, folder, area, "zbar.pgm", area ? 20 : 0));
    return program_output(args);
}

std::string zxing(const DotImage& img, const std::string& folder, const std::string& format, const InkBox* area) {
    std::string out =
        program_output({"ZXingReader", "-format", format, area_map(img, folder, area, "zxing.pgm", area ? 20 : 0)});
    size_t at = out.find("Text:");
    if (at == std::string::npos) return "";
    // The text may hold line ends of its own: it ends with the quote before the bytes line.
    size_t end = out.find("\nBytes:", at);
    size_t q1 = out.find('"', at), q2 = out.rfind('"', end);
    if (q1 == std::string::npos || q2 <= q1) return "";
    return out.substr(q1 + 1, q2 - q1 - 1);
}

std::string ocr_line(const DotImage& img, const std::string& folder, const InkBox& area, int scale,
                     const std::string& letters) {
    std::string path = folder + "/ocr.pgm";
    write_grey_map(img, path, area.left, area.top, area.right + 1, area.bottom + 1, scale, 30);
    std::vector<std::string> args{"tesseract", path, "stdout", "--psm", "7"};
    if (!letters.empty()) {
        args.push_back("-c");
        args.push_back("tessedit_char_whitelist=" + letters);
    }
    return program_output(args);
}

std::vector<int> runs(const DotImage& img, int y, int x0, int x1, bool black) {
    std::vector<int> out;
    int n = 0;
    for (int x = x0; x <= x1 + 1; ++x) {
        bool d = x <= x1 && img.dot(x, y);
        if (d == black) {
            ++n;
        } else if (n) {
            out.push_back(n);
            n = 0;
        }
    }
    return out;
}

void keep_image(const DotImage& img, const std::string& name) {
    const char* out = std::getenv("CPCL_TEST_OUT");
    if (!out) return;
    fs::create_directories(out);
    write_grey_map(img, std::string(out) + "/" + name + ".pgm", 0, 0, img.width, img.height);
}

std::string ocr_turned(const DotImage& img, const std::string& folder, const InkBox& area, int quarter_turns,
                       int scale) {
    int w = area.width(), h = area.height();
    int turns = ((quarter_turns % 4) + 4) % 4;
    int ow = (turns % 2 ? h : w) * scale, oh = (turns % 2 ? w : h) * scale, border = 30;
    std::string path = folder + "/ocr_turned.pgm";
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << ow + 2 * border << " " << oh + 2 * border << "\n255\n";
    for (int y = -border; y < oh + border; ++y) {
        for (int x = -border; x < ow + border; ++x) {
            bool ink = false;
            if (x >= 0 && y >= 0 && x < ow && y < oh) {
                int u = x / scale, v = y / scale, sx = u, sy = v;  // turned picture -> area
                if (turns == 1) sx = v, sy = h - 1 - u;
                if (turns == 2) sx = w - 1 - u, sy = h - 1 - v;
                if (turns == 3) sx = w - 1 - v, sy = u;
                ink = img.dot(area.left + sx, area.top + sy);
            }
            out.put(ink ? '\0' : '\xff');
        }
    }
    out.close();
    return program_output({"tesseract", path, "stdout", "--psm", "7"});
}
