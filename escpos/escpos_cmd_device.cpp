// Status, real-time and device commands: drawer, cutter, mark paper, user setup, macros, NV
// memory and the maker's US commands. Their bytes are read here exactly as the commands define
// them, so that the stream stays in step; what they do outside the page is done by the device
// handlers (one function per command below).
#include "escpos_decoder.h"
#include "escpos_input.h"

namespace escpos {

namespace {
long two_bytes(EscposState& st) {
    int lo = param(st);
    int hi = param(st);
    return lo + 256L * hi;
}

void one_param(EscposState& st) { param(st); }
void no_param(EscposState&) {}

// ESC p m t1 t2
void generate_pulse_2ms_unit(EscposState& st) { skip_params(st, 3); }

bool black_mark(const EscposState& st) { return st.device.currentMarkSeek == 1 || st.device.currentMarkSeek == 2; }

// ESC 0xCC: on black-mark paper an embedded raster block is skipped.
void cut_head(EscposState& st) {
    if (!black_mark(st)) return;
    int b = get_new_char(st);
    if (b == 0x0d) skip_raw(st, 1);
    if (b == 0x1b) skip_raw(st, 4);
    skip_raw(st, 3);
    long x = get_new_char(st);
    x += 256L * get_new_char(st);
    long y = get_new_char(st);
    y += 256L * get_new_char(st);
    skip_raw(st, x * y);
}

// FS ( L pL pH fn m; any other byte after FS ( is dropped.
void black_mark_control(EscposState& st) { skip_params(st, 4); }

// FS g 1 m a1 a2 a3 a4 nL nH d... / FS g 2 m a1 a2 a3 a4 nL nH
void nv_memory(EscposState& st) {
    int fn = param(st);
    if (fn != 1 && fn != 2) return;
    if (param(st) != 0) return;
    long address = 0;
    for (int i = 0; i < 4; ++i) address |= long(param(st)) << (8 * i);
    long k = two_bytes(st);
    if (fn == 1 && address < 1024 && k <= 80 && address + k < 1024) skip_params(st, k);
}

// GS ( A pL pH n m
void execute_test_print(EscposState& st) {
    if (param(st) != 2 || param(st) != 0) return;
    skip_params(st, 2);
}

// GS ( D pL pH m [a b]...: with m = 20, pairs up to the declared length less one; b only
// follows an a of 1 or 2.
void switch_real_time_cmd(EscposState& st) {
    long l = two_bytes(st);
    if (param(st) != 20) return;
    for (long counted = 0; counted < l - 1; counted += 2) {
        int a = param(st);
        if (a == 1 || a == 2) param(st);
    }
}

// GS ( E pL pH fn ...: the declared length counts fn and its parameters.
void set_user_setup(EscposState& st) { skip_params(st, two_bytes(st)); }

// GS ( F pL pH a m nL nH
void set_mark_adjustment(EscposState& st) { skip_params(st, 6); }

// GS ( H pL pH fn m d1 d2 d3 d4
void requset_trans_status(EscposState& st) {
    if (param(st) != 6 || param(st) != 0 || param(st) != '0' || param(st) != '0') return;
    skip_params(st, 4);
}

// GS ( K pL pH fn m
void select_ctrl_method(EscposState& st) {
    if (param(st) != 2 || param(st) != 0) return;
    skip_params(st, 2);
}

// GS ( x: the byte after "(" picks the function.
void gs_paren(EscposState& st) {
    int fn = param(st);
    if (Handler h = command_tables().gs_paren[fn]) h(st);
}

void fs_paren(EscposState& st) {
    int fn = param(st);
    if (Handler h = command_tables().fs_paren[fn]) h(st);
}

// GS : records every byte up to the next GS ':' as the macro.
void macro_definition_switch(EscposState& st) {
    for (;;) {
        int b = param(st);
        if (b != 0x1d) continue;
        if (param(st) == ':') return;
    }
}

// GS ^ r t m
void execute_macro(EscposState& st) { skip_params(st, 3); }

// GS V m [n]: the cut functions that carry a feed amount read it too.
void set_cut_mode(EscposState& st) {
    int m = param(st);
    if (m == '0' || m == '1') m -= '0';
    if (m == 101 || m == 102 || m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) param(st);
}

// GS g 0 m nL nH / GS g 2 m nL nH
void maintenance_counter(EscposState& st) {
    int fn = param(st);
    if (fn == 0 || fn == '0' || fn == 2 || fn == '2') skip_params(st, 3);
}

// US DLE kL kH d... and US DC3 kL kH d...: one dot line.
void draw_one_dotline(EscposState& st) {
    long k = get_new_char(st);
    k += 256L * get_new_char(st);
    skip_raw(st, k);
}

// US SUB 'Z' 'T'
void set_speed_pause(EscposState& st) {
    if (param(st) != 'Z') return;
    param(st);
}

// US GS x m and US RS x m
void speed_hint(EscposState& st) { skip_raw(st, 2); }

// US SP 3 0 n kL kH
void feed_distance(EscposState& st) {
    if (param(st) != 3 || param(st) != 0) return;
    skip_params(st, 3);
}

// US H: four bytes skipped.
void pack_eat(EscposState& st) { skip_raw(st, 4); }
}  // namespace

void add_device_commands(CommandTables& t) {
    t.esc['i'] = no_param;  // partial_cut
    t.esc['p'] = generate_pulse_2ms_unit;
    t.esc['u'] = one_param;  // transmit_drawer_pin_status
    t.esc['v'] = one_param;  // transmit_paper_status
    t.esc['='] = one_param;  // switch_printer
    t.esc['U'] = one_param;  // unidir_print
    t.esc[0xcc] = cut_head;
    t.esc[0xee] = no_param;  // cut_foot
    t.fs['('] = fs_paren;
    t.fs_paren['L'] = black_mark_control;
    t.fs['g'] = nv_memory;
    t.gs[0x0c] = no_param;   // feed_mark_paper
    t.gs[0x1e] = one_param;  // switch_mark_flag
    t.gs['('] = gs_paren;
    t.gs_paren['A'] = execute_test_print;
    t.gs_paren['D'] = switch_real_time_cmd;
    t.gs_paren['E'] = set_user_setup;
    t.gs_paren['F'] = set_mark_adjustment;
    t.gs_paren['H'] = requset_trans_status;
    t.gs_paren['K'] = select_ctrl_method;
    t.gs[':'] = macro_definition_switch;
    t.gs['^'] = execute_macro;
    t.gs['V'] = set_cut_mode;
    t.gs['I'] = one_param;  // transmit_printer_id
    t.gs['a'] = one_param;  // atuomatic_status_back
    t.gs['g'] = maintenance_counter;
    t.gs['r'] = one_param;  // transmit_status
    t.us[0x10] = draw_one_dotline;
    t.us[0x13] = draw_one_dotline;  // draw_one_dotline_zipdata
    t.us[0x1a] = set_speed_pause;
    t.us[0x1d] = speed_hint;  // send_speed_mode
    t.us[0x1e] = speed_hint;  // send_max_speed
    t.us[' '] = feed_distance;
    t.us['H'] = pack_eat;
}

}  // namespace escpos
