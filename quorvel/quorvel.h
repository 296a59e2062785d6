// quorvel_interp: the line-printer language. Text lines with pitches, named fonts, emphasis and
// double sizes, line and form feeds, barcodes, compressed and uncompressed raster graphics,
// stored logos and the print contrast. Each job file is scanned from start to end by a generated
// scanner (quorvel_scanner.l); the page flows down and is cut into a dot image at each form feed,
// at the end of the job, and whenever it would grow past the rows the print engine takes.
//
// Everything the interpreter knows lives in one QuorvelState: a test or a fuzz target makes a
// fresh one, points its paths at a temporary folder and scans bytes through it. The drawing goes
// through the rendering library's page recording (render/image_builder.h).
#pragma once

#include "settings.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr int QUORVEL_PITCHES = 16;
inline constexpr int QUORVEL_LOGOS = 24;
inline constexpr size_t QUORVEL_LOGO_NAME_MAX = 128;
inline constexpr int QUORVEL_NAMED_FONTS = 26;       // letters A..Z
inline constexpr size_t QUORVEL_RUN_MAX = 1024;      // bytes of one text run that are laid out
inline constexpr size_t QUORVEL_LINE_RUNS_MAX = 256; // runs on one line before it is ended
inline constexpr int QUORVEL_BARCODE_MODULE = 3;     // dots per barcode module
inline constexpr int QUORVEL_BARCODE_HEIGHT = 48;    // bar height in dots when the job gives 0

// One pitch of the font map (group "FONT<n>").
struct QuorvelPitch {
    double PITCH = 10.0;  // characters per inch
    double XSCALE = 1.0, YSCALE = 1.0;
    int WEIGHT = 400;
};

// One text run waiting on the current line (drawn when the line ends).
struct QuorvelRun {
    std::string text;
    std::string family;
    int size = 0;     // Pango units
    int weight = 400;
    double sx = 1, sy = 1;
    double x = 0;            // left edge, dots
    double height = 0;       // logical height, unscaled dots
    double baseline = 0;     // from the top of the logical box, unscaled dots
};

struct QuorvelPaths {
    std::string font_map = "/home/quorvel_font_map.cfg";  // PATH_TO_QUORVEL_FONT_MAP
    std::string logo_list = "/imageConfig/logo_list";     // PATH_TO_LOGO_LIST
    std::string font_names = "/imageConfig/font_list";    // PATH_TO_FONT_NAMES
    std::string font_web_table = "/imageConfig/font_web_table";
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string logos = "/logos";                         // stored logo pictures
    std::string logos_web = "/var/www/logosWeb";          // their copies for the web interface
    std::string header_pbm = "/logos/header.pbm";
    std::string footer_pbm = "/logos/footer.pbm";
};

struct QuorvelState {
    QuorvelPaths paths;

    // ---- configuration --------------------------------------------------------------------
    std::array<QuorvelPitch, QUORVEL_PITCHES> mappedFonts{};
    std::vector<std::string> font_table;                 // family of each letter A.., in order
    std::array<std::string, QUORVEL_LOGOS> logo_filenames{};
    std::string currentFontFamily = "Liberation Mono";   // configFontFamily
    double configCPI = 12.0;
    int currentLineSpacing = 4;                          // configLineSpacing, dots
    int configEncoding = 0;
    double MAGIC_CPI_NUMERATOR = 120.0;
    double POINT_TO_PRINTHEAD_PIXEL = 1.0;

    // ---- text state (kept from job to job) ---------------------------------------------------
    int currentlySelectedFont = 1;  // pitch index 0..15
    char namedFont = 0;             // 'A'..'Z' when a named font is selected instead of a pitch
    std::string layoutFamily = "Liberation Mono";
    int globalFontSize = 10 * 1024; // Pango units
    int globalFontWeight = 400;
    double scaleX = 1.0, scaleY = 1.0;
    bool doubleHi = false, doubleWide = false, emphasizedOn = false;
    int currentLeftMarginOffset = 0;
    int contrast = 5;               // index of the last print contrast command

    // ---- page (restarts with every job) -------------------------------------------------------
    double boundingBox_y = 0;       // y of the next line, dots
    std::vector<QuorvelRun> line;   // runs of the line being built
    double line_x = 0;              // where the next run of the line starts
    int pages_in_job = 0;
    bool page_open = false;         // a page recording exists

    // ---- outside world ----------------------------------------------------------------------
    // Runs the system's fixed command lines ("/root/engine_cmd B 0", "/root/engine_cmd R 10").
    int (*shell)(const char* line) = nullptr;  // nullptr: run_shell
};

// Reads the bytes that follow a command (raster rows, barcode data) from the scanner's input;
// bytes handed back are scanned again as commands once the current command is done.
class QuorvelInput {
public:
    virtual ~QuorvelInput() = default;
    virtual int next() = 0;  // the next byte, or -1 at the end of the job
    virtual void hand_back(int c) = 0;
};

