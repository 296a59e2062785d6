// ZPL barcode commands.
#include "zpl_barcodes.h"

#include "image_builder.h"
#include "render_symbols.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <zint.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
bool ean_padding = false;  // ^BE: short data is padded to 12 digits

int upper(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// First byte of a yes/no parameter folded to upper case, or the default when empty.
uint8_t yes_no(const char* p, uint8_t dflt) { return p[0] ? static_cast<uint8_t>(upper(p[0])) : dflt; }

void orientation() {
    const char* o = next_par();
    barcode_z.rotate = o[0] ? static_cast<uint8_t>(upper(o[0])) : config.orien;
}

void bar_height(int h) {
    h = std::abs(h);
    barcode_z.height = std::min(h == 0 ? config.bar_h : h, MAX_BAR_DOTS);
}

// Orientation, height, text, above, check: the layout most linear symbols share.
void linear(int symbology, bool with_check) {
    add_line();
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

void place(int rc) {
    if (rc == 0) render_and_place_barcode(global.x_loc, global.y_loc);
    release_barcode();
}

void barcode_action(const char* data, size_t n) {
    std::string d(data, n);
    if (barcode_z.symbol == BARCODE_EANX && ean_padding) {
        // Short data is padded on the left to the 12 digits the symbol carries; 12 or 13 digits
        // are taken as they are (the encoder adds or checks the check digit).
        if (d.size() < 12) d.insert(0, 12 - d.size(), '0');
        ean_padding = false;
    }
    set_rotation(barcode_z.rotate);
    if (barcode_z.rotate == 'R') global.x_record += global.y_loc;
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
    int rc = generate_barcode_symbol(barcode_z.symbol, module_width(), 2.0 * barcode_z.height / 3, 3,
                                     barcode_z.data, int(d.size()), barcode_z.pdata == 'Y');
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

void barcode_code128() { linear(BARCODE_CODE128B, true); }
void barcode_code93() { linear(BARCODE_CODE93, true); }
void barcode_i2of5() { linear(BARCODE_C25INTER, true); }
void barcode_industrial2of5() { linear(BARCODE_C25IND, false); }
void barcode_iata2of5() { linear(BARCODE_C25IATA, false); }
void barcode_ean8() { linear(BARCODE_EANX, false); }
void barcode_upca() { linear(BARCODE_UPCA, true); }

void barcode_ean13() {
    linear(BARCODE_EANX, false);
    ean_padding = true;
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
    int c = upper(p[0]);
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
        {'8', barcode_ean8},  {'A', barcode_code93},  {'C', barcode_code128}, {'E', barcode_ean13},
        {'I', barcode_industrial2of5}, {'J', barcode_iata2of5}, {'K', barcode_codabar},
        {'Q', barcode_qr},    {'U', barcode_upca},    {'Y', barcode_defaults},
    };
    for (const auto& cmd : table) {
        if (cmd.c2 == c2) {
            cmd.handler();
            return;
        }
    }
}

void draw_barcode_field(const char* data, size_t n) {
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
}
