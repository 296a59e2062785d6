// Status, real-time and device commands: drawer, cutter, mark and label paper, user setup,
// macros, NV memory and the maker's US commands (speed hints, the speed pause, feeds, dot
// lines). Status requests are read and answered by nobody. Slave commands go out as the fixed
// command lines of engine_cmd; key files are edited through the key-file writer; the small
// files under /tmp and the NV files are written in the process.
#include "escpos_commands.h"
#include "escpos_decoder.h"
#include "escpos_device.h"
#include "escpos_input.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_speed.h"
#include "escpos_text.h"
#include "files.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace escpos {

namespace {
long two_bytes(EscposState& st) {
    int lo = param(st);
    int hi = param(st);
    return lo + 256L * hi;
}

void one_param(EscposState& st) { param(st); }
void no_param(EscposState&) {}

bool black_mark(const EscposState& st) { return st.device.currentMarkSeek == 1 || st.device.currentMarkSeek == 2; }

// "/root/engine_cmd <letter and numbers>"
void send_slave(EscposState& st, const std::string& command) {
    if (st.env.shell) st.env.shell(st.env.engine_cmd + " " + command);
}

void sync_files(EscposState& st) {
    if (st.env.shell) st.env.shell("sync");
}

// Characters still waiting in the line buffer belong to the page that ends.
void end_page_with_line(EscposState& st) {
    if (st.line.char_idx > 0) carriage_return(st);
    printout_one_job(st);
}

// ESC p m t1 t2: the drawer pulse is only announced.
void generate_pulse_2ms_unit(EscposState& st) {
    int m = param(st);
    int t1 = param(st);
    int t2 = param(st);
    dbg("Drawer kick-out connector pin #%d,pulse on: %d ms, pulse off: %d ms\r\n", m == 1 || m == '1' ? 5 : 2,
        t1 * 2, t2 * 2);
}

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

// ESC 0xEE: on black-mark paper the page bottom moves back up 24 dots.
void cut_foot(EscposState& st) {
    if (!black_mark(st)) return;
    st.job.canvas_height = std::max(0.0, st.job.canvas_height - 24);
    st.page.ypos = st.job.canvas_height;
}

// GS FF: mark and label paper end the page; black-mark paper then feeds to the next mark.
void feed_mark_paper(EscposState& st) {
    if (st.device.currentMarkSeek == 0) return;
    end_page_with_line(st);
    if (black_mark(st)) {
        dbg("send F 1****");
        send_slave(st, "F 1");
    }
}

// FS ( L pL pH fn m
void black_mark_control(EscposState& st) {
    skip_params(st, 3);
    int m = param(st);
    if (!black_mark(st)) return;
    if (m != 0) {
        end_page_with_line(st);
        send_slave(st, "F 2");
    } else {
        send_slave(st, "F 1");
    }
}

// GS V m [n]: cutting itself has no effect; 101 and 102 end the page on black-mark paper. The
// cut functions that carry a feed amount read it.
void set_cut_mode(EscposState& st) {
    int m = param(st);
    if (m == '0' || m == '1') m -= '0';
    if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) param(st);
    if (m == 101 || m == 102) {
        param(st);
        if (black_mark(st)) {
            end_page_with_line(st);
            send_slave(st, "F 2");
        }
    }
}

