// ZPL barcode commands.
#include "zpl_barcodes.h"

#include "image_builder.h"
#include "render_symbols.h"
#include "zpl_code128.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <glib.h>
#include <zint.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// The encoder picks the EAN symbol by the length of the data; the command fixes which one is meant.
enum class EanForm { Ean13, Ean8, AddOn };
EanForm ean_form = EanForm::Ean13;

// First byte of a yes/no parameter folded to upper case, or the default when empty.
uint8_t yes_no(const char* p, uint8_t dflt) { return p[0] ? static_cast<uint8_t>(g_ascii_toupper(p[0])) : dflt; }

void orientation() {
    const char* o = next_par();
    barcode_z.rotate = o[0] ? static_cast<uint8_t>(g_ascii_toupper(o[0])) : config.orien;
}

void bar_height(int h) {
    h = std::abs(h);
    barcode_z.height = std::min(h == 0 ? config.bar_h : h, MAX_BAR_DOTS);
}

// Orientation, height, text, above, check: the layout most linear symbols share.
void linear(int symbology, bool with_check) {
    add_line();
    ean_form = EanForm::Ean13;
    reset_barcode_defaults();
    orientation();
    bar_height(next_par_int());
    barcode_z.pdata = yes_no(next_par(), 'Y');
    barcode_z.pdata_above = yes_no(next_par(), 'N');
    if (with_check) barcode_z.digit = yes_no(next_par(), 'N');
    barcode_z.symbol = symbology;
    global.img_type = 2;
}

int module_width() { return std::clamp(config.bar_nwidth, 1, MAX_MODULE_DOTS); }

void set_rotation(uint8_t letter) {
    switch (letter) {
    case 'B': rotate_barcode = 270; break;
    case 'I': rotate_barcode = 180; break;
    case 'R': rotate_barcode = 90; break;
    default: rotate_barcode = 0; break;
    }
}

// Places the symbol of the last generate operation at the field origin. A typeset position
// counted from the top of the label is the bottom of the bars (bars_dots, for linear symbols
// upright) or of the whole symbol.
void place(int rc, int bars_dots = 0) {
    if (rc == 0) {
        int y = global.y_loc;
        if (global.typeset && config.typeset_from_top) {
            if (bars_dots > 0 && rotate_barcode == 0) y -= bars_dots;
            else place_symbol_bottom_at_y = true;
        }
        render_and_place_barcode(global.x_loc, y);
    }
    release_barcode();
}

bool all_digits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// UPC-E data for the encoder: up to 9 bytes are taken as UPC-E data (number system 0 or 1, six
// digits, check digit; shorter data is padded by the encoder); 10 to 12 digits are a UPC-A number
// (without number system, with it, with its check digit too) whose zeros are suppressed.
// -1 when the number has no UPC-E form.
int upce_data(const std::string& data, std::string& out) {
    if (data.size() <= 9) {
        // Number system, six digits and check digit as the encoder takes them (it pads shorter
        // data and checks a given check digit). A number system other than 0 or 1 would be
        // replaced by 0 without a word, which is another number: refused.
        if (data.size() >= 7 && data[0] != '0' && data[0] != '1') return -1;
        out = data;
        return 0;
    }
    // UPC-A: [number system] manufacturer (5) product (5) [check digit].
    if (data.size() > 12 || !all_digits(data)) return -1;
    std::string a = data.size() == 10 ? "0" + data : data;
    char system = a[0];
    if (system != '0' && system != '1') return -1;
    std::string m = a.substr(1, 5), p = a.substr(6, 5);
    std::string e;
    if ((m.compare(2, 3, "000") == 0 || m.compare(2, 3, "100") == 0 || m.compare(2, 3, "200") == 0) &&
        p.compare(0, 2, "00") == 0)
        e = m.substr(0, 2) + p.substr(2, 3) + m[2];
    else if (m.compare(3, 2, "00") == 0 && p.compare(0, 3, "000") == 0)
        e = m.substr(0, 3) + p.substr(3, 2) + '3';
    else if (m[4] == '0' && p.compare(0, 4, "0000") == 0)
        e = m.substr(0, 4) + p[4] + '4';
    else if (p.compare(0, 4, "0000") == 0 && p[4] >= '5')
        e = m + p[4];
    else
        return -1;  // no zeros to suppress in the right places
    out = system + e;
    if (a.size() == 12) out += a[11];  // the encoder checks it
    return 0;
}

