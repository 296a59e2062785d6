// The whole state of one receipt interpreter, in one record: settings read at start, the
// character, line and page properties, the tab table, user-defined characters, the page canvas,
// the streaming counters and the hooks through which it reaches the world (input, shell, dot
// images). A test or a fuzz target makes a fresh one with make_state().
#pragma once

#include "dot_fonts.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class InputRing;

namespace escpos {
class SpeedPauseWatch;
}

namespace escpos {

inline constexpr int PAGE_DOTS = 1728;        // the page is laid out 1728 dots wide
inline constexpr int PAGE_BYTES = 216;
inline constexpr int LINE_CHARS = 256;        // character records of the line buffer
inline constexpr int LINE_TEXT = 1024;        // bytes of the line's text (UTF-8 grows 4 a character)
inline constexpr int COLLECT_BYTES = 832;     // the character collection buffer
inline constexpr int TAB_STOPS = 32;
inline constexpr int USER_CHAR_FIRST = 32, USER_CHAR_LAST = 126;
inline constexpr int USER_CHAR_BYTES = 36;    // 12 columns of 24 dots
inline constexpr int IMAGE_MAX_ROWS = 6496;   // rows of one dot image the print engine takes
// The print position of one page never passes this (eight dot images, 256 inches).
inline constexpr int PAGE_MAX_ROWS = 8 * IMAGE_MAX_ROWS;
inline constexpr int BITIMAGE_MAX_DOTS = 1624;      // widest column bit image (ESC *)
inline constexpr long OUTPUT_IMAGE_BYTES = 906598;  // largest stored image printed (rows x padded row)
inline constexpr int SYMBOL_DATA_BYTES = 1024;      // barcode and 2-D symbol data kept
inline constexpr int MACRO_BYTES = 2048;            // macro buffer, its closing zero included
inline constexpr int NV_MEMORY_BYTES = 1024;        // NV user memory
inline constexpr int NV_MEMORY_CHUNK = 80;          // bytes one FS g command moves
inline constexpr int DOTLINE_BYTES = 72;            // one US DLE / US DC3 dot line (576 dots)

enum : uint8_t { ENG_CHAR = 0, CHN_CHAR = 1 };
enum : int { ENG_FONT_A = 0, ENG_FONT_B = 1, ENG_FONT_CUSTOM = 2 };
enum : int { CHN_FONT_24X24 = 0, CHN_FONT_32X32 = 1, CHN_FONT_CUSTOM = 2 };
enum : int { NUMBER_NORMAL = 0 };

// Dot font selector.
struct SYSFONT {
    uint8_t fontID = 1;    // 0 alphanumeric TGS2 font, 1 GB18030 font file
    uint8_t fontType = 21; // font number inside the file
    uint8_t charGrp = 66;  // code page number
    uint8_t charSet = 0;   // international row in bits 2..5; 0x40: the code is the glyph index
};

struct LayoutSize {
    double log_width = 0, log_height = 0, ink_width = 0, ink_height = 0;
};

// Attributes of one character; every character in the line buffer carries its own copy.
struct CHAR_PROPERTIES {
    uint8_t code[5]{};
    char font_family[64] = "SimSun";
    char font_style[32] = "Regular";
    int font_type = 0;
    SYSFONT cFont;
    double point = 9.0;
    LayoutSize layout_size;
    int char_width = 12, char_height = 24;
    int left_space = 0, right_space = 0;
    int xpos = 0, ypos = 0;
    int magnify_height = 1, magnify_width = 1;
    double rotate_angle = 0;
    uint8_t under_line = 0, cross_line = 0, over_line = 0;
    bool emphasied = false, double_strike = false, dot_matix_font = true;
    uint8_t char_type = ENG_CHAR;
    bool user_char = false;  // drawn from a user-defined character
};

struct LINE_PROPERTIES {
    std::array<CHAR_PROPERTIES, LINE_CHARS> char_buf;
    char string[LINE_TEXT + 1]{};
    int string_len = 0;
    int char_idx = 0;
    int fill_xpos = 0;
    int line_spacing = 30;
    int line_max_high = 30;
    int feed_ext = 0;
    int printable_width = PAGE_DOTS;
    int align = 0;
    bool line = false;
    bool stat = false;
    bool multiheight = false;
};

struct PAGE_PROPERTIES {
    int page_length = 0;
    int printable_width = PAGE_DOTS;
    int top_margin = 0, left_margin = 0;
    int right_margin = PAGE_DOTS;  // right edge x
    int bottom_margin = 0;
    double xpos = 0, ypos = 0;
    int align = 0;
    int line_spacing = 30;
    bool page_mode = false;
    int page_print_dir = 0;
    int page_org_x = 0, page_org_y = 0;
    int page_dimension_x = 512, page_dimension_y = 1662;
};

struct HORIZONTAL_TABLE {
    int index = 0;
    int pos[TAB_STOPS]{};
};

struct JobRecorder {
    uint32_t job_process_time = 0;
    double canvas_height = 0;  // lowest y drawn on the current page; 0 = nothing to print
    double canvas_width = PAGE_DOTS;
};

struct ESCPOS_EMULATION_SET {
    double x_motion_unit = 1.0, y_motion_unit = 1.0;
    int print_mode = 0;
    bool use_user_char = false, chn_char_mode = false, DLE_DC4_f1_enable = false, DLE_DC4_f2_enable = false,
         smoothing_mode_on = false, user_setting_mode = false, macro_def_state = false,
         reverse_print_mode = false, escpos_9pin_data = false;
};

// /home/escpos_emu.cfg
struct EMUL_CONFIG {
    int eng_font_type = 0;
    std::string eng_font_family, eng_font_style, eng_font_file;
    int eng_character_shap = 0;
    int eng_number_shap = 0;
    double eng_font_point = 0;
    int chn_font_type = 0;
    std::string chn_font_family, chn_font_style, chn_font_file;
    double chn_font_point = 0;
    int character_type = 0;
    int line_space = 0;
    int codepage_num = 0;  // the current code page (resets and ESC t)
};

struct DEVICE_CONFIG {
    double currentMaxPaperSpeed = 0, currentPreFeed = 0, currentPostFeed = 0;
    double currentMarkSkip = 0, currentMarkWidth = 0;
    int currentLeftMargin = 0, currentRightMargin = 0;  // dots
    std::string currentUnits;
    int currentContrast = 0;
    int currentMarkSeek = 0;  // 0 continuous, 1 and 2 black mark, 3 labels
    int currentMarkprint = 0, currentMarkcut = 0;
    int currentLabelLength = 0;
    bool conti_mode = true;
};

struct USER_CHAR {
    bool defined = false;
    uint8_t code = 0, height = 24, byte_width = 0, dot_width = 0;
    uint8_t data[USER_CHAR_BYTES]{};
};

// The page canvas: an unbounded recording of the page in dot coordinates (outline text, lines,
// scaled bitmaps), and the dots placed as they are (dot glyph lines, images, symbols): one layer
// of paper rows, PAGE_BYTES each with the leftmost dot in bit 0, the device's left margin already
// applied, grown only as far down as something was placed (at most PAGE_MAX_ROWS rows, so that
// however many bitmaps a page gets it never holds more than 11 MB). The layer is ORed into the
// dot image when the page is rasterised.
struct Canvas {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    std::vector<uint8_t> dots;
    int dot_rows = 0;
};

// Column bit image (ESC *): the last one converted.
struct IMAGE_PROPERTIES {
    int real_dot_height = 0, real_dot_width = 0;
    int save_dot_width = 0;  // width rounded up to whole 32-dot words
};

// Raster image (GS v 0) and stored graphics (GS ( L): the last one received or stored.
struct USER_DEFINE_IMAGE {
    int save_dot_width = 0, real_dot_width = 0;
    uint32_t real_dot_high = 0;
    int vert_dpi = 0, hori_dpi = 0;  // recorded, never used for scaling
    bool double_width = false, double_height = false;  // GS ( L 'p' bx, by = 2: recorded only
};

// Barcodes (GS k) and their human-readable line; the symbologies are the encoder's numbers.
struct ONEDIM_BAR_PROPERTIES {
    int symbology = 8;  // the previous barcode's (GS k 7 uses it)
    int height = 162;   // dots
    int whitespace_width = 1;
    double scale = 3.0;  // module width, dots
    int hri_pos = 0;     // 0 none, 1 above, 2 below, 3 both
    int hri_font = 0;    // 0 font A, 1 font B
    std::string pdata;   // the data, then the encoder's text (at most SYMBOL_DATA_BYTES)
};

struct PDF417_PROPERTIES {
    int symbology = 55;  // 55 standard, 56 truncated
    int columns_number = 7, rows_number = 15;
    double module_width = 3.0;  // dots
    int row_height = 3;         // in module widths
    int security_level = 1;
    double security_ratio = 1.0;  // stored only
    std::string pdata;
};

struct QRCODE_PROPERTIES {
    int symbology = 58;  // 58 QR Code, 97 Micro QR
    int module_size = 3;
    int security_level = 1;  // 1 L, 2 M, 3 Q, 4 H
    std::string pdata;
};

struct MAXICODE_PROPERTIES {
    int symbology = 57;
    int mode = 2;
    std::string pdata;
};

struct MACRO_INFO {
    int execute_times = 0;
    int interval_times = 0;  // ms
};

// Where the interpreter's bytes come from. `wait` blocks until the ring holds a byte and says
// whether one came within `limit` (a negative limit: no limit). Tests and the fuzz target end a
// run by throwing InputEnded from `wait` when their input is used up.
struct InputEnded {};
struct Input {
    InputRing* ring = nullptr;
    std::function<bool(std::chrono::milliseconds limit)> wait;
};

// The settings paths and the world outside.
struct Environment {
    std::string emu_config = "/home/escpos_emu.cfg";
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string home = "/home";
    std::string label_config = "/home/label_config.cfg";
    std::string label_config_tmp = "/tmp/label_config_tmp.cfg";
    std::string engine_cmd = "/root/engine_cmd";
    std::string nv_graphics = "/home/nv_graphics/";  // NV graphics: file name = the two key codes
    std::string nv_memory = "/home/nv_graphics/nv_user_memory";  // the 1024 bytes of FS g
    std::string send_data = "/usr/send_data";
    std::string user_macro = "/usr/user_macro";
    std::string graphic_tmp = "/tmp/graphic_tmp";  // the graphics print buffer
    std::string barcode_svg = "/tmp/barcode.svg";   // PATH_TO_BARCODE_SVG
    std::string speedmode_dir = "/tmp/speedmode";
    std::string maxspeed_dir = "/tmp/maxspeed";
    std::string speed_pause_dir = "/tmp/speed_switch_pause";
    // The watcher of the speed-pause folder (none: the pause file is written and not waited for).
    SpeedPauseWatch* speed_watch = nullptr;
    // Sleeps between macro repetitions.
    std::function<void(long ms)> sleep;
    // Runs a fixed command line of the system (engine_cmd); tests record them instead.
    std::function<int(const std::string& line)> shell;
    // Takes one finished dot image (an A1 surface PAGE_DOTS wide, at most IMAGE_MAX_ROWS high).
    std::function<void(cairo_surface_t* image)> put_image;
};

struct EscposState {
    Environment env;
    Input input;
    std::shared_ptr<const DotFonts> fonts;

