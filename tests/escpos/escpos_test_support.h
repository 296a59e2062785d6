// A receipt interpreter in the test process: jobs are fed through a scripted input (simulated
// time, no sleeping), dot images are caught in memory, shell lines recorded.
#pragma once

#include "render_test_support.h"

#include "escpos_input.h"
#include "escpos_state.h"
#include "input_ring.h"

#include <memory>
#include <string>
#include <vector>

// The generated dot fonts of the build tree, loaded once.
std::shared_ptr<const escpos::DotFonts> test_dot_fonts();

struct CaughtImage {
    DotImage image;
    long at_ms = 0;  // simulated time of the hand-off
};

class EscposTest : public ::testing::Test {
protected:
    // Everything the interpreter writes (stored graphics, NV files, macro, speed files, key
    // files, the symbol SVG) goes below this folder: home/, nv/, usr/, tmp/.
    TempDir dir;
    std::string home, nv, usr, tmp;
    InputRing ring{5241, 26214};
    std::unique_ptr<escpos::ScriptedInput> script;
    std::unique_ptr<escpos::EscposState> st;
    std::vector<CaughtImage> images;
    std::vector<std::string> shell_lines;
    std::vector<long> sleeps;  // macro intervals asked for, ms (simulated time passes)

    void SetUp() override;
    // A fresh interpreter (every setting at its default, continuous paper). The files written
    // by an earlier one stay (a restart).
    void fresh();
    // Delivers a job after `pause_ms` of silence.
    void job(const std::string& bytes, int pause_ms = 0) { script->add(bytes, pause_ms); }
    // Decodes every job given so far, then lets the input stay quiet (the idle page end).
    void run();
    void run(const std::string& bytes) {
        job(bytes);
        run();
    }
    // Decodes the bytes and stops as soon as the input is used up (no time passes).
    void decode(const std::string& bytes);
    // All images one below the other, as the paper would show them.
    DotImage paper() const;
    int count_shell(const std::string& line) const;
};

std::string esc(const std::string& s);  // "\x1b" + s
std::string gs(const std::string& s);   // "\x1d" + s
std::string fs(const std::string& s);   // "\x1c" + s
std::string bytes(std::initializer_list<int> b);

// Decoding symbols from the paper: the box (grown by a white border of `border` dots, each dot
// `scale` times over) is written as a grey map and read by the decoder.
void write_grey_map(const DotImage& img, const InkBox& box, int border, int scale, const std::string& path);
// zbarimg's text ("" when it finds nothing).
std::string zbar_read(const DotImage& img, const InkBox& box, const std::string& folder, int scale = 1);
// ZXingReader's text for one format ("" when it finds nothing); `pure`: the box holds only the
// symbol.
std::string zxing_read(const DotImage& img, const InkBox& box, const std::string& folder, const std::string& format,
                       bool pure = false, int scale = 1);
// tesseract's readings of one line of text in the box (letters limited to `letters`, blanks
// removed) at three sizes, as "|a|b|c|": a dot font is now and then misread at one size.
std::string ocr_line(const DotImage& img, const InkBox& box, const std::string& folder, const std::string& letters);
// Whether one of the readings of ocr_line is `text`.
inline bool read_as(const std::string& readings, const std::string& text) {
    return readings.find("|" + text + "|") != std::string::npos;
}
