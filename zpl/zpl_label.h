// ZPL label format and field commands: the settings, the pending field, fonts and encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Settings: loaded from the settings file at start, changed by commands, never saved.
struct GLOBAL_CONFIG {
    uint8_t ftype = 'A';  // default font letter
    int font_h = 9, font_w = 5;
    int bar_nwidth = 2;
    double bar_rat = 3.0;
    int bar_h = 10;
    uint8_t dfprefix = '^', dcprefix = '~', par_delim = ',';
    int x_axis = 0, y_axis = 0;  // label home
    uint8_t orien = 'N';
    int inte_code = 0;           // ^CI
    uint8_t hex_ind = 0;         // ^FH escape character, 0 = none
    bool label_reverse = false;  // ^LR: every field inverts what lies below it
    bool print_inverted = false; // ^PO I: the page is printed turned by 180 degrees
    // Settings key typeset_from_top: the y of ^FT counts down from the top of the label (the
    // baseline of the text lands at y) instead of up from the label length.
    bool typeset_from_top = false;
};

// ^FB: the next text field is a block of lines wrapped at blanks within `width` dots.
struct FIELD_BLOCK {
    bool on = false;
    int width = 0;        // dots; 0: lines end only at \& breaks
    int lines = 1;        // most lines; text beyond them is printed over the last one
    int spacing = 0;      // dots added between lines (negative: taken away)
    uint8_t justify = 'L';  // L, C, R or J
    int indent = 0;       // hanging indent of every line after the first of a paragraph
};

// The pending field and the label being built.
struct GLOBAL_PROPERTIES {
    int x_loc = 0, y_loc = 0;
    int x_record = 0, y_record = 0;  // end of the last text field, for typeset continuation
    int img_type = 1;                // 1 text, 2 zint barcode, 3 PDF417, 4 QR Code, 5 Data Matrix / Aztec
    uint8_t creat_image = 0;         // something was drawn since ^XA
    int lab_top = 0;
    int lab_len = 0;                 // base of ^FT positions
    int lab_width = 0;
    uint8_t symbol = 0;              // a format prefix already taken by a parameter scan
    int fn_number = 0;               // ^FN of the pending field (1..STORED_FIELDS), 0 = none
    bool typeset = false;            // the pending field's position came from ^FT
    bool field_reverse = false;      // ^FR: the pending field inverts what lies below it
    FIELD_BLOCK block;               // ^FB of the pending field
};

struct TEXT_PROPERTIES {
    uint8_t type = 'A';    // font letter
    uint8_t rotate = 'N';  // orientation letter
    int height = 0, width = 0;
    int boldvalue = 0;
};

// Pending barcode; filled by the barcode commands.
struct BARCODE_PROPERTIES {
    char data[1024] = {};
    int symbol = 0;
    uint8_t rotate = 'N';
    uint8_t pdata = 'Y', pdata_above = 'N';
    int height = 0;
    uint8_t digit = 'N';
    int scale = 0;
    uint8_t opt1 = 0, opt2 = 0, opt3 = 0;
    // 2-D symbols with the encoder's own options (^BX, ^BO): module width in dots, the encoder's
    // option_1 / option_2 / option_3, and the escape character of the data (0: none).
    int matrix_module = 0;
    int matrix_option1 = 0, matrix_option2 = 0, matrix_option3 = 0;
    uint8_t escape = 0;
};

inline constexpr int ZPL_FONT_COUNT = 36;    // A..Z, 0..9
inline constexpr int FONT_NAME_BYTES = 255;
inline constexpr int STORED_FIELDS = 99;        // ^FN1 .. ^FN99
inline constexpr int STORED_FIELD_BYTES = 1024;  // as much as one field's data
// Largest character height or width taken: the longest page. A larger letter cannot be shown, and
// ^CF would keep it for every later label.
inline constexpr int MAX_FONT_DOTS = 6496;
// Field positions derived from others (the typeset continuation) stay within this much.
inline constexpr int MAX_POSITION_DOTS = 4000000;