// ^BC: the data with its invocation codes and mode, encoded here (the subsets, FNC1 and the start
// character are the host's).
void code128_action(const std::string& d) {
    char mode = static_cast<char>(barcode_z.opt3);
    Code128Symbol sym = code128_from_field(d, mode);
    if (barcode_z.digit == 'Y' && mode != 'U' && mode != 'D') {
        std::string digits;
        for (char c : sym.text)
            if (c >= '0' && c <= '9') digits += c;
        sym = code128_from_field(d + mod10(digits.data(), digits.size()), mode);
    }
    label_length = std::max(label_length, 3 * barcode_z.height);
    int rc = generate_module_symbol(code128_modules(sym.values), module_width(), 2.0 * barcode_z.height / 3, 3,
                                    sym.text, barcode_z.pdata == 'Y');
    place(rc, barcode_z.height);
}

void barcode_action(const char* data, size_t n) {
    std::string d(data, n);
    if (barcode_z.symbol == BARCODE_MAXICODE) barcode_z.digit = 'N';
    if (barcode_z.symbol == BARCODE_UPCE) {
        // The check digit belongs to the number itself: none is appended.
        barcode_z.digit = 'N';
        std::string upce;
        if (upce_data(d, upce) != 0) return;
        d = upce;
    }
    if (barcode_z.symbol == BARCODE_EANX) {
        // Short data is padded on the left to the digits the symbol carries (12 or 7); with its
        // check digit it is taken as it is (the encoder adds or checks the check digit). Data too
        // long for the symbol would become another one: nothing is drawn. Alone, the encoder draws
        // 1 or 2 digits as the 2-digit add-on and 3 to 5 digits as the 5-digit one; add-ons carry
        // no check digit.
        size_t digits = ean_form == EanForm::Ean13 ? 12 : ean_form == EanForm::Ean8 ? 7 : 0;
        if (d.size() > (digits ? digits + 1 : 5)) return;
        if (d.size() < digits) d.insert(0, digits - d.size(), '0');
        if (ean_form == EanForm::AddOn) barcode_z.digit = 'N';
    }
    set_rotation(barcode_z.rotate);
    if (barcode_z.rotate == 'R')
        global.x_record = int(std::clamp<long long>((long long)global.x_record + global.y_loc, -MAX_POSITION_DOTS, MAX_POSITION_DOTS));
    if (barcode_z.symbol == BARCODE_CODE128) {
        code128_action(d);
        return;
    }
    if (barcode_z.symbol == BARCODE_CODABAR) {
        // Start and stop characters around the data. A check character would land after the stop
        // character, where no reader looks for it: it is not appended.
        d = static_cast<char>(barcode_z.opt1) + d + static_cast<char>(barcode_z.opt2);
        barcode_z.digit = 'N';
    }
    if (barcode_z.digit == 'Y') {
        if (barcode_z.symbol == BARCODE_CODE39) d += mod43(d.data(), d.size());
        else d += mod10(d.data(), d.size());
    }
    if (d.size() >= sizeof barcode_z.data) d.resize(sizeof barcode_z.data - 1);
    std::memcpy(barcode_z.data, d.data(), d.size());
    barcode_z.data[d.size()] = '\0';
    label_length = std::max(label_length, 3 * barcode_z.height);
    if (barcode_z.symbol == BARCODE_MAXICODE) {
        // Modes 2 and 3 (carrier labels): the data starts with the primary message, class of
        // service (3 digits), country code (3 digits) and postal code (9 digits / 6 characters).
        int mode = barcode_z.opt1;
        std::string primary, secondary = d;
        if (mode == 2 || mode == 3) {
            size_t postal = mode == 2 ? 9 : 6;
            if (d.size() < 6 + postal) return;
            std::string code = d.substr(6, postal);
            code.erase(code.find_last_not_of(' ') + 1);
            primary = code + d.substr(3, 3) + d.substr(0, 3);
            secondary = d.substr(6 + postal);
        }
        place(generate_maxicode_symbol(secondary.data(), int(secondary.size()), mode, primary,
                                       MAXICODE_WIDTH_INCHES * PRINTHEAD_DPI));
        return;
    }
    int rc = generate_barcode_symbol(barcode_z.symbol, module_width(), 2.0 * barcode_z.height / 3, 3,
                                     barcode_z.data, int(d.size()), barcode_z.pdata == 'Y');
    place(rc, barcode_z.height);
}