// Unit names become file names: letters, digits and '_' only.
bool usable_units(const std::string& units) {
    if (units.empty()) return false;
    return std::all_of(units.begin(), units.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

// GS RS n: the mark seek mode; the device key file keeps it (every configMarkSeek that held the
// old mode gets the new one), then the slave is told.
void switch_mark_flag(EscposState& st) {
    int n = param(st);
    if (n < 0 || n > 3) return;
    int old = st.device.currentMarkSeek;
    st.device.currentMarkSeek = n;
    check_conti_mode(st);
    std::string units = read_units(units_file_in(st.env.home));
    if (usable_units(units)) {
        std::string path = device_config_path_in(st.env.home, units);
        KeyFile kf;
        if (kf.load(path)) {
            bool changed = false;
            gsize count = 0;
            gchar** groups = g_key_file_get_groups(kf.raw(), &count);
            for (gsize i = 0; i < count; ++i) {
                gchar* value = g_key_file_get_value(kf.raw(), groups[i], "configMarkSeek", nullptr);
                if (value && std::string(value) == std::to_string(old)) {
                    kf.set_value(groups[i], "configMarkSeek", std::to_string(n));
                    changed = true;
                }
                g_free(value);
            }
            g_strfreev(groups);
            if (changed && !kf.save(path)) dbg("Can't create the file : %s\r\n", path.c_str());
        }
    }
    send_slave(st, "M 0");
}

// GS ( F pL pH a m nL nH: a mark distance, negative when m is not 0.
void set_mark_adjustment(EscposState& st) {
    skip_params(st, 2);
    int a = param(st);
    int m = param(st);
    long v = two_bytes(st);
    if (m != 0) v = -v;
    v = std::clamp(v, -40L, 2040L);
    if (a == 1)
        st.device.currentMarkprint = int(v);
    else
        st.device.currentMarkcut = int(v);
    write_mark_config(st);
    send_slave(st, "E 0");
}

// "%c\n" into a speed hint file, written in place: the print engine reads it when it is closed.
void write_hint(EscposState& st, const std::string& dir, const char* name, char digit) {
    mkdir(dir.c_str(), 0777);
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%c\n", digit);
    std::fclose(f);
    sync_files(st);
}

// US GS x m
void send_speed_mode(EscposState& st) {
    get_new_char(st);
    int m = get_new_char(st);
    mkdir(st.env.speedmode_dir.c_str(), 0777);
    if (m == 0 || m == 1) write_hint(st, st.env.speedmode_dir, "speedmode.txt", char('0' + m));
}

// US RS x m: a speed cap, and how the paper is streamed with it.
void send_max_speed(EscposState& st) {
    struct Streaming {
        int delay;
        int lengths[4];
    };
    static const Streaming table[6] = {{200, {500, 120, 120, 120}}, {50, {2, 2, 2, 2}},     {250, {200, 16, 16, 16}},
                                       {250, {300, 120, 120, 120}}, {250, {200, 32, 32, 32}}, {200, {200, 40, 40, 40}}};
    get_new_char(st);
    int m = get_new_char(st);
    if (m > 5 && m != 255) m = 5;
    mkdir(st.env.maxspeed_dir.c_str(), 0777);
    if (m == 255) {
        write_hint(st, st.env.maxspeed_dir, "maxspeed.txt", '9');
        return;
    }
    st.data_delay = table[m].delay;
    std::copy(std::begin(table[m].lengths), std::end(table[m].lengths), st.print_len_table);
    if (m == 0) {
        write_hint(st, st.env.speedmode_dir, "speedmode.txt", '1');
        write_hint(st, st.env.maxspeed_dir, "maxspeed.txt", '9');
    } else {
        write_hint(st, st.env.maxspeed_dir, "maxspeed.txt", char('0' + m));
        write_hint(st, st.env.speedmode_dir, "speedmode.txt", '0');
    }
}

// US SUB 'Z' 'T': the page so far goes out, then the print engine is asked to drain
// ("/tmp/speed_switch_pause/pause") and the decoder waits until it has removed the file.
void set_speed_pause(EscposState& st) {
    if (param(st) != 'Z') return;
    if (param(st) != 'T') return;
    data_empty_print(st);
    mkdir(st.env.speed_pause_dir.c_str(), 0777);
    std::string path = st.env.speed_pause_dir + "/pause";
    SpeedPauseWatch* watch = st.env.speed_watch;
    // A file left from before would never be seen as new by the print engine.
    unlink(path.c_str());
    if (watch) watch->arm();
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fputs("0\n", f);
    std::fclose(f);
    if (!watch) return;
    for (long waited = 10; !watch->wait_released(std::chrono::seconds(10)); waited += 10)
        std::fprintf(stderr, "escpos_interp: the print engine has not removed %s for %ld s; waiting\n", path.c_str(),
                     waited);
}

// US SP 3 0 n kL kH: a paper feed by the slave.
void feed_distance(EscposState& st) {
    if (param(st) != 3 || param(st) != 0) return;
    int n = param(st);
    int kl = param(st);
    int kh = param(st);
    if (n == 2 || n == 3) send_slave(st, "F 5 " + std::to_string(kh) + " " + std::to_string(kl));
    if (n == 4) send_slave(st, "F 6 " + std::to_string(kh) + " " + std::to_string(kl));
}

// US H: four bytes skipped.
void pack_eat(EscposState& st) { skip_raw(st, 4); }

// One row of dots at the fill position; the print position moves down one dot.
void put_dot_line(EscposState& st, const uint8_t* line, int bytes) {
    double y = st.page.ypos;
    if (bytes > 0) paint_bitmap(st, line, 8 * bytes, 1, bytes, st.line.fill_xpos, y);
    st.page.ypos = clamp_page_y(y + 1);
    st.line.fill_xpos = st.page.left_margin;
    extend_canvas(st, st.page.ypos);
}

// Reads k = kL + 256 kH raw bytes; the first DOTLINE_BYTES are kept.
int read_dot_line(EscposState& st, uint8_t* kept) {
    long k = get_new_char(st);
    k += 256L * get_new_char(st);
    int n = 0;
    for (long i = 0; i < k; ++i) {
        int b = get_new_char(st);
        if (n < DOTLINE_BYTES) kept[n++] = uint8_t(b);
    }
    return n;
}

// US DLE kL kH d...: the host's bytes, leftmost dot first.
void draw_one_dotline(EscposState& st) {
    uint8_t line[DOTLINE_BYTES];
    int n = read_dot_line(st, line);
    for (int i = 0; i < n; ++i) line[i] = bit_reverse(line[i]);
    put_dot_line(st, line, n);
}

// US DC3 kL kH d...: nibble run-length coded, already in the canvas' bit order.
void draw_one_dotline_zipdata(EscposState& st) {
    uint8_t zip[DOTLINE_BYTES];
    int n = read_dot_line(st, zip);
    uint8_t line[DOTLINE_BYTES];
    put_dot_line(st, line, line_unzip(zip, n, line));
}

// GS : records every byte up to the next GS ':' into the macro file (the closing zero after
// them). The recording keeps at most MACRO_BYTES - 1 bytes; the rest is read.
void macro_definition_switch(EscposState& st) {
    FILE* f = std::fopen(st.env.user_macro.c_str(), "wb");
    if (!f) {
        dbg("Can't create the file : %s\r\n", st.env.user_macro.c_str());
        return;
    }
    st.set.macro_def_state = true;
    std::string macro;
    auto keep = [&](int b) {
        if (macro.size() < size_t(MACRO_BYTES - 1)) macro += char(b);
    };
    for (;;) {
        int b = param(st);
        if (b != 0x1d) {
            keep(b);
            continue;
        }
        int c = param(st);
        if (c == ':') break;
        keep(b);
        keep(c);
    }
    macro += '\0';
    std::fwrite(macro.data(), 1, macro.size(), f);
    std::fclose(f);
    sync_files(st);
    st.set.macro_def_state = false;
}

// Plays the macro once: its bytes go through the printable character path.
void play_macro(EscposState& st, const std::string& macro) {
    st.replay = macro;
    st.replay_pos = 0;
    while (st.replay_pos < st.replay.size()) {
        int b = get_datas(st);
        pirnt_characters(st, uint8_t(b));
    }
    st.replay.clear();
    st.replay_pos = 0;
}

// GS ^ r t m: the recorded macro r times, t x 100 ms apart (m = 0), or once (m = 1: the panel
// button it would wait for never reaches the interpreter).
void execute_macro(EscposState& st) {
    int r = param(st);
    int t = param(st);
    int m = param(st);
    std::ifstream in(st.env.user_macro, std::ios::binary);
    if (!in) {
        dbg("Can't open the file : %s\r\n", st.env.user_macro.c_str());
        return;
    }
    std::string macro(size_t(MACRO_BYTES), '\0');
    in.read(macro.data(), MACRO_BYTES);
    macro.resize(size_t(in.gcount()));
    // The closing zero is not part of the macro.
    if (!macro.empty() && macro.back() == '\0') macro.pop_back();
    st.macro.execute_times = r;
    st.macro.interval_times = t * 100;
    if (m == 0) {
        dbg("Execute macro r times continuously at an interval of %d ms.", st.macro.interval_times);
        for (int i = 0; i < r; ++i) {
            if (i > 0 && st.env.sleep) st.env.sleep(st.macro.interval_times);
            play_macro(st, macro);
        }
    } else if (m == 1) {
        dbg("After waiting %d ms,Execute macro r times continuously after button is pressed .",
            st.macro.interval_times);
        play_macro(st, macro);
    }
}

// FS g 1 m a1 a2 a3 a4 nL nH d... / FS g 2 m a1 a2 a3 a4 nL nH: NV user memory. The address
// is four bytes: it and its sum with the length are worked out in 64 bits.
void nv_memory(EscposState& st) {
    int fn = param(st);
    if (fn != 1 && fn != 2) return;
    if (param(st) != 0) return;
    uint64_t address = 0;
    for (int i = 0; i < 4; ++i) address |= uint64_t(param(st)) << (8 * i);
    uint64_t k = uint64_t(two_bytes(st));
    if (!(address < NV_MEMORY_BYTES && k <= NV_MEMORY_CHUNK && address + k < NV_MEMORY_BYTES)) return;
    std::string memory = read_nv_memory(st);
    if (fn == 1) {
        for (uint64_t i = 0; i < k; ++i) memory[size_t(address + i)] = char(param(st));
        std::string folder = st.env.nv_memory.substr(0, st.env.nv_memory.rfind('/'));
        if (!folder.empty()) mkdir(folder.c_str(), 0755);
        if (!write_file_whole(st.env.nv_memory, memory)) dbg("Can't create the file : %s\r\n", st.env.nv_memory.c_str());
    } else if (!write_file_whole(st.env.send_data, memory.substr(size_t(address), size_t(k)))) {
        dbg("Can't create the file : %s\r\n", st.env.send_data.c_str());
    }
    sync_files(st);
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
        if (a == 1 || a == 2) {
            int b = param(st);
            if (a == 1) st.set.DLE_DC4_f1_enable = b != 0;
            if (a == 2) st.set.DLE_DC4_f2_enable = b != 0;
        }
    }
}

// GS ( E pL pH fn ...: user setup; the declared length counts fn and its parameters, all read.
void set_user_setup(EscposState& st) {
    long l = two_bytes(st);
    if (l <= 0) return;
    int fn = param(st);
    int first[3] = {-1, -1, -1};
    int group[3]{};
    for (long i = 0; i < l - 1; ++i) {
        int b = param(st);
        if (i < 3) first[i] = b;
        if (fn == 5 && st.set.user_setting_mode) {
            group[i % 3] = b;
            if (i % 3 == 2) {
                int value = group[1] + 256 * group[2];
                if (group[0] == 5) st.user_density = value;
                if (group[0] == 6) st.user_speed = value;
            }
        }
    }
    if (fn == 1 && first[0] == 'I' && first[1] == 'N') {
        st.set.user_setting_mode = true;
        dbg("Change into user setting mode\r");
    } else if (fn == 2 && first[0] == 'O' && first[1] == 'U' && first[2] == 'T') {
        st.set.user_setting_mode = false;
        dbg("End the user setting mode session\r");
    }
}

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

// GS g 0 m nL nH / GS g 2 m nL nH
void maintenance_counter(EscposState& st) {
    int fn = param(st);
    if (fn == 0 || fn == '0' || fn == 2 || fn == '2') skip_params(st, 3);
}
}  // namespace

