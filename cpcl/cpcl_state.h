// The whole state of one CPCL interpreter: settings read at start, the input (ring buffer, bytes
// replayed in front of it, job boundaries), the line being handled, the label being built, text
// and barcode options, the 2-D symbol being collected, copies with counters and line-printer mode.
//
// A test or a fuzz target makes a fresh one with std::make_unique<CpclState>() and points its
// folders somewhere harmless. The page itself is drawn through the rendering library (render/),
// whose render state belongs to the process.
#pragma once

#include "input_ring.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace cpcl {

inline constexpr size_t RING_LOW_WATER = 52427;  // at or below this much room the intake waits ...
inline constexpr size_t RING_RESUME = 0x40000;   // ... until more than this is free
inline constexpr size_t LINE_CHARS = 127;          // characters of one line
inline constexpr int FONTS = 8, FONT_SIZES = 8;
inline constexpr size_t QR_DATA_MAX = 7094;      // collected QR Code data
inline constexpr size_t PDF417_DATA_MAX = 1849;  // collected PDF417 data (the encoder's buffer less its zero)
inline constexpr size_t FORMAT_NAME_MAX = 32;
inline constexpr size_t FORMAT_MAX = 256 * 1024;     // a stored format, and the data filled into it
inline constexpr size_t CAPTURE_MAX = 4 * 1024 * 1024;  // a label kept for its copies
inline constexpr int COPIES_MAX = 1024;
inline constexpr int COUNTERS_MAX = 3;
inline constexpr int EXPANSIONS_MAX = 8;  // stored formats used in a row without new input

// Results of reading a byte besides the byte itself.
inline constexpr int INPUT_DRY = -1;   // nothing came for a while: the job is over
inline constexpr int INPUT_END = -2;   // test mode only: nothing will come any more
inline constexpr int SOURCE_END = -3;  // the replayed bytes of one command are used up

struct FontEntry {
    bool loaded = false;
    std::string family;
    int weight = 400;     // Pango weight
    double size = 0;      // points
    double xscale = 1.0, yscale = 1.0;
};

enum class Align { Left, Center, Right };
enum class Collect { None, Pdf417, Qr };

// One line of a label kept for its copies, with the binary data that followed it (graphics).
struct CapturedLine {
    std::string text;
    std::string binary;
    bool picture = false;  // a picture line whose bytes followed it (they are in `binary`)
};

// A number in the data of a text or barcode line that grows by `increment` from copy to copy.
struct Counter {
    size_t line = 0;       // index in the captured lines
    size_t pos = 0;        // first character of the field in the line's text
    size_t width = 0;      // characters of the field, leading zeros included
    long long value = 0;
    long long increment = 0;
};

struct CpclInput {
    InputRing ring{RING_LOW_WATER, RING_RESUME};
    // Bytes read before the ring: a stored format being used (falls through to the ring when
    // done) or the graphics data of a replayed line (sealed: ends there).
    struct Source {
        std::string bytes;
        size_t pos = 0;
        bool sealed = false;
    };
    std::vector<Source> sources;
    // Where each job ends, as a count of bytes put into the ring since start. Written by the
    // intake thread after the job's last byte; read by the command thread.
    std::mutex marks_lock;
    std::deque<uint64_t> job_ends;
    std::atomic<uint64_t> jobs_total{0};  // bytes of every job put in whole
    uint64_t put_total = 0;               // intake thread: bytes put so far
    std::atomic<uint64_t> read_total{0};  // command thread: ring bytes taken so far
    // The reader.
    bool stop_when_dry = false;  // tests and fuzzing: INPUT_END once dry instead of waiting
    bool dry_signalled = false;  // the slave heard about this dry spell already
    bool dry_reported = false;   // INPUT_DRY was returned and no byte came since
    std::chrono::milliseconds idle_limit{350};
};

struct CpclState {
    // ---- settings (key files, read at start) --------------------------------------------------
    std::string formats_dir = "/home/cpcl_formats";
    std::string logos_dir = "/logos";
    double left_margin = 0;      // configured left margin, head dots
    int mark_seek = 0;           // configMarkSeek; 3: labels are the configured length
    int label_length = 0;        // LabelLength, head dots
    double height_scaler = 1.0;  // CPCL_HEIGHT_SCALER
    uint8_t encoding_mode = 0;   // configEncoding: 1 UCS-2 and 2 UTF-8 jobs become GB18030
    std::array<std::array<FontEntry, FONT_SIZES>, FONTS> fonts{};
    // The system's fixed command lines and the contrast trigger; tests record them instead.
    int (*shell)(const char* line) = nullptr;
    void (*set_contrast)(int index) = nullptr;
    int (*default_contrast)() = nullptr;
    // Called with each dot image's path once it is written (fuzzing takes it away at once).
    void (*image_written)(const std::string& path) = nullptr;
    int copies_max = COPIES_MAX;  // the most copies of a label
    int rows_max = 6496;          // the longest page (the print engine's limit)

    // ---- input ----------------------------------------------------------------------------------
    CpclInput in;
    std::string line;        // the line being handled, at most LINE_CHARS characters
    bool data_start = true;  // the next line starts at a "!"
    bool binary_follows = false;  // the line stopped before a picture's bytes (PCX, CG)

    // ---- label ----------------------------------------------------------------------------------
    bool in_label = false;
    int offset = 0;           // left offset of the label (and of line-printer text), label dots
    int hres = 203, vres = 203;
    int height = 0;           // label height, label dots (0: the configured length in mark-seek 3)
    int quantity = 1;
    int page_width = 1728;    // PAGE-WIDTH
    int unit = 1;             // dots per unit of positions: 1, 8 (mm), 80 (cm), 203 (in)
    int prefeed = 0;
    int contrast = 2;         // the contrast index last asked for

    // ---- text -------------------------------------------------------------------------------------
    bool magnify = false;
    int xmag = 1, ymag = 1;
    Align align = Align::Left;
    int justify_width = 0;    // CENTER/RIGHT within this width instead of the page width
    bool bar_left = false, bar_center = false, bar_right = false;
    bool underline = false;
    int char_spacing = 0;
    int bold = 0;             // SETBOLD 0..5; 0 keeps each font's own weight in labels
    bool gb18030 = false;     // ENCODING GB18030: text data is converted to UTF-8
    bool concat_open = false, concat_vertical = false;
    double concat_x = 0, concat_y = 0;

    // ---- barcodes ---------------------------------------------------------------------------------
    bool barcode_text = false;  // BARCODE-TEXT
    Collect collect = Collect::None;
    std::string symbol_data;
    bool symbol_vertical = false;
    double symbol_x = 0, symbol_y = 0;
    int pdf_xd = 2, pdf_yd = 6, pdf_columns = 3, pdf_security = 1;
    int qr_model = 2, qr_unit = 6;

    // ---- line-printer mode --------------------------------------------------------------------
    bool lp_mode = false;
    int lp_font = 5, lp_size = 0;
    int lp_line_height = 0;   // SETLF / SETLP; 0: the font's own line height

    // ---- copies ---------------------------------------------------------------------------------
    bool capturing = false, replaying = false;
    std::vector<CapturedLine> captured;
    size_t captured_bytes = 0;

    // ---- stored formats -----------------------------------------------------------------------
    int expansions = 0;

    // ---- what happened (tests, diagnostics) -------------------------------------------------
    int images_written = 0;
};

}  // namespace cpcl