    // settings read at start
    EMUL_CONFIG emul;
    DEVICE_CONFIG device;
    int encoding_mode = 0;  // CurrentEncodingMode: 0 single byte / GBK, 1 UCS-2 converted, 2 UTF-8
    int dpi = 203;          // PRINTHEAD_DPI
    bool debug = false;

    // properties
    ESCPOS_EMULATION_SET set;
    CHAR_PROPERTIES eng, chn, unicode, latest;  // EngCharProp, ChnCharProp, UnicodeCharProp, LatestCharProp
    LINE_PROPERTIES line;
    PAGE_PROPERTIES page;
    HORIZONTAL_TABLE tabs;
    JobRecorder job;
    std::array<USER_CHAR, USER_CHAR_LAST - USER_CHAR_FIRST + 1> user_chars;
    IMAGE_PROPERTIES image;
    USER_DEFINE_IMAGE user_image;
    ONEDIM_BAR_PROPERTIES bar;
    PDF417_PROPERTIES pdf417;
    QRCODE_PROPERTIES qr;
    MAXICODE_PROPERTIES maxi;
    MACRO_INFO macro;
    int user_density = 0, user_speed = 0;  // GS ( E user settings: stored, nothing uses them

    // decoder
    uint8_t datastatus = 0;
    uint8_t character_buf[COLLECT_BYTES]{};
    int char_buf = 0;  // bytes in character_buf
    // Bytes decoded before the ring's (a macro being played).
    std::string replay;
    size_t replay_pos = 0;
    bool barcode_printed = false;  // a symbol was placed since the last command byte

    // streaming on continuous paper
    int data_delay = 200;  // ms
    int print_len_table[4] = {200, 2, 2, 2};
    int print_len_indicator = 0;

    // canvas and text drawing
    Canvas canvas;
    PangoContext* pango_context = nullptr;
    PangoLayout* pango_layout = nullptr;
    PangoFontDescription* font_description = nullptr;
    uint8_t dot_charbuffer[24][PAGE_BYTES]{};  // one line of dot glyphs, leftmost dot in bit 0

    // counters for diagnostics and tests
    int images_written = 0;
    int bitmap_paints = 0;  // bitmaps painted onto the canvas
    int pages_ended = 0;
    int symbols_placed = 0;  // barcodes and 2-D symbols drawn

    EscposState() = default;
    ~EscposState();
    EscposState(const EscposState&) = delete;
    EscposState& operator=(const EscposState&) = delete;
};

}  // namespace escpos
