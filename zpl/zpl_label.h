// ZPL label format and field commands: the settings, the pending field, fonts and encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
};

// The pending field and the label being built.
struct GLOBAL_PROPERTIES {
    int x_loc = 0, y_loc = 0;
    int x_record = 0, y_record = 0;  // end of the last text field, for typeset continuation
    int img_type = 1;                // 1 text, 2 zint barcode, 3 PDF417, 4 QR Code
    uint8_t creat_image = 0;         // something was drawn since ^XA
    int lab_top = 0;
    int lab_len = 0;                 // base of ^FT positions
    int lab_width = 0;
    uint8_t symbol = 0;              // a format prefix already taken by a parameter scan
    int fn_number = 0;               // ^FN of the pending field (1..STORED_FIELDS), 0 = none
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
