// Barcodes and two-dimensional symbols. Their data is read here exactly as the commands define
// it, so that the stream stays in step; encoding and placing the symbols is done by the
// barcode handlers (one function per command below).
#include "escpos_decoder.h"

#include <string>

namespace escpos {

namespace {
void set_barcode_height(EscposState& st) { param(st); }
void set_barcode_width(EscposState& st) { param(st); }
void set_hri_pos(EscposState& st) { param(st); }
void select_hri_font(EscposState& st) { param(st); }

// A form: bytes up to NUL (number pairs: a NUL ends the data only after 14 bytes).
std::string a_form(EscposState& st, bool pairs) {
    std::string data;
    for (long read = 0;; ++read) {
        int b = param(st);
        if (b == 0 && (!pairs || read > 14)) break;
        if (data.size() < 512) data += char(b);
    }
    return data;
}

// CODE128 with code set selectors: the data ends early at a byte its code set does not take;
// the rest of the n bytes is decoded as new input.
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
    }
    return text;
}

// GS k m ...
void print_bar_code(EscposState& st) {
    int m = param(st);
    if ((m >= 0 && m <= 7) || m == 24) {
        a_form(st, false);
    } else if (m == 8) {
        a_form(st, true);
    } else if (m == 73) {
        code128_sets(st, param(st));
    } else if (m >= 65 && m <= 74) {
        skip_params(st, param(st));
    }
}

// GS ( k pL pH cn fn ...: the declared length counts cn, fn and the parameters.
void setup_print_symbol(EscposState& st) {
    long l = param(st);
    l += 256L * param(st);
    skip_params(st, l);
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