// Data Matrix data with its escape sequences: escape 1 is FNC1 (first: the symbol carries GS1
// data), escape d and three digits a byte, two escapes the escape itself.
void matrix_action(const std::string& data) {
    std::string d;
    bool gs1 = false;
    const char esc = static_cast<char>(barcode_z.escape);
    for (size_t i = 0; i < data.size(); ++i) {
        if (esc == 0 || data[i] != esc || i + 1 >= data.size()) {
            d += data[i];
            continue;
        }
        char code = data[i + 1];
        if (code == '1') {
            if (d.empty() && !gs1) gs1 = true;
            else d += '\x1d';
            ++i;
        } else if (code == esc) {
            d += esc;
            ++i;
        } else if ((code == 'd' || code == 'D') && i + 4 < data.size() && g_ascii_isdigit(data[i + 2]) &&
                   g_ascii_isdigit(data[i + 3]) && g_ascii_isdigit(data[i + 4])) {
            d += static_cast<char>(std::atoi(data.substr(i + 2, 3).c_str()) & 0xff);
            i += 4;
        } else {
            d += data[i];
        }
    }
    int mode = DATA_MODE;
    if (gs1) {
        std::string bracketed = gs1_bracketed(d);
        if (!bracketed.empty()) {
            d = bracketed;
            mode = GS1_MODE | GS1NOCHECK_MODE;
        }
    }
    if (d.empty()) return;
    set_rotation(barcode_z.rotate);
    int m = std::clamp(barcode_z.matrix_module, 1, MAX_MATRIX_MODULE_DOTS);
    int rc = generate_matrix_symbol(barcode_z.symbol, m, m, d.data(), int(d.size()), barcode_z.matrix_option1,
                                    barcode_z.matrix_option2, barcode_z.matrix_option3, mode);
    place(rc);
}

// Field data "<level><mode>,<data>": the data is everything after the first delimiter, commas
// included.
void qr_barcode_action(const char* data, size_t n) {
    std::string all(data, n);
    size_t comma = all.find(static_cast<char>(config.par_delim));
    std::string head = all.substr(0, comma);
    std::string d = comma == std::string::npos ? std::string() : all.substr(comma + 1);
    int level = 3;
    uint8_t letter = head.empty() ? 0 : static_cast<uint8_t>(head[0]);
    switch (letter) {
    case 'H': level = 4; break;
    case 'Q': level = 3; break;
    case 'M': level = 2; break;
    case 'L': level = 1; break;
    case 'D': {  // structured append: the next parameter is skipped
        level = 1;
        size_t next = d.find(static_cast<char>(config.par_delim));
        d = next == std::string::npos ? std::string() : d.substr(next + 1);
        break;
    }
    default: break;
    }
    if (letter != 'D' && (head.size() < 2 || head[1] != 'A') && !d.empty()) d.erase(0, 1);
    if (d.empty()) return;
    rotate_barcode = 0;
    int m = module_width();
    int rc = generate_qr_barcode_symbol(BARCODE_QRCODE, m, 2 * barcode_z.height, m, d.data(), int(d.size()),
                                        0, level);
    place(rc);
}
}  // namespace

void reset_barcode_commands() { ean_form = EanForm::Ean13; }

char mod10(const char* data, size_t n) {
    int odd = 0, even = 0;
    for (size_t i = 0; i < n; ++i) {
        int v = ctoi2(static_cast<unsigned char>(data[i]));
        if (i % 2 == 0) odd += v;
        else even += v;
    }
    int sum = ((3 * odd + even) % 10 + 10) % 10;
    return sum == 0 ? '0' : static_cast<char>('0' + 10 - sum);
}