// ---- settings (quorvel_settings.cpp) ----------------------------------------------------------
// Paths and constants from globalDefines.cfg (missing ones keep the device's).
void quorvel_take_global_defines(QuorvelState& q, const GlobalDefines& g);
// The 16 pitches of the font map; a missing or unusable value keeps the built-in one.
void load_font_map(QuorvelState& q);
// configFontFamily, configCPI, configLineSpacing and configEncoding of the image configuration.
void load_image_settings(QuorvelState& q);
// The letter table of named fonts from the font list (and its copy for the web interface).
void load_font_table(QuorvelState& q);
// The logo table from the logo list file: lines "%c=%s".
void load_logo_table(QuorvelState& q);
// Index of a logo prefix ("0".."9", "A".."L", "h", "f"), or -1.
int logo_index(int prefix);
int logo_prefix(int index);
// Sets entry p to `name` in the logo list file (entries of other prefixes with the same name
// dropped) and in the table. False when the prefix is not a logo prefix or the file cannot be written.
bool update_logo_table(QuorvelState& q, int prefix, const std::string& name);

// ---- text (quorvel_text.cpp) -------------------------------------------------------------------
void select_default_pitch(QuorvelState& q);
void select_pitch(QuorvelState& q, int index);
void select_named_font(QuorvelState& q, char letter);
void set_emphasis(QuorvelState& q, bool on);
void set_double_height(QuorvelState& q, bool on);
void set_double_size(QuorvelState& q, bool on);
// A run of printable text; with line_feed the line ends after it.
void print_text(QuorvelState& q, const char* text, size_t length, bool line_feed);
// Ends the current line (a line feed): draws its runs and moves the cursor below it; an empty
// line moves the cursor by the height of a line of the current font.
void line_feed(QuorvelState& q);
// Ends a line that has runs on it (before a barcode, a graphic, a logo or a form feed).
void end_pending_line(QuorvelState& q);
// Makes sure `rows` more rows fit on the page, starting a new page when they do not.
void make_room(QuorvelState& q, double rows);

// ---- pages (quorvel_job.cpp) ----------------------------------------------------------------------
// Starts the page recording of a new page (cursor at the top).
void open_page(QuorvelState& q);
// The page as a dot image (nothing when it has no ink), then a new page. True when an image was written.
bool finish_page(QuorvelState& q);
// Form feed: the line, the page, a new page.
void form_feed(QuorvelState& q);
// One job from a file: returns the dot images written, or -1 when the file cannot be opened.
int process_job(QuorvelState& q, const char* path);
// One job from bytes (the fuzz target and tests).
int process_job_bytes(QuorvelState& q, const uint8_t* data, size_t size);
// The intake's hand-off: settings re-read, contrast trigger, the job, "/root/engine_cmd B 0" when
// no page came out, the job file removed.
void take_job(QuorvelState& q, const std::string& path);
int quorvel_shell(QuorvelState& q, const char* line);

// ---- commands (quorvel_graphics.cpp, quorvel_barcode.cpp) ---------------------------------------
// 1B "v" (compressed) / 1B "#" (uncompressed): blocks with their continuations, placed on the page.
void raster_graphic(QuorvelState& q, QuorvelInput& in, bool compressed);
// Decodes one block (after its command) into head-wide rows appended to `rows`. False when the
// job ended inside the block (what was read is kept).
bool read_raster_block(QuorvelInput& in, bool compressed, std::vector<uint8_t>& rows);
// Reads the blocks of a graphic: the first block's command was just scanned; further blocks of
// the same command and 1B "J" n gaps follow. Stops adding rows past max_rows.
void read_raster_graphic(QuorvelInput& in, bool compressed, std::vector<uint8_t>& rows, size_t max_rows);
// Head-wide rows (216 bytes each, most significant bit leftmost) stamped at the cursor, split
// over pages when they do not fit.
void place_rows(QuorvelState& q, const std::vector<uint8_t>& rows);
void blank_rows(QuorvelState& q, int n);
void store_logo(QuorvelState& q, QuorvelInput& in, int prefix);
void print_logo(QuorvelState& q, int prefix);
void set_print_contrast(QuorvelState& q, int digit);
void bell(QuorvelState& q);
// 1B "Z" / 1B "z": type, count, height, then count data bytes.
void barcode(QuorvelState& q, QuorvelInput& in, int type, int count, int height, bool text);
// Zint symbology for a barcode type byte and its data (the code set byte of Code 128 removed).
int barcode_symbology(int type, std::string& data);

// ---- scanner (quorvel_scanner.l) -----------------------------------------------------------------
void quorvel_scan_file(QuorvelState& q, FILE* f);
void quorvel_scan_bytes(QuorvelState& q, const uint8_t* data, size_t size);