int line_unzip(const uint8_t* in, int n, uint8_t* out) {
    const int total = 2 * std::max(n, 0);
    auto nibble = [&](int i) { return i % 2 == 0 ? in[i / 2] & 0x0f : in[i / 2] >> 4; };
    std::memset(out, 0, DOTLINE_BYTES);
    int produced = 0;
    auto emit = [&](int v) {
        if (produced >= 2 * DOTLINE_BYTES) return;
        out[produced / 2] |= uint8_t(produced % 2 == 0 ? v : v << 4);
        ++produced;
    };
    for (int i = 0; i < total && produced < 2 * DOTLINE_BYTES;) {
        int v = nibble(i++);
        if (v == 0x0a) {
            if (i >= total) break;
            emit(nibble(i++));
        } else if (v == 0x05) {
            if (i + 2 > total) break;
            int f = nibble(i++);
            int g = nibble(i++);
            int count = (f & 7) * 16 + g;
            int value = f & 8 ? 0x0f : 0x00;
            for (int c = 0; c < count; ++c) emit(value);
        } else {
            emit(v);
        }
    }
    return produced / 2;
}

bool write_mark_config(EscposState& st) {
    std::string units = read_units(units_file_in(st.env.home));
    if (!usable_units(units)) return false;
    double divisor = units == "inch" ? 203 : 8;
    std::string path = st.env.home + "/" + units + "_mark_config.cfg";
    KeyFile kf;
    kf.load(path);
    kf.set_string("Blackmark", "mark_to_head", std::to_string(int(std::ceil(st.device.currentMarkprint / divisor))));
    kf.set_string("Blackmark", "mark_to_cut", std::to_string(int(std::ceil(st.device.currentMarkcut / divisor))));
    return kf.save(path);
}

