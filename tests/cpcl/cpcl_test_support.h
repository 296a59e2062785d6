// A CPCL interpreter inside the test process: a fresh interpreter state per test, jobs put
// straight into its ring, the command loop run until the input is used up. A stand-in for the
// print engine takes the dot images away as they are written (the writer waits for that), keeping
// them in order. Shell lines and contrast triggers are recorded instead of run.
//
// Also: reading symbols (zbarimg, ZXingReader) and text (tesseract) back from dot images.
#pragma once

#include "cpcl_state.h"
#include "render_test_support.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Takes every dot image closed in `folder` (as the print engine does: reads and removes it) and
// keeps it in order. Notes whether two images ever waited at once.
class EngineStandIn {
public:
    void start(const std::string& folder, const std::string& taken);
    void stop();
    ~EngineStandIn() { stop(); }
    int taken() const { return count_.load(); }
    int most_waiting() const { return most_waiting_.load(); }
    // Waits (20 s at most) until `n` images have been taken.
    bool wait_for(int n) const;

private:
    void loop();
    std::string folder_, taken_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0}, most_waiting_{0};
    int fd_ = -1;
};

class CpclTest : public RenderTest {
protected:
    std::unique_ptr<cpcl::CpclState> s;
    std::string formats, logos, taken;
    EngineStandIn engine;
    static std::vector<std::string> shell_lines;
    static std::vector<int> contrasts;
    int handed_over = 0;  // images already given to the test
    int written_before = 0;  // images written by interpreters before a restart

    void SetUp() override;
    void TearDown() override;
    // A fresh interpreter (as after a restart of the process) on the same folders.
    void restart();
    // One job into the ring.
    void feed(const std::string& job);
    // Feeds one job and runs the command loop until the input is used up.
    void run(const std::string& job);
    // Jobs delivered one after the other while the command loop waits for input.
    void run_jobs(const std::vector<std::string>& jobs);
    // The dot images written since the last call, in order (as the print engine took them).
    std::vector<DotImage> printed();
    // Runs a job that must give exactly one dot image, and returns it.
    DotImage label(const std::string& job);
    int count_shell(const std::string& line) const;
};

// A label of `height` dots at 203 dpi, quantity 1, around the given lines (each ends with CR LF).
std::string one_label(const std::vector<std::string>& lines, int height = 400);

// ---- reading back ---------------------------------------------------------------------------------
// The area [x0, x1) x [y0, y1) of the image (clipped), with `border` white dots around, each dot
// `scale` times over, as a grey map file.
void write_grey_map(const DotImage& img, const std::string& path, int x0, int y0, int x1, int y1, int scale = 1,
                    int border = 0);
// What zbarimg reads in the image (or the area): the data of each symbol, one a line.
std::string zbar(const DotImage& img, const std::string& folder, const InkBox* area = nullptr,
                 const std::string& option = "");
// What ZXingReader reads as the given format; the area (the symbol with a margin) keeps the reader
// away from other symbols, which it does not always survive.
std::string zxing(const DotImage& img, const std::string& folder, const std::string& format,
                  const InkBox* area = nullptr);
// The text tesseract reads in the area, enlarged `scale` times, as one line.
std::string ocr_line(const DotImage& img, const std::string& folder, const InkBox& area, int scale = 3,
                     const std::string& letters = "");
// An ink box grown by `margin` dots on each side.
InkBox grown(const InkBox& box, int margin);
// Black runs (or white ones) along a row between x0 and x1, inclusive.
std::vector<int> runs(const DotImage& img, int y, int x0, int x1, bool black);
// With CPCL_TEST_OUT set, writes the image there as NAME.pgm (to look at while changing a test).
void keep_image(const DotImage& img, const std::string& name);
// The text tesseract reads in the area after turning it clockwise by quarter_turns × 90 degrees
// (text drawn turned reads upright again).
std::string ocr_turned(const DotImage& img, const std::string& folder, const InkBox& area, int quarter_turns,
                       int scale = 3);
