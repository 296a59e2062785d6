// Page commands: initialising the printer, page mode (ESC L, ESC S, ESC T, ESC W, GS $, GS \),
// form feed and the private page end.
#include "escpos_commands.h"
#include "escpos_decoder.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_text.h"

#include <cmath>

namespace escpos {

void form_feed(EscposState& st) {
    st.line.fill_xpos = st.page.left_margin;
    bool black_mark = st.device.currentMarkSeek == 1 || st.device.currentMarkSeek == 2;
    if (!st.page.page_mode && !black_mark) return;
    // Characters not yet drawn belong to the page that ends.
    if (st.line.char_idx > 0) carriage_return(st);
    if (printout_one_job(st) == 0) {
        // Nothing to print: page mode ends all the same.
        st.page.page_mode = false;
    }
    if (black_mark && st.env.shell) st.env.shell(st.env.engine_cmd + " F 1");
}

void initialize_printer(EscposState& st) {
    printout_one_job(st);
    init_escpos_setting(st);
    init_all_properties(st);
    init_horizontal_table(st);
    init_all_buffers(st);
}

namespace {
long two_bytes(EscposState& st) {
    int lo = param(st);
    int hi = param(st);
    return lo + 256L * hi;
}

void select_page_mode(EscposState& st) { st.page.page_mode = true; }
void select_standard_mode(EscposState& st) { st.page.page_mode = false; }

// ESC T n
void select_print_dir(EscposState& st) {
    int n = digit_param(param(st), 4);
    if (n >= 0) st.page.page_print_dir = n;
}

// ESC W xL xH yL yH dxL dxH dyL dyH: stored only.
void set_print_area(EscposState& st) {
    long x = two_bytes(st), y = two_bytes(st), dx = two_bytes(st), dy = two_bytes(st);
    st.page.page_org_x = int(x);
    st.page.page_org_y = int(y);
    st.page.page_dimension_x = int(std::trunc(double(dx) * st.set.x_motion_unit));
    st.page.page_dimension_y = int(std::trunc(double(dy) * st.set.y_motion_unit));
}

// The vertical position of page mode. The page keeps what is already drawn on it: its bottom
// never moves up.
void set_page_position(EscposState& st, double value) {
    value = clamp_page_y(value);
    if (st.page.page_print_dir == 1 || st.page.page_print_dir == 3)
        st.page.xpos = value;
    else
        st.page.ypos = value;
    extend_canvas(st, value);
}

// GS $ nL nH
void set_abs_vert_pos(EscposState& st) {
    long p = two_bytes(st);
    if (!st.page.page_mode) return;
    if (st.line.char_idx > 0) layout_line(st, 0);
    bool across = st.page.page_print_dir == 1 || st.page.page_print_dir == 3;
    set_page_position(st, double(p) * (across ? st.set.x_motion_unit : st.set.y_motion_unit));
}

// GS \ nL nH
void set_rel_vert_pos(EscposState& st) {
    long p = two_bytes(st);
    if (!st.page.page_mode) return;
    bool across = st.page.page_print_dir == 1 || st.page.page_print_dir == 3;
    if (across)
        set_page_position(st, st.page.xpos + double(p) * st.set.x_motion_unit);
    else
        set_page_position(st, st.page.ypos + std::trunc(double(p) * st.set.y_motion_unit));
}

// ESC 0xFF
void long_doc_page_end(EscposState& st) { printout_one_job(st); }
}  // namespace

void add_page_commands(CommandTables& t) {
    t.esc['@'] = initialize_printer;
    t.esc['L'] = select_page_mode;
    t.esc['S'] = select_standard_mode;
    t.esc['T'] = select_print_dir;
    t.esc['W'] = set_print_area;
    t.esc[0xff] = long_doc_page_end;
    t.gs['$'] = set_abs_vert_pos;
    t.gs['\\'] = set_rel_vert_pos;
}

}  // namespace escpos
