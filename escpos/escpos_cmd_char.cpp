// Character commands: fonts, print modes, spacing, code pages, international sets, Chinese mode
// and user-defined characters.
#include "code_pages.h"
#include "escpos_decoder.h"
#include "escpos_settings.h"

#include <algorithm>
#include <cmath>

namespace escpos {

namespace {
int motion_x(const EscposState& st, long n) {
    double v = std::trunc(double(n) * st.set.x_motion_unit);
    return int(std::clamp(v, 0.0, double(PAGE_DOTS)));
}

// ESC SP n
void set_right_space(EscposState& st) {
    int n = motion_x(st, param(st));
    st.eng.right_space = n;
    st.chn.right_space = n;
}

// ESC ! n
void select_font_style(EscposState& st) {
    int n = param(st);
    CHAR_PROPERTIES c = english_font(st, (n & 1) ? ENG_FONT_B : ENG_FONT_A);
    c.cFont.charSet = st.eng.cFont.charSet;
    c.cFont.charGrp = st.eng.cFont.charGrp;
    c.emphasied = n & 0x08;
    c.magnify_height = (n & 0x10) ? 2 : 1;
    c.magnify_width = (n & 0x20) ? 2 : 1;
    c.under_line = (n & 0x80) ? 1 : 0;
    st.eng = c;
}

// ESC % n
void select_user_charactor(EscposState& st) { st.set.use_user_char = param(st) & 1; }

// ESC & y c1 c2 [x d1 ... d(y*x)] ...
void define_user_characters(EscposState& st) {
    int y = param(st);
    if (y != 3) return;
    int c1 = param(st);
    if (c1 < USER_CHAR_FIRST || c1 > USER_CHAR_LAST) return;
    int c2 = param(st);
    if (c2 < c1 || c2 > USER_CHAR_LAST) return;
    for (int code = c1; code <= c2; ++code) {
        int x = param(st);
        USER_CHAR u;
        u.defined = true;
        u.code = uint8_t(code);
        u.height = 24;
        u.dot_width = uint8_t(x > 12 ? 8 : x);
        u.byte_width = uint8_t((u.dot_width + 7) / 8);
        int keep = u.dot_width * 3;
        for (int i = 0; i < y * x; ++i) {
            int d = param(st);
            if (i < keep) u.data[i] = uint8_t(d);
        }
        st.user_chars[size_t(code - USER_CHAR_FIRST)] = u;
    }
}

// ESC - n
void switch_underline(EscposState& st) {
    int n = digit_param(param(st), 2);
    if (n >= 0) st.eng.under_line = uint8_t(n);
}

// ESC ? n
void cancel_defined_char(EscposState& st) {
    int n = param(st);
    if (n >= USER_CHAR_FIRST && n <= USER_CHAR_LAST) st.user_chars[size_t(n - USER_CHAR_FIRST)] = USER_CHAR{};
}

// ESC E n
void switch_emphasized_mode(EscposState& st) {
    bool on = param(st) & 1;
    st.eng.emphasied = on;
    st.chn.emphasied = on;
}

// ESC G n
void switch_double_strike_mode(EscposState& st) {
    bool on = param(st) & 1;
    st.eng.double_strike = on;
    st.chn.double_strike = on;
}

// ESC M n
void select_character_font(EscposState& st) {
    int n = param(st);
    uint8_t grp = st.eng.cFont.charGrp, set = st.eng.cFont.charSet;
    CHAR_PROPERTIES c;
    if (n == 0 || n == '0') {
        c = english_font(st, ENG_FONT_A);
    } else if (n == 1 || n == '1') {
        c = english_font(st, ENG_FONT_B);
    } else if (n == 4) {
        c = english_font(st, ENG_FONT_A);
        c.magnify_width = c.magnify_height = 2;
    } else if (n == 20) {
        c = chinese_font(st, CHN_FONT_24X24);
        c.char_type = ENG_CHAR;
        c.magnify_width = c.magnify_height = 2;
    } else {
        c = english_font(st, ENG_FONT_CUSTOM);
    }
    c.cFont.charGrp = grp;
    c.cFont.charSet = set;
    st.eng = c;
}

// ESC R n
void international_char_set(EscposState& st) {
    int row = international_row(uint8_t(param(st)));
    if (row < 0) return;
    st.eng.cFont.charSet = uint8_t((st.eng.cFont.charSet & ~0x3c) | (row << 2));
}

// ESC V n
void vertical_print(EscposState& st) {
    int n = digit_param(param(st), 2);
    if (n < 0) return;
    double angle = n == 0 ? 0 : -90;
    st.eng.rotate_angle = angle;
    st.chn.rotate_angle = angle;
}

// ESC t n
void select_code_page(EscposState& st) {
    uint8_t grp = code_page_for_esc_t(uint8_t(param(st)));
    st.eng.cFont.charGrp = grp;
    st.emul.codepage_num = grp;
}

// ESC { n
void set_upside_down(EscposState& st) {
    double angle = (param(st) & 1) ? -180 : 0;
    st.eng.rotate_angle = angle;
    st.chn.rotate_angle = angle;
}

// FS ! n
void select_chn_mode(EscposState& st) {
    int n = param(st);
    st.chn.magnify_width = (n & 0x04) ? 2 : 1;
    st.chn.magnify_height = (n & 0x08) ? 2 : 1;
    st.chn.under_line = (n & 0x80) ? 1 : 0;
}

void set_chn_char_mode(EscposState& st) { st.set.chn_char_mode = true; }
void cancel_chn_mode(EscposState& st) { st.set.chn_char_mode = false; }

// FS - n
void turn_chn_underline(EscposState& st) {
    int n = digit_param(param(st), 2);
    if (n < 0) return;
    st.chn.under_line = uint8_t(n);
    st.eng.under_line = uint8_t(n);
}

void define_chn_characters(EscposState&) {}
void select_kanji_system(EscposState& st) { param(st); }

// FS S n1 n2
void set_chn_spacing(EscposState& st) {
    int left = motion_x(st, param(st));
    int right = motion_x(st, param(st));
    st.chn.left_space = left;
    st.chn.right_space = right;
    st.eng.left_space = left / 2;
    st.eng.right_space = (right + left + 1) / 2;
}

// FS W n
void turn_chn_quadruple(EscposState& st) {
    int m = (param(st) & 1) ? 2 : 1;
    st.chn.magnify_width = st.chn.magnify_height = m;
    st.eng.magnify_width = st.eng.magnify_height = m;
}

// GS ! n
void select_char_size(EscposState& st) {
    int n = param(st);
    int h = (n & 7) + 1, w = ((n >> 4) & 7) + 1;
    for (CHAR_PROPERTIES* c : {&st.eng, &st.chn, &st.unicode}) {
        c->magnify_height = h;
        c->magnify_width = w;
    }
}

// GS # n
void select_char_point(EscposState& st) {
    int n = param(st);
    if (n <= 0) return;
    st.eng.point = n;
    st.chn.point = n;
}

void reverse_print_switch(EscposState& st) { st.set.reverse_print_mode = param(st) & 1; }
void turn_smooting_mode(EscposState& st) { st.set.smoothing_mode_on = param(st) & 1; }
}  // namespace

void add_char_commands(CommandTables& t) {
    t.esc[' '] = set_right_space;
    t.esc['!'] = select_font_style;
    t.esc['%'] = select_user_charactor;
    t.esc['&'] = define_user_characters;
    t.esc['-'] = switch_underline;
    t.esc['?'] = cancel_defined_char;
    t.esc['E'] = switch_emphasized_mode;
    t.esc['G'] = switch_double_strike_mode;
    t.esc['M'] = select_character_font;
    t.esc['R'] = international_char_set;
    t.esc['V'] = vertical_print;
    t.esc['t'] = select_code_page;
    t.esc['{'] = set_upside_down;
    t.fs['!'] = select_chn_mode;
    t.fs['&'] = set_chn_char_mode;
    t.fs['-'] = turn_chn_underline;
    t.fs['.'] = cancel_chn_mode;
    t.fs['2'] = define_chn_characters;
    t.fs['C'] = select_kanji_system;
    t.fs['S'] = set_chn_spacing;
    t.fs['W'] = turn_chn_quadruple;
    t.gs['!'] = select_char_size;
    t.gs['#'] = select_char_point;
    t.gs['B'] = reverse_print_switch;
    t.gs['b'] = turn_smooting_mode;
}

}  // namespace escpos
