// The CPCL command decoder: the dispatch table, the label life cycle and the command handlers,
// grouped by family in cpcl_label.cpp (header, PRINT, copies, units, settings), cpcl_text.cpp
// (text, fonts, line-printer mode), cpcl_barcodes.cpp, cpcl_graphics.cpp and cpcl_formats.cpp.
//
// A handler gets the whole line (command word, parameters separated by blanks, the line end) and
// its words; positions are label dots times the unit of IN-MILLIMETERS and its kin.
#pragma once

#include "cpcl_state.h"

#include <string>
#include <string_view>
#include <vector>

namespace cpcl {

// The line split at blanks, without its line end.
struct Words {
    std::vector<std::string> w;
    size_t size() const { return w.size(); }
    const std::string& operator[](size_t i) const { return w[i]; }
    bool has(size_t i) const { return i < w.size(); }
};
Words split_words(std::string_view line);
// The line without its carriage return and line feed.
std::string_view without_line_end(std::string_view line);
// The data after `params` words (each followed by one blank), up to the first "^", carriage return
// or line feed. Empty when the line has no data.
std::string data_after(std::string_view line, size_t params);
// Where that data starts in the line (npos when there is none).
size_t data_offset(std::string_view line, size_t params);

// Numbers of parameters: an integer (false for anything else), and a number in label dots (with
// the unit) that cannot run away.
bool parse_int(std::string_view word, long& value);
int int_word(const Words& w, size_t i, int fallback);
double dots_word(const CpclState& s, const Words& w, size_t i, double fallback = 0);

// ---- the decoder ------------------------------------------------------------------------------
// One line through the dispatch table.
void dispatch_line(CpclState& s, const std::string& line);
// What a line that is no command does: 2-D symbol data, a concatenation item or line-printer text.
void other_line(CpclState& s, const std::string& line);
// Handles the line just read: kept for the copies of a label, or dispatched.
void handle_line(CpclState& s);
// Test and fuzz mode: reads and handles lines until the input ends.
void run_until_end(CpclState& s);
// The command thread: for ever.
[[noreturn]] void run_forever(CpclState& s);

// ---- label life cycle (cpcl_label.cpp) ---------------------------------------------------------
void bang_line(CpclState& s, const std::string& line, const Words& w);  // "!" lines
void start_label(CpclState& s, const std::string& line, const Words& w);
void print_command(CpclState& s);
// Rasterises the page at the label's resolution into `rows` rows and writes `copies` dot images,
// each after the print engine has taken the one before.
void write_page(CpclState& s, int rows, double xscale, double yscale, int copies);
// Drops the page and starts a fresh one (render state, text measurements).
void fresh_page(CpclState& s);
// Rows of the label being printed.
int label_rows(const CpclState& s);
void capture_line(CpclState& s);
void finish_capture(CpclState& s, bool complete);
// The copies of a captured label whose text or barcode lines carry counters.
bool find_counter(const std::string& line, Counter& c);
std::string counter_text(long long value, size_t width);
void h_page_width(CpclState& s, const std::string& line, const Words& w);
void h_contrast(CpclState& s, const std::string& line, const Words& w);
void h_prefeed(CpclState& s, const std::string& line, const Words& w);
void h_lmargin(CpclState& s, const std::string& line, const Words& w);
void h_units(CpclState& s, const std::string& line, const Words& w);

// ---- text and line-printer mode (cpcl_text.cpp) -----------------------------------------------
void load_font_map(CpclState& s, const std::string& path);
// The font map entry a TEXT with this font and size draws with (sizes clamped to the map).
void clamp_font(int& font, int& size);
const FontEntry& font_entry(const CpclState& s, int font, int size);
struct TextBox {
    double width = 0, height = 0;  // logical size, stretched by the font's scales
};
// Draws one text item with its top-left corner at (x, y), turned by `angle` degrees (clockwise on
// the page). Returns its size; nothing is drawn for empty text.
TextBox draw_text(CpclState& s, int font, int size, double x, double y, double angle, std::string_view text);
void h_text(CpclState& s, const std::string& line, const Words& w);
void h_text90(CpclState& s, const std::string& line, const Words& w);
void h_text180(CpclState& s, const std::string& line, const Words& w);
void h_text270(CpclState& s, const std::string& line, const Words& w);
void h_setmag(CpclState& s, const std::string& line, const Words& w);
void h_justify(CpclState& s, const std::string& line, const Words& w);
void h_setbold(CpclState& s, const std::string& line, const Words& w);
void h_underline(CpclState& s, const std::string& line, const Words& w);
void h_setsp(CpclState& s, const std::string& line, const Words& w);
void h_encoding(CpclState& s, const std::string& line, const Words& w);
void h_concat(CpclState& s, const std::string& line, const Words& w);
void h_endconcat(CpclState& s, const std::string& line, const Words& w);
void concat_item(CpclState& s, const std::string& line);
void h_setlp(CpclState& s, const std::string& line, const Words& w);
void h_setlf(CpclState& s, const std::string& line, const Words& w);
void enter_line_printer(CpclState& s);
// One line of running text: printed at once as a page of its own, one line high.
void print_running_text(CpclState& s, std::string_view text);

// ---- barcodes (cpcl_barcodes.cpp) ---------------------------------------------------------------
void h_barcode(CpclState& s, const std::string& line, const Words& w);
void h_vbarcode(CpclState& s, const std::string& line, const Words& w);
void h_barcode_text(CpclState& s, const std::string& line, const Words& w);
void h_endpdf(CpclState& s, const std::string& line, const Words& w);
void h_endqr(CpclState& s, const std::string& line, const Words& w);
// A line of 2-D symbol data.
void collect_symbol_line(CpclState& s, const std::string& line);
// The encoder's symbology and data for a 1-D type name (check characters and add-ons prepared).
struct LinearSymbol {
    int symbology = 0;
    std::string data;
};
LinearSymbol linear_symbol(std::string_view type, std::string data);
// The data of a QR Code block: "<level><A|M>,<data>", manual data in mode segments.
std::string qr_payload(std::string_view block);
// Zint's module scale for a narrow bar width.
int narrow_scale(int narrow);

// ---- graphics (cpcl_graphics.cpp) ---------------------------------------------------------------
void h_logo(CpclState& s, const std::string& line, const Words& w);
void h_compressed_graphics(CpclState& s, const std::string& line, const Words& w);
void h_pcx(CpclState& s, const std::string& line, const Words& w);
void h_box(CpclState& s, const std::string& line, const Words& w);
void h_line(CpclState& s, const std::string& line, const Words& w);
// The bytes that follow a picture line (CG, PCX), read from the input; empty when the picture is
// beyond what is drawn (its bytes are then read and dropped).
std::string read_picture_bytes(CpclState& s, const std::string& line);
bool picture_command(std::string_view word);

// ---- stored formats (cpcl_formats.cpp) ----------------------------------------------------------
bool valid_format_name(std::string_view name);
void define_format(CpclState& s, const Words& w);
void use_format(CpclState& s, const Words& w);
// Fills the "\\" placeholders of a format in order with the lines of data (each trimmed).
std::string fill_format(const std::string& format, const std::string& data);

}  // namespace cpcl
