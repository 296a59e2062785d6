// Helpers of the rendering and interpreter tests: temporary folders, reading dot images back and
// finding where their ink lies.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// Rectangle of dots, edges inclusive.
struct InkBox {
    bool empty = true;
    int left = 0, top = 0, right = -1, bottom = -1;
    int width() const { return empty ? 0 : right - left + 1; }
    int height() const { return empty ? 0 : bottom - top + 1; }
};

struct DotImage {
    std::string header;  // "P4\n....\n"
    int width = 0, height = 0;
    std::vector<uint8_t> raster;
    size_t file_size = 0;
    bool dot(int x, int y) const;
    InkBox ink() const;
    InkBox ink_in(int x0, int y0, int x1, int y1) const;  // within [x0, x1) x [y0, y1)
};

bool read_dot_image_file(const std::string& path, DotImage& image);
std::string read_text_file(const std::string& path);
void write_text_file(const std::string& path, const std::string& text);
// Runs a program (found on PATH, arguments as given, never through a shell) and returns its
// standard output without the final line ends; its error output is dropped.
std::string program_output(std::vector<std::string> args);
// Dot images in a folder, sorted by name.
std::vector<std::string> dot_images_in(const std::string& folder);
bool file_exists(const std::string& path);

// Points the library's output folders at a temporary folder and starts a clean page.
class RenderTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string images, trigger_folder, trigger;
    void SetUp() override;
    void TearDown() override;
    // The single image written since the last call (fails the test when there is not exactly one);
    // the file is removed, as the print engine does.
    DotImage take_image();
    int image_count() const { return int(dot_images_in(images).size()); }
    // The contrast trigger's text, removed as the print engine does ("" when there is none).
    std::string take_trigger();
};

// Stands in for the print engine while an interpreter writes several pages: takes every dot image
// closed in `images` (moving it aside in the order they come, as the print engine removes it) and
// every contrast trigger in `triggers` (keeping its text).
class PageTaker {
public:
    PageTaker(const std::string& images, const std::string& triggers);
    ~PageTaker();  // stops; takes what is still waiting
    PageTaker(const PageTaker&) = delete;
    PageTaker& operator=(const PageTaker&) = delete;
    // Waits up to timeout_ms until at least n images were taken.
    bool wait_for(size_t n, int timeout_ms = 60000);
    // The images taken so far, oldest first (read back from where they were moved). Call it once
    // the writer is done: what is still waiting is taken first.
    std::vector<DotImage> images();
    std::vector<std::string> triggers();
    size_t count();

private:
    void run();
    void take_waiting();
    std::string images_, triggers_, taken_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> count_{0};
    std::vector<std::string> trigger_texts_;
    std::mutex lock_;
    std::thread thread_;
};
