// Print position commands: feeds, line spacing, tabs, absolute and relative moves,
// justification, left margin, printable width and motion units.
#include "escpos_decoder.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_text.h"

#include <algorithm>
#include <cmath>

namespace escpos {

namespace {
long two_bytes(EscposState& st) {
    int lo = param(st);
    int hi = param(st);
    return lo + 256L * hi;
}

int motion(double unit, long n, int limit) {
    double v = std::trunc(double(n) * unit);
    return int(std::clamp(v, 0.0, double(limit)));
}

// ESC FF: the line is printed and fed; the page goes on.
void print_page_data(EscposState& st) {
    layout_line(st, st.line.line_spacing);
    st.line.fill_xpos = st.page.left_margin;
}

// ESC $ nL nH
void set_abs_pos(EscposState& st) {
    st.line.fill_xpos = motion(st.set.x_motion_unit, two_bytes(st), st.page.printable_width);
}

// ESC 2
void select_default_line_spacing(EscposState& st) {
    st.line.line_spacing = 30;
    st.page.line_spacing = 30;
}

// ESC 3 n
void set_line_spacing(EscposState& st) {
    int n = motion(st.set.y_motion_unit, param(st), PAGE_MAX_ROWS);
    st.line.line_spacing = n;
    st.page.line_spacing = n;
}

void carriage_gohome(EscposState&) {}

// ESC D n1 ... nk NUL
void set_ht_pos(EscposState& st) {
    for (int& p : st.tabs.pos) p = 0;
    st.tabs.index = 0;
    int previous = 0;
    for (int i = 0; i < TAB_STOPS; ++i) {
        int n = param(st);
        if (n == 0) return;
        int stop = n * st.eng.char_width;
        if (stop < previous) return;
        st.tabs.pos[i] = stop;
        previous = stop;
    }
}

// ESC J n: n dots, not scaled.
void print_feed(EscposState& st) {
    int n = param(st);
    layout_line(st, n);
    st.line.fill_xpos = st.page.left_margin;
}

// Reverse feeds: the line is drawn (its height counted on the page as for CR), then the print
// position moves up, never above the top of the page.
void reverse_feed(EscposState& st, int dots) {
    if (st.line.char_idx > 0 && st.job.canvas_height == st.page.ypos)
        extend_canvas(st, st.page.ypos + st.line.line_max_high);
    layout_line(st, -dots);
    st.line.fill_xpos = st.page.left_margin;
}

// ESC K n
void back_feed(EscposState& st) { reverse_feed(st, param(st)); }

// ESC \ nL nH: always to the right.
void relative_move(EscposState& st) {
    int move = motion(st.set.x_motion_unit, two_bytes(st), PAGE_DOTS);
    st.line.fill_xpos = std::min(st.line.fill_xpos + move, st.page.printable_width);
}

// ESC a n
void select_justification(EscposState& st) {
    int n = digit_param(param(st), 2);
    if (n < 0) return;
    st.line.align = n;
    st.page.align = n;
}

// ESC d n
void print_feed_lines(EscposState& st) {
    int n = param(st);
    layout_line(st, n * st.line.line_spacing);
    st.line.fill_xpos = st.page.left_margin;
}

// ESC e n
void print_back_lines(EscposState& st) { reverse_feed(st, param(st) * st.line.line_spacing); }

// GS L nL nH: standard mode only (page mode reads nothing).
void set_left_margin(EscposState& st) {
    if (st.page.page_mode) return;
    int m = motion(st.set.x_motion_unit, two_bytes(st), PAGE_DOTS);
    st.page.left_margin = m;
    st.line.fill_xpos = m;
}

// GS P x y: a unit of 0 keeps the one before.
void set_motion_unit(EscposState& st) {
    int x = param(st);
    int y = param(st);
    if (x > 0) st.set.x_motion_unit = double(st.dpi) / x;
    if (y > 0) st.set.y_motion_unit = double(st.dpi) / y;
}

// GS W nL nH: the right edge, standard mode only.
void set_printable_width(EscposState& st) {
    long n = two_bytes(st);
    if (st.page.page_mode) return;
    int edge = std::min(st.page.left_margin + motion(st.set.x_motion_unit, n, PAGE_DOTS), PAGE_DOTS);
    st.page.right_margin = edge;
    st.line.printable_width = edge;
}
}  // namespace

void add_position_commands(CommandTables& t) {
    t.esc[0x0c] = print_page_data;
    t.esc['$'] = set_abs_pos;
    t.esc['2'] = select_default_line_spacing;
    t.esc['3'] = set_line_spacing;
    t.esc['<'] = carriage_gohome;
    t.esc['D'] = set_ht_pos;
    t.esc['J'] = print_feed;
    t.esc['K'] = back_feed;
    t.esc['\\'] = relative_move;
    t.esc['a'] = select_justification;
    t.esc['d'] = print_feed_lines;
    t.esc['e'] = print_back_lines;
    t.gs['L'] = set_left_margin;
    t.gs['P'] = set_motion_unit;
    t.gs['W'] = set_printable_width;
}

}  // namespace escpos