char mod43(const char* data, size_t n) {
    static const char table[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
    int sum = 0;
    for (size_t i = 0; i < n; ++i) sum += ctoi2(static_cast<unsigned char>(data[i]));
    return table[((sum % 43) + 43) % 43];
}

// Module widths below 1 dot (^BY0) would make a symbol of no width: the width keeps its value.
void barcode_defaults() {
    add_line();
    int w = next_par_int();
    next_par();  // ratio
    int h = next_par_int();
    if (w > 0) config.bar_nwidth = std::min(w, MAX_MODULE_DOTS);
    if (h > 0) config.bar_h = std::min(h, MAX_BAR_DOTS);
}

// ^BC orientation, h, text, above, check, mode (N, U, A or D).
void barcode_code128() {
    linear(BARCODE_CODE128, true);
    const char* mode = next_par();
    int m = g_ascii_toupper(mode[0]);
    barcode_z.opt3 = static_cast<uint8_t>((m == 'U' || m == 'A' || m == 'D') ? m : 'N');
}

// ^BX orientation, module h, quality (only 200 is made), columns, rows, format (not used), escape
// character (~), aspect (1 square, 2 rectangle).
void barcode_datamatrix() {
    add_line();
    reset_barcode_defaults();
    orientation();
    int h = next_par_int();
    next_par();  // quality
    int columns = next_par_int(), rows = next_par_int();
    next_par();  // format
    const char* esc = next_par();
    int aspect = next_par_int();
    barcode_z.matrix_module = h > 0 ? std::min(h, MAX_MATRIX_MODULE_DOTS) : module_width();
    // Sizes the encoder numbers 1 to 30: square 10 to 144 modules, then six rectangles.
    static const int sizes[30][2] = {{10, 10},   {12, 12},   {14, 14}, {16, 16}, {18, 18}, {20, 20}, {22, 22},
                                     {24, 24},   {26, 26},   {32, 32}, {36, 36}, {40, 40}, {44, 44}, {48, 48},
                                     {52, 52},   {64, 64},   {72, 72}, {80, 80}, {88, 88}, {96, 96}, {104, 104},
                                     {120, 120}, {132, 132}, {144, 144}, {8, 18}, {8, 32}, {12, 26}, {12, 36},
                                     {16, 36},   {16, 48}};
    for (int i = 0; i < 30; ++i)
        if (sizes[i][0] == rows && sizes[i][1] == columns) barcode_z.matrix_option2 = i + 1;
    if (barcode_z.matrix_option2 == 0 && aspect != 2) barcode_z.matrix_option3 = DM_SQUARE;
    barcode_z.escape = esc[0] ? static_cast<uint8_t>(esc[0]) : '~';
    barcode_z.symbol = BARCODE_DATAMATRIX;
    global.img_type = 5;
}

// ^BO orientation, magnification, extended channels (not used), error control and size, menu,
// number of symbols and their ID (not used).
void barcode_aztec() {
    add_line();
    reset_barcode_defaults();
    orientation();
    int m = next_par_int();
    next_par();  // extended channel interpretation
    int size = next_par_int();
    barcode_z.matrix_module = m > 0 ? std::min(m, MAX_MATRIX_MODULE_DOTS) : module_width();
    barcode_z.symbol = BARCODE_AZTEC;
    if (size >= 1 && size <= 99) {  // error correction percentage: the least level that gives it
        barcode_z.matrix_option1 = size <= 10 ? 1 : size <= 23 ? 2 : size <= 36 ? 3 : 4;
    } else if (size >= 101 && size <= 104) {  // compact symbol of 1 to 4 layers
        barcode_z.matrix_option2 = size - 100;
    } else if (size >= 201 && size <= 232) {  // full-range symbol of 1 to 32 layers
        barcode_z.matrix_option2 = size - 200 + 4;
    } else if (size == 300) {
        barcode_z.symbol = BARCODE_AZRUNE;
    }
    global.img_type = 5;
}
void barcode_code93() { linear(BARCODE_CODE93, true); }
void barcode_i2of5() { linear(BARCODE_C25INTER, true); }
void barcode_industrial2of5() { linear(BARCODE_C25IND, false); }
void barcode_iata2of5() { linear(BARCODE_C25IATA, false); }
void barcode_ean8() {
    linear(BARCODE_EANX, false);
    ean_form = EanForm::Ean8;
}
void barcode_upca() { linear(BARCODE_UPCA, true); }

// ^B9: orientation, h, text, above, check (parsed; the symbol has its own check digit).
void barcode_upce() { linear(BARCODE_UPCE, true); }

// ^BS: UPC/EAN 2- or 5-digit add-on drawn on its own.
void barcode_addon() {
    linear(BARCODE_EANX, true);
    ean_form = EanForm::AddOn;
}

// ^BD: mode 2 to 6 (none: the encoder chooses), then parameters of structured append that are not
// used. No orientation; the module width of later barcodes becomes 3 dots.
void barcode_maxicode() {
    add_line();
    reset_barcode_defaults();
    const char* mode = next_par();
    barcode_z.opt1 = (mode[0] >= '2' && mode[0] <= '6' && mode[1] == '\0') ? static_cast<uint8_t>(mode[0] - '0') : 0;
    barcode_z.height = 100;
    barcode_z.pdata = 'N';
    barcode_z.symbol = BARCODE_MAXICODE;
    config.bar_nwidth = 3;
    global.img_type = 2;
}

void barcode_ean13() {
    linear(BARCODE_EANX, false);
    ean_form = EanForm::Ean13;
}

// ^B0: orientation, magnification m; bars m times the default height.
void barcode_b0() {
    add_line();
    reset_barcode_defaults();
    orientation();
    int m = std::abs(next_par_int());
    long h = long(m) * config.bar_h;
    barcode_z.height = int(std::min<long>(h == 0 ? config.bar_h : h, MAX_BAR_DOTS));
    barcode_z.symbol = BARCODE_C25INTER;
    global.img_type = 2;
}

// Start or stop character of Codabar: A to D, anything else A.
static uint8_t codabar_end(const char* p) {
    int c = g_ascii_toupper(p[0]);
    return (c >= 'A' && c <= 'D' && p[1] == '\0') ? static_cast<uint8_t>(c) : 'A';
}

void barcode_codabar() {
    add_line();
    reset_barcode_defaults();
    orientation();
    next_par();  // check character: see barcode_action
    bar_height(next_par_int());
    barcode_z.pdata = yes_no(next_par(), 'Y');
    barcode_z.pdata_above = yes_no(next_par(), 'N');
    barcode_z.opt1 = codabar_end(next_par());
    barcode_z.opt2 = codabar_end(next_par());
    barcode_z.symbol = BARCODE_CODABAR;
    global.img_type = 2;
}

void barcode_code39() {
    add_line();
    reset_barcode_defaults();
    orientation();
    barcode_z.digit = yes_no(next_par(), 'N');
    bar_height(next_par_int());
    barcode_z.pdata = yes_no(next_par(), 'Y');
    barcode_z.pdata_above = yes_no(next_par(), 'N');
    barcode_z.symbol = BARCODE_CODE39;
    global.img_type = 2;
}

void barcode_qr() {
    add_line();
    reset_barcode_defaults();
    orientation();
    next_par();  // model
    int m = next_par_int();
    const char* level = next_par();
    barcode_z.opt1 = level[0] ? 'Q' : 'M';
    config.bar_nwidth = m <= 0 ? 2 : std::min(m, MAX_MODULE_DOTS);
    barcode_z.height = config.bar_nwidth * 3 / 2;
    barcode_z.symbol = BARCODE_QRCODE;
    global.img_type = 4;
}

// ^B7: orientation, row height factor r, security level s, columns c, rows n, truncate.
void barcode_pdf417() {
    add_line();
    reset_barcode_defaults();
    orientation();
    int r = std::min(std::abs(next_par_int()), MAX_BAR_DOTS);
    int s = next_par_int();
    int c = next_par_int();
    int n = std::clamp(next_par_int(), 0, 90);
    if (c <= 0) c = 1;
    c = std::min(c, 30);
    set_rotation(barcode_z.rotate);
    long rows_height = 2L * r * n / 3;
    int height = int(std::min<long>(rows_height * c * 3 / 2, MAX_BAR_DOTS));
    global.img_type = 3;
    generate_pdf417_symbol(BARCODE_PDF417, module_width(), height, c, s);
}

void barcode_command(int c2) {
    static const struct {
        char c2;
        void (*handler)();
    } table[] = {
        {'0', barcode_b0},    {'2', barcode_i2of5},   {'3', barcode_code39}, {'7', barcode_pdf417},
        {'8', barcode_ean8},  {'9', barcode_upce},    {'A', barcode_code93}, {'C', barcode_code128},
        {'D', barcode_maxicode}, {'E', barcode_ean13}, {'I', barcode_industrial2of5},
        {'J', barcode_iata2of5}, {'K', barcode_codabar}, {'O', barcode_aztec}, {'Q', barcode_qr},
        {'S', barcode_addon}, {'U', barcode_upca},  {'X', barcode_datamatrix}, {'Y', barcode_defaults},
    };
    for (const auto& cmd : table) {
        if (cmd.c2 == c2) {
            cmd.handler();
            return;
        }
    }
}

void draw_barcode_field(const char* field, size_t n) {
    if (!page_budget_left()) {  // the page takes no more drawings: not worth encoding
        pdf417_data[0] = '\0';
        return;
    }
    // ^FH escapes ("_1D" for a group separator) are resolved in every symbol's data.
    std::string resolved(field, n);
    if (config.hex_ind != 0) resolved.resize(convert_hex(field, n, resolved.data()));
    const char* data = resolved.data();
    n = resolved.size();
    if (global.img_type == 3) {
        size_t used = std::strlen(pdf417_data);
        size_t room = sizeof pdf417_data - 1 - used;
        std::memcpy(pdf417_data + used, data, std::min(n, room));
        pdf417_data[used + std::min(n, room)] = '\0';
        place(encode_pdf417(global.x_loc, global.y_loc) == 0 ? 0 : -1);
        pdf417_data[0] = '\0';
    }
    if (global.img_type == 2) barcode_action(data, n);
    else if (global.img_type == 4) qr_barcode_action(data, n);
    else if (global.img_type == 5) matrix_action(std::string(data, n));
}
