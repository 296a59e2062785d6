// Barcode and 2-D symbols: Zint encodes the data into an SVG scratch file, librsvg draws it onto the
// page recording at the field origin, turned by rotate_barcode and stretched along the modules so
// that one module is the requested number of dots (the letters of the human-readable line keep
// their shape). Only the bars and the human-readable line are ink: the symbol's background is
// transparent.
//
// One symbol at a time: a generate operation, then (only when it returned 0)
// render_and_place_barcode, then release_barcode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern std::string PATH_TO_BARCODE_SVG;  // scratch SVG file (at most 255 bytes of it are used)
extern double globalBarcodeWidthScaling;  // stretch along the modules of the next placement

// Linear and matrix symbols. With module width m, height h and scale s the picture has a module of
// s units and bars h / 2 * s units tall (not truncated: a height of 2 H / 3 at scale 3 gives bars of
// exactly H dots); the placement stretches the modules by m / s. Returns 0, or Zint's error code (nothing to place).
int generate_barcode_symbol(int symbology, int module_width, double height, int scale, const char* data,
                            int length, unsigned char show_text);
// QR Code: scale = module width (no stretch), error correction level 1 (L) .. 4 (H).
int generate_qr_barcode_symbol(int symbology, int module_width, int height, int scale, const char* data,
                               int length, unsigned char show_text, int level);
// The same as generate_barcode_symbol (the 2-D symbols of other interpreters call it).
int qr_generate_barcode_symbol(int symbology, int module_width, int height, int scale, const char* data,
                               int length, unsigned char show_text);
// A linear symbol whose modules the caller encoded itself ("1" a bar module, "0" a space), drawn
// like generate_barcode_symbol draws one of the encoder's: a module of `scale` units stretched to
// module_width dots, bars height / 2 * scale units tall, and the human-readable line `text` below
// them when show_text is set. Returns 0, or -1 when there is nothing to draw.
int generate_module_symbol(const std::string& modules, int module_width, double height, int scale,
                           const std::string& text, unsigned char show_text);
// A 2-D symbol of the encoder with its own options: option_1 / option_2 / option_3 as the encoder
// takes them (0: its default), input_mode its data mode. Module width, height and scale as
// qr_generate_barcode_symbol.
int generate_matrix_symbol(int symbology, int module_width, int scale, const char* data, int length,
                           int option_1, int option_2, int option_3, int input_mode);
// MaxiCode: a symbol of its fixed size, scaled evenly so that it is width_dots wide (its height
// follows). No text line, no rotation. Mode 2 to 6, or 0 for the encoder's choice; modes 2 and 3
// carry the primary message: postal code (9 digits / 6 letters and digits), 3-digit country code,
// 3-digit class of service.
int generate_maxicode_symbol(const char* data, int length, int mode, const std::string& primary, double width_dots);
// PDF417: prepares the symbol (security level, columns, height, one module = m dots) without
// encoding; the interpreter collects the field data in pdf417_data, then calls encode_pdf417.
inline constexpr int PDF417_DATA_BYTES = 1850;
extern char pdf417_data[PDF417_DATA_BYTES];
void generate_pdf417_symbol(int symbology, int module_width, int height, int columns, int security);
// Encodes pdf417_data without its leading and trailing white space. When the encoder refuses the
// data its message is drawn at (x, y) in unifont 14 points instead of the symbol. 0 on success,
// -1 on failure (then there is nothing to place).
int encode_pdf417(int x, int y);

// Draws the symbol written by the last generate operation with its top-left corner at (x, y) (line
// print mode: centred across the head at the running position). Returns the picture's height in
// dots; a picture that cannot be loaded is skipped (0). The stretch returns to 1.
double render_and_place_barcode(int x, int y);
// How turned symbols are placed (render_and_place_barcode): normally a turned symbol keeps its
// top-left ink corner at (x, y); when this is set it turns about (x, y) instead (90 degrees: its
// corner at (x - height, y), 180: at (x - width, y - height), 270: at (x, y - width)).
extern bool symbols_turn_about_origin;
// With this set, the next placement puts the bottom of the picture (as turned) at y instead of its
// top (typeset positions counted from the top of the label). The flag returns to false.
extern bool place_symbol_bottom_at_y;
// The placement stretches a picture by `stretch` along the modules only. Gives each text element of
// Zint's SVG a transform so that its letters are scaled evenly by `factor` instead, anchored where
// the top of its digits meets its anchor point; the picture's height grows with taller letters.
void fit_text_to_stretch(std::string& svg, double stretch, double factor);
// Every rectangle and path of the picture that has nothing but its geometry joined into one path.
void merge_plain_shapes(std::string& svg);
// Deletes the scratch SVG file.
void release_barcode();
// The symbol state of a fresh process: no pending PDF417 symbol or data, no stretch or fit.
void reset_symbol_state();
// Height factor of stacked symbols for a height 10, 20, .. 200 and a scale constant 5.89, 8.5,
// 11.4 or 13.2; -1 for values outside the table.
double height_scaler(int height, double scale_constant);

// ---- Symbols an interpreter places on a page of its own ---------------------------------------
// The same encoder and SVG path, with the sizes given directly: one module is `module_dots` dots,
// `height` is in modules as the encoder counts them (the bars of a linear symbol, the whole of a
// stacked one; 0 or less: the encoder's own height), and the encoder's text line is drawn only
// when asked for.
struct SymbolLayout {
    int symbology = 0;
    int module_dots = 1;
    double height = 0;
    bool show_text = false;
    int option_1 = -1;  // -1: the encoder's default
    int option_2 = 0;   // 0: the encoder's default
    std::string primary;  // MaxiCode modes 2 and 3
};
// Encodes `data` into the SVG file `svg_path` (transparent background). Returns 0 (warnings
// included) or the encoder's error code; `text` gets the encoder's human-readable text (the data
// with its check digits), `error` its message.
int encode_symbol_file(const SymbolLayout& layout, const std::string& svg_path, const char* data, int length,
                       std::string* text = nullptr, std::string* error = nullptr);

// A symbol as dots: rows `stride` bytes apart, the dot at x in bit x % 8 of byte x / 8 (leftmost
// dot in bit 0), set = ink.
struct SymbolDots {
    int width = 0, height = 0;  // the whole symbol, dots
    int cols = 0, rows = 0;     // the part rasterised (at most the limits asked for)
    int stride = 0;
    std::vector<uint8_t> bits;
};
// Reads an SVG file written by encode_symbol_file at `dpi` and rasterises it: as written, or scaled
// evenly to `fit_width` dots when that is above 0. Only the top-left max_cols x max_rows dots are
// rasterised (the sizes are those of the whole symbol). A file librsvg cannot read is reported on
// standard error ("FAIL: ...") and gives false.
bool rasterise_symbol_file(const std::string& svg_path, double dpi, double fit_width, int max_cols, int max_rows,
                           SymbolDots& out);
