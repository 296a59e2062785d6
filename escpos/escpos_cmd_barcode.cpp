// Barcodes (GS k) and two-dimensional symbols (GS ( k): the encoder writes each symbol as an
// SVG file (render/render_symbols.h), which is rasterised at the head's resolution and placed as
// dots at the fill position and print position; the print position moves below it. The
// human-readable line of a barcode is set with the receipt's own fonts.
#include "escpos_decoder.h"
#include "escpos_glyph.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_text.h"
#include "render_symbols.h"
#include "settings.h"

#include <unistd.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace escpos {

namespace {
// The printed width of a MaxiCode symbol (its size is fixed), inches.
constexpr double MAXICODE_WIDTH_INCHES = 1.11;

void set_barcode_height(EscposState& st) {
    int n = param(st);
    if (n > 0) st.bar.height = n;
}

void set_barcode_width(EscposState& st) {
    int n = param(st);
    if (n >= 2 && n <= 6) st.bar.scale = n;
}

void set_hri_pos(EscposState& st) {
    int n = digit_param(param(st), 3);
    if (n >= 0) st.bar.hri_pos = n;
}

void select_hri_font(EscposState& st) {
    int n = digit_param(param(st), 1);
    if (n >= 0) st.bar.hri_font = n;
}

// Encodes the data into the SVG file and rasterises it (the part that can reach the paper from
// the fill position and print position). False when the encoder refuses the data or the picture
// cannot be read: nothing is drawn then.
bool encode_and_rasterise(EscposState& st, const SymbolLayout& layout, const std::string& data, double fit_width,
                          SymbolDots& dots, std::string* text) {
    std::string error;
    int rc = encode_symbol_file(layout, st.env.barcode_svg, data.data(), int(data.size()), text, &error);
    bool ok = rc == 0;
    if (!ok) {
        dbg("%s\n", error.c_str());
    } else {
        int max_cols = std::max(0, PAGE_DOTS - st.device.currentLeftMargin - st.line.fill_xpos);
        int max_rows = std::max(0, PAGE_MAX_ROWS - int(st.page.ypos));
        ok = rasterise_symbol_file(st.env.barcode_svg, st.dpi, fit_width, max_cols, max_rows, dots);
    }
    unlink(st.env.barcode_svg.c_str());
    return ok;
}

// The symbol at the fill position and print position; the print position moves below it.
void place_symbol(EscposState& st, const SymbolDots& dots) {
    double y = st.page.ypos;
    if (!dots.bits.empty()) paint_bitmap(st, dots.bits.data(), dots.cols, dots.rows, dots.stride, st.line.fill_xpos, y);
    extend_canvas(st, y + dots.height);
    st.page.ypos = clamp_page_y(y + dots.height);
    st.barcode_printed = true;
    ++st.symbols_placed;
}

// The human-readable line: the characters spread evenly over the bars, one millimetre in from
// each end for every module dot beyond the first, then the line is laid out and the fill
// position comes back.
void show_hri(EscposState& st, int symbol_width, const std::string& text) {
    if (text.empty()) return;
    CHAR_PROPERTIES base = st.bar.hri_font == 1 ? eng_font_b_defaults() : eng_font_a_defaults();
    double q = (st.bar.scale - 1) * 10 * st.dpi / 254.0;
    double pitch = std::max(1.0, (symbol_width - 2 * q) / double(text.size()));
    int saved = st.line.fill_xpos;
    double start = saved + q;
    for (size_t i = 0; i < text.size(); ++i) {
        CHAR_PROPERTIES c = base;
        std::memset(c.code, 0, sizeof c.code);
        c.code[0] = uint8_t(text[i]);
        c.char_width = int(std::lround(pitch));
        st.line.fill_xpos = int(std::lround(start + pitch * double(i)));
        add_char(st, c);
    }
    layout_line(st, st.line.line_max_high);
    st.line.fill_xpos = saved;
}

void print_linear(EscposState& st, int symbology, const std::string& data) {
    st.bar.symbology = symbology;
    st.bar.pdata = data.substr(0, SYMBOL_DATA_BYTES);
    int scale = std::max(1, int(st.bar.scale));
    // Interleaved 2 of 5 is drawn narrower, on whole dots.
    int module = symbology == BARCODE_ITF14 ? std::max(1, int(std::lround(0.7 * st.bar.scale))) : scale;
    SymbolLayout layout;
    layout.symbology = symbology;
    layout.module_dots = module;
    layout.height = double(st.bar.height) / module;
    SymbolDots dots;
    std::string text;
    if (!encode_and_rasterise(st, layout, st.bar.pdata, 0, dots, &text)) return;
    st.bar.pdata = text.substr(0, SYMBOL_DATA_BYTES);
    if (st.bar.hri_pos == 1 || st.bar.hri_pos == 3) show_hri(st, dots.width, st.bar.pdata);
    place_symbol(st, dots);
    if (st.bar.hri_pos == 2 || st.bar.hri_pos == 3) show_hri(st, dots.width, st.bar.pdata);
}

// A form: bytes up to NUL, the first `keep` kept. Number pairs: every byte becomes two digits
// and a NUL ends the data only after 14 bytes.
std::string a_form(EscposState& st, size_t keep, bool pairs) {
    std::string data;
    for (long read = 0;; ++read) {
        int b = param(st);
        if (b == 0 && (!pairs || read > 14)) break;
        if (pairs) {
            if (b > 99) continue;  // not a pair of digits
            if (data.size() + 2 <= keep) {
                data += char('0' + b / 10);
                data += char('0' + b % 10);
            }
        } else if (data.size() < keep) {
            data += char(b);
        }
    }
    return data;
}

// CODE128 with code set selectors: the data ends early at a byte its code set does not take;
// the rest of the n bytes is decoded as new input. Without a leading selector nothing is kept.
std::string code128_sets(EscposState& st, int n) {
    std::string text;
    int set = 0;
    for (int read = 0; read < n;) {
        int b = param(st);
        ++read;
        if (b == '{') {
            if (read >= n) break;
            int s = param(st);
            ++read;
            if (s == 'A' || s == 'B' || s == 'C') {
                set = s;
                continue;
            }
            if (s == '{' && set == 'B') {
                text += '{';
                continue;
            }
            break;
        }
        if (set == 'A') {
            if (b >= 0x60) break;
            if (b >= 0x20) text += char(b);
        } else if (set == 'B') {
            if (b < 0x20 || b >= 0x80) break;
            if (b != 0x7f) text += char(b);
        } else if (set == 'C') {
            if (b >= 100) break;
            text += char('0' + b / 10);
            text += char('0' + b % 10);
        } else {
            break;  // no code set selected
        }
        if (text.size() > 254) text.resize(254);
    }
    return text;
}

struct LinearKind {
    int symbology;
    size_t keep;
};

// GS k m A forms 0..6 and B forms 65..71, in this order.
const LinearKind LINEAR[7] = {
    {BARCODE_UPCA, 11}, {BARCODE_UPCE, 5},  {BARCODE_EANX, 12},   {BARCODE_EANX, 7},
    {BARCODE_CODE39, 254}, {BARCODE_ITF14, 13}, {BARCODE_CODABAR, 254},
};

// GS k m ...
void print_bar_code(EscposState& st) {
    int m = param(st);
    if (m >= 0 && m <= 6) {
        std::string data = a_form(st, LINEAR[m].keep, false);
        print_linear(st, LINEAR[m].symbology, data);
    } else if (m == 7) {
        std::string data = a_form(st, 255, false);
        print_linear(st, st.bar.symbology, data);
    } else if (m == 8) {
        print_linear(st, BARCODE_CODE128, a_form(st, 254, true));
    } else if (m == 24) {
        print_linear(st, BARCODE_CODE128, a_form(st, 254, false));
    } else if (m == 73) {
        std::string text = code128_sets(st, param(st));
        if (!text.empty()) print_linear(st, BARCODE_CODE128, text);
    } else if (m >= 65 && m <= 74) {
        int n = param(st);
        std::string data;
        for (int i = 0; i < n; ++i) {
            int b = param(st);
            if (data.size() < 254) data += char(b);
        }
        if (m <= 71) {
            const LinearKind& k = LINEAR[m - 65];
            if (data.size() > k.keep) data.resize(k.keep);
            print_linear(st, k.symbology, data);
        } else if (m == 72) {
            print_linear(st, BARCODE_CODE93, data);
        } else {
            // GS1-128: the first two digits are the application identifier.
            st.page.ypos = clamp_page_y(st.page.ypos + 10);
            extend_canvas(st, st.page.ypos);
            std::string ai = "[" + data.substr(0, 2) + (data.size() >= 2 ? "]" : "") + data.substr(std::min<size_t>(2, data.size()));
            print_linear(st, BARCODE_GS1_128, ai);
        }
    }
}

// Symbol data as the encoder gets it: with encoding mode 0 the host's GB18030 text in UTF-8.
std::string symbol_text(const EscposState& st, const std::string& data) {
    if (st.encoding_mode != 0 || data.empty()) return data;
    std::string utf8 = to_utf8("GB18030", reinterpret_cast<const uint8_t*>(data.data()), data.size());
    if (utf8.size() > 2 * data.size()) utf8.resize(2 * data.size());
    return utf8;
}

void print_2d(EscposState& st, const SymbolLayout& layout, const std::string& data, double fit_width = 0) {
    SymbolDots dots;
    if (encode_and_rasterise(st, layout, symbol_text(st, data), fit_width, dots, nullptr)) place_symbol(st, dots);
}

void pdf417_function(EscposState& st, int fn, long l, const uint8_t* p) {
    PDF417_PROPERTIES& s = st.pdf417;
    if (fn == 69) {
        if (l != 4) return;
        if (p[0] == '0' && p[1] >= '0' && p[1] <= '8') s.security_level = p[1] - '0';
        if (p[0] == '1' && p[1] >= 1 && p[1] <= 40) {
            s.security_ratio = p[1];
            s.security_level = 0;
        }
        return;
    }
    if (l != 3) return;
    int n = p[0];
    switch (fn) {
    case 65: if (n <= 30) s.columns_number = n; break;
    case 66: if (n == 0 || (n >= 3 && n <= 90)) s.rows_number = n; break;
    case 67: if (n >= 2 && n <= 8) s.module_width = n; break;
    case 68: if (n >= 2 && n <= 8) s.row_height = n; break;
    case 70: if (n == 0 || n == 1) s.symbology = n == 0 ? BARCODE_PDF417 : BARCODE_PDF417COMP; break;
    case 81:
        if (n == '0') {
            SymbolLayout layout;
            layout.symbology = s.symbology;
            layout.module_dots = std::max(1, int(s.module_width));
            layout.height = double(s.row_height) * s.rows_number;
            layout.option_1 = s.security_level;
            layout.option_2 = s.columns_number;
            print_2d(st, layout, s.pdata);
        }
        break;
    case 82: dbg("Tranmits the size information for the PDF417\r"); break;
    default: break;
    }
}

void qr_function(EscposState& st, int fn, long l, const uint8_t* p) {
    QRCODE_PROPERTIES& s = st.qr;
    if (fn == 65) {
        if (l == 4 && p[1] == 0 && (p[0] == '1' || p[0] == '2')) s.symbology = p[0] == '1' ? BARCODE_MICROQR : BARCODE_QRCODE;
        return;
    }
    if (l != 3) return;
    int n = p[0];
    switch (fn) {
    case 67: if (n >= 1 && n <= 16) s.module_size = n; break;
    case 69: if (n >= '0' && n <= '4') s.security_level = n - '0' + 1; break;
    case 81:
        if (n == '0') {
            SymbolLayout layout;
            layout.symbology = s.symbology;
            layout.module_dots = s.module_size;
            layout.option_1 = s.security_level;
            print_2d(st, layout, s.pdata);
        }
        break;
    case 82: dbg("Tranmits the size information for the QR Code\r"); break;
    default: break;
    }
}

void maxicode_function(EscposState& st, int fn, long l, const uint8_t* p) {
    MAXICODE_PROPERTIES& s = st.maxi;
    if (l != 3) return;
    int n = p[0];
    switch (fn) {
    case 65: s.mode = n >= '0' && n <= '9' ? n - '0' : n; break;
    case 81:
        if (n == '0') {
            SymbolLayout layout;
            layout.symbology = s.symbology;
            layout.module_dots = 2;  // the encoder's own size, scaled to the symbol's printed width
            layout.option_1 = s.mode + 2;
            print_2d(st, layout, s.pdata, MAXICODE_WIDTH_INCHES * st.dpi);
        }
        break;
    case 82: dbg("Tranmits the size information for the MaxiCode\r"); break;
    default: break;
    }
}

// GS ( k pL pH cn fn ...: the declared length counts cn, fn and the parameters; all of it is
// read. Stored data keeps what fits in its buffer.
void setup_print_symbol(EscposState& st) {
    long l = param(st);
    l += 256L * param(st);
    if (l < 2) {
        skip_params(st, l);
        return;
    }
    int cn = param(st);
    int fn = param(st);
    long rest = l - 2;
    if (fn == 80) {
        if (rest == 0) return;
        int m = param(st);
        std::string data;
        for (long i = 1; i < rest; ++i) {
            int b = param(st);
            if (data.size() < SYMBOL_DATA_BYTES) data += char(b);
        }
        if (m != '0' || l <= 3) return;
        if (cn == '0') st.pdf417.pdata = data;
        if (cn == '1') st.qr.pdata = data;
        if (cn == '2') st.maxi.pdata = data;
        return;
    }
    uint8_t p[2]{};
    for (long i = 0; i < rest; ++i) {
        int b = param(st);
        if (i < 2) p[i] = uint8_t(b);
    }
    if (cn == '0') pdf417_function(st, fn, l, p);
    if (cn == '1') qr_function(st, fn, l, p);
    if (cn == '2') maxicode_function(st, fn, l, p);
}
}  // namespace

void add_barcode_commands(CommandTables& t) {
    t.gs['h'] = set_barcode_height;
    t.gs['w'] = set_barcode_width;
    t.gs['H'] = set_hri_pos;
    t.gs['f'] = select_hri_font;
    t.gs['k'] = print_bar_code;
    t.gs_paren['k'] = setup_print_symbol;
}

}  // namespace escpos
