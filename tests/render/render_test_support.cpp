#include "render_test_support.h"

#include "render_symbols.h"

#include "image_builder.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

// fontconfig keeps (and, parsing its configuration, leaks) memory for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {
// Hands the font caches back at the end so that leak checks see only the program's own memory.
class FontCaches : public ::testing::Environment {
public:
    void TearDown() override { release_font_resources(); }
};
const auto* font_caches = ::testing::AddGlobalTestEnvironment(new FontCaches);
}  // namespace

TempDir::TempDir() {
    char tmpl[] = "/tmp/render_test.XXXXXX";
    char* p = mkdtemp(tmpl);
    path = p ? p : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

bool DotImage::dot(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    size_t row = size_t(width + 7) / 8;
    return raster[size_t(y) * row + size_t(x) / 8] & (0x80 >> (x % 8));
}

InkBox DotImage::ink_in(int x0, int y0, int x1, int y1) const {
    InkBox box;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width);
    y1 = std::min(y1, height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            if (!dot(x, y)) continue;
            if (box.empty) {
                box = {false, x, y, x, y};
            } else {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
        }
    return box;
}

InkBox DotImage::ink() const { return ink_in(0, 0, width, height); }

bool read_dot_image_file(const std::string& path, DotImage& image) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    image.file_size = bytes.size();
    if (bytes.compare(0, 3, "P4\n") != 0) return false;
    size_t eol = bytes.find('\n', 3);
    if (eol == std::string::npos) return false;
    image.header = bytes.substr(0, eol + 1);
    if (std::sscanf(image.header.c_str() + 3, "%d %d", &image.width, &image.height) != 2) return false;
    size_t need = size_t(image.height) * ((image.width + 7) / 8);
    if (bytes.size() - image.header.size() != need) return false;
    image.raster.assign(bytes.begin() + long(image.header.size()), bytes.end());
    return true;
}

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string program_output(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    gchar* out = nullptr;
    gint status = 0;
    g_spawn_sync(nullptr, argv.data(), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                 nullptr, &out, nullptr, &status, nullptr);
    std::string text = out ? out : "";
    g_free(out);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void write_text_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> dot_images_in(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void RenderTest::SetUp() {
    images = dir.path + "/dot_feeder_intake";
    trigger_folder = dir.path + "/imstart_intake";
    trigger = trigger_folder + "/imstart";
    fs::create_directories(images);
    fs::create_directories(trigger_folder);
    PATH_TO_DOTIMAGE_FILES = images;
    IMSTART_INTAKE_FOLDER = trigger_folder;
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = dir.path + "/barcode.svg";
    nameBuff = images + "/dotimage-zzzzzz.pbm";
    newpbm = 0;
    label_length = 0;
    label_length_fixed = false;
    label_scale = 1;
    feel_paper_out = 0;
    label_top = 0;
    currentLeftMargin = 0;
    currentMarkSeek = 0;
    currentLabelLength = 0;
    currentLineSpacing = 4;
    currentLeftMarginOffset = 0;
    global_line_print_enabled_flag = 0;
    global_rotated_text_flag = 0;
    pango_xscale = pango_yscale = 1.0;
    pangoRectangle_ink = pangoRectangle_logical = PangoRectangle{0, 0, 0, 0};
    currentContrast.store(5);
    new_render_state();
}

void RenderTest::TearDown() { discard_render_state(); }

DotImage RenderTest::take_image() {
    DotImage image;
    auto names = dot_images_in(images);
    EXPECT_EQ(names.size(), 1u) << "dot images in the intake";
    if (names.empty()) return image;
    EXPECT_TRUE(read_dot_image_file(names.front(), image)) << names.front();
    for (const auto& n : names) unlink(n.c_str());
    return image;
}

std::string RenderTest::take_trigger() {
    if (!file_exists(trigger)) return "";
    std::string t = read_text_file(trigger);
    unlink(trigger.c_str());
    return t;
}

PageTaker::PageTaker(const std::string& images, const std::string& triggers)
    : images_(images), triggers_(triggers), taken_(images + ".taken") {
    std::error_code ec;
    fs::remove_all(taken_, ec);
    fs::create_directories(taken_);
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(fd_, images_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    inotify_add_watch(fd_, triggers_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    take_waiting();
    thread_ = std::thread([this] { run(); });
}

PageTaker::~PageTaker() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    take_waiting();
    if (fd_ >= 0) close(fd_);
}

void PageTaker::take_waiting() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& path : dot_images_in(triggers_)) {
        trigger_texts_.push_back(read_text_file(path));
        unlink(path.c_str());
    }
    for (const auto& path : dot_images_in(images_)) {
        // A file still open for writing is left to its close event.
        if (path.find("/.") != std::string::npos) continue;
        char name[32];
        std::snprintf(name, sizeof name, "/%06zu.pbm", count_.load());
        if (std::rename(path.c_str(), (taken_ + name).c_str()) == 0) ++count_;
    }
}

void PageTaker::run() {
    alignas(struct inotify_event) char buf[4096];
    while (!stop_) {
        struct pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            while (read(fd_, buf, sizeof buf) > 0) {}
            take_waiting();
        }
    }
}

bool PageTaker::wait_for(size_t n, int timeout_ms) {
    for (int waited = 0; count_ < n && waited < timeout_ms; waited += 10) usleep(10000);
    return count_ >= n;
}

size_t PageTaker::count() {
    take_waiting();
    return count_;
}

std::vector<DotImage> PageTaker::images() {
    take_waiting();
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<DotImage> out;
    for (const auto& path : dot_images_in(taken_)) {
        DotImage img;
        EXPECT_TRUE(read_dot_image_file(path, img)) << path;
        out.push_back(std::move(img));
    }
    return out;
}

std::vector<std::string> PageTaker::triggers() {
    take_waiting();
    std::lock_guard<std::mutex> hold(lock_);
    return trigger_texts_;
}