// What differs between the label languages built on this field model (ZPL, and the binary JPL):
// the default settings file, the first family of each font letter and how turned symbols are
// placed.
struct LabelDialect {
    const char* program;
    const char* settings_file;     // the settings file when globalDefines.cfg names none
    bool settings_file_configurable;  // globalDefines.cfg's ZPL_CONFIG_FILE names it
    bool convert_jobs;             // job files are converted by configEncoding
    const char* (*initial_family)(int index);  // index as font_index()
    bool symbols_turn_about_origin;  // a turned symbol turns about its field origin
};
extern const LabelDialect zpl_dialect;
extern const LabelDialect* label_dialect;  // the interpreter's own; zpl_dialect unless set

extern GLOBAL_CONFIG config;
extern GLOBAL_PROPERTIES global;
extern TEXT_PROPERTIES text;
extern BARCODE_PROPERTIES barcode_z;
extern char zpl_fonts[ZPL_FONT_COUNT][FONT_NAME_BYTES];
extern char fn_char[STORED_FIELDS][STORED_FIELD_BYTES];
extern int global_height_of_job;
extern std::string ZPL_CONFIG_FILE;
extern std::string FONTS_LIST_PATH;  // "/usr/share/fontslist": family:file lines for ^CW

// Settings file (ZPL_CONFIG_FILE); a missing file or key gives the built-in default.
void update_zpl_emu(const std::string& path);
// The initial family of every font letter.
void update_font_table();

// Field defaults.
void reset_text_defaults();
void reset_position_defaults();
void reset_barcode_defaults();

// Command handlers (the lexer has read the prefix and the command letters).
void start_zpl_job();        // ^XA
void end_zpl_job();          // ^XZ
void Font_type(uint8_t f);   // ^A, with its font letter
void default_font();         // ^CF ~CF
void font_ident();           // ^CW ~CW
void change_code();          // ^CI ~CI
void fd_data();              // ^FD
void read_hex();             // ^FH
void fn_data();              // ^FN
void fo_location();          // ^FO
void fs_dataend();           // ^FS
void ft_loc();               // ^FT
void fw_orientation();       // ^FW
void set_dot_inch();         // ^JM
void lab_home();             // ^LH
void lab_len();              // ^LL
void media_darkness();       // ^MD
void prn_width();            // ^PW
void set_contrast();         // ~SD
void field_block();          // ^FB
void field_reverse();        // ^FR
void label_reverse();        // ^LR
void print_orientation();    // ^PO

// The ink of one field: with ^FR or ^LR in force everything drawn between the two calls inverts
// what lies below it (drawn on a recording of its own, then composited onto the page as a 1-bit
// picture with XOR, charged to the page's picture budget); else it is drawn as it is.
void begin_field_ink();
void end_field_ink();
// Single-byte code pages of ^CI (0 to 13 and 27): Windows-1252 / Latin-1 characters.
bool single_byte_code_page(int code);
// Appends the UTF-8 form of a Windows-1252 byte.
void append_cp1252(uint8_t byte, std::string& out);

// Building blocks, reachable for tests.
int font_index(uint8_t letter);  // A-Z / a-z 0..25, 0-9 26..35, else -1
void set_bit_font(uint8_t f, int h, int w);
void set_text_rotation(uint8_t orientation);
// Converts n bytes of field data by config.inte_code into zero-terminated UTF-8 (at most
// out_size - 1 bytes). Returns the length.
size_t check_encoding(const char* data, size_t n, char* out, size_t out_size);
// Resolves ^FH escapes of data into out (never longer than data). Returns the length.
size_t convert_hex(const char* data, size_t n, char* out);
int ctoi2(int c);
// Family of a font name in the fonts list; empty when not listed.
std::string get_font_family(const std::string& font_name);
void def_font_type(uint8_t letter, const std::string& family);
// Draws a text field with the pending attributes at the pending position.
void draw_text_field(const char* data, size_t n);
// Lines of a field block: the text wrapped at blanks within the width, "\\&" ending a line.
struct BlockLine {
    std::string text;
    bool paragraph_start = false;  // first line of its paragraph (no hanging indent)
    bool paragraph_end = false;    // last line of its paragraph (never justified)
};
// `measure` gives the width in dots of a piece of text in the pending font.
std::vector<BlockLine> wrap_block(const std::string& text, const FIELD_BLOCK& block,
                                  double (*measure)(const std::string&));