std::string read_nv_memory(const EscposState& st) {
    std::string memory(size_t(NV_MEMORY_BYTES), '\xff');
    std::ifstream in(st.env.nv_memory, std::ios::binary);
    if (!in) {
        dbg("Can't open the file : %s\r\n", st.env.nv_memory.c_str());
        return memory;
    }
    in.read(memory.data(), NV_MEMORY_BYTES);
    return memory;
}

void add_device_commands(CommandTables& t) {
    t.esc['i'] = no_param;  // partial_cut
    t.esc['p'] = generate_pulse_2ms_unit;
    t.esc['u'] = one_param;  // transmit_drawer_pin_status
    t.esc['v'] = one_param;  // transmit_paper_status
    t.esc['='] = one_param;  // switch_printer
    t.esc['U'] = one_param;  // unidir_print
    t.esc[0xcc] = cut_head;
    t.esc[0xee] = cut_foot;
    t.fs['('] = fs_paren;
    t.fs_paren['L'] = black_mark_control;
    t.fs['g'] = nv_memory;
    t.gs[0x0c] = feed_mark_paper;
    t.gs[0x1e] = switch_mark_flag;
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
    t.us[0x13] = draw_one_dotline_zipdata;
    t.us[0x1a] = set_speed_pause;
    t.us[0x1d] = send_speed_mode;
    t.us[0x1e] = send_max_speed;
    t.us[' '] = feed_distance;
    t.us['H'] = pack_eat;
}

}  // namespace escpos
