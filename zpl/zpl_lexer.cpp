// ZPL command lexer and command table.
#include "zpl_lexer.h"

#include "image_builder.h"
#include "zpl_barcodes.h"
#include "zpl_graphics.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_objects.h"

#include <glib.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

ONE_LINE_COMMAND line_char{};

namespace {
constexpr long PAR_LIMIT = 1000000;

// A prefix or delimiter must stay visible to the parameter scan, which drops control bytes.
bool usable_prefix(int c) { return c >= 0x20; }

struct Command {
    char c1, c2;
    void (*handler)();
};

void no_effect() {}

// Commands after the format prefix (the barcodes, ^B<letter>, have their own table).
const Command format_commands[] = {
    {'C', 'C', change_fprefix}, {'C', 'D', change_pdelimiter}, {'C', 'F', default_font},
    {'C', 'I', change_code},    {'C', 'T', change_cprefix},    {'C', 'W', font_ident},
    {'D', 'F', download_format},
    {'F', 'B', field_block},
    {'F', 'D', fd_data},        {'F', 'H', read_hex},          {'F', 'N', fn_data},
    {'F', 'O', fo_location},    {'F', 'R', field_reverse},     {'F', 'S', fs_dataend},
    {'F', 'T', ft_loc},         {'F', 'V', fd_data},           // field variable: data as ^FD
    {'F', 'W', fw_orientation},
    {'G', 'B', graphic_box},    {'G', 'C', graphic_circle},    {'G', 'D', graphic_diagonalline},
    {'G', 'E', graphic_ellipse}, {'G', 'F', graphic_field},
    {'I', 'D', del_object},     {'I', 'L', image_load},        {'I', 'M', image_move},
    {'I', 'S', image_save},
    {'J', 'M', set_dot_inch},
    {'L', 'H', lab_home},       {'L', 'L', lab_len},           {'L', 'R', label_reverse},
    {'M', 'D', media_darkness},
    {'P', 'O', print_orientation},
    {'P', 'Q', no_effect},      // print quantity: one label is printed per format
    {'P', 'W', prn_width},
    {'X', 'A', start_zpl_job},  {'X', 'F', recall_format},     {'X', 'G', recall_grphic},
    {'X', 'Z', end_zpl_job},
};

// Commands after the control prefix (first letter upper case as written).
const Command control_commands[] = {
    {'C', 'C', change_fprefix}, {'C', 'D', change_pdelimiter}, {'C', 'F', default_font},
    {'C', 'I', change_code},    {'C', 'T', change_cprefix},    {'C', 'W', font_ident},
    {'D', 'G', dgdata},         {'S', 'D', set_contrast},
};

template <size_t N>
void dispatch(const Command (&table)[N], int c1, int c2) {
    for (const Command& cmd : table) {
        if (cmd.c1 == c1 && cmd.c2 == c2) {
            cmd.handler();
            return;
        }
    }
}
}  // namespace

void clear_line_char() {
    line_char.com_char[0] = '\0';
    line_char.com_num = 0;
    line_char.par[0] = '\0';
}

void add_line() {
    size_t n = 0;
    for (;;) {
        int c = gech();
        if (c < 0) break;
        if (c == config.dfprefix) {
            global.symbol = config.dfprefix;
            break;
        }
        if (n < sizeof line_char.com_char - 1) line_char.com_char[n++] = static_cast<char>(c);
    }
    line_char.com_char[n] = '\0';
    line_char.com_num = 0;
}

const char* eat_one_par(uint8_t end) {
    const char* s = line_char.com_char;
    int pos = line_char.com_num;
    if (pos < 0 || pos >= int(sizeof line_char.com_char)) pos = int(std::strlen(s));
    size_t n = 0;
    while (s[pos] != '\0' && static_cast<uint8_t>(s[pos]) != end) {
        if (n < sizeof line_char.par - 1) line_char.par[n++] = s[pos];
        ++pos;
    }
    line_char.par[n] = '\0';
    if (s[pos] != '\0') ++pos;  // past the end byte
    line_char.com_num = pos;
    return line_char.par;
}

int par_to_int(const char* s) {
    errno = 0;
    long v = std::strtol(s, nullptr, 10);
    if (v > PAR_LIMIT) v = PAR_LIMIT;
    if (v < -PAR_LIMIT) v = -PAR_LIMIT;
    return static_cast<int>(v);
}

const char* next_par() { return eat_one_par(config.par_delim); }
int next_par_int() { return par_to_int(next_par()); }

void change_fprefix() {
    int c = get_one_char();
    if (c >= 0 && usable_prefix(c)) config.dfprefix = static_cast<uint8_t>(c);
}

void change_cprefix() {
    int c = get_one_char();
    if (c >= 0 && usable_prefix(c)) config.dcprefix = static_cast<uint8_t>(c);
}

void change_pdelimiter() {
    int c = get_one_char();
    if (c >= 0 && usable_prefix(c)) config.par_delim = static_cast<uint8_t>(c);
}

void main_command() {
    int c1 = get_one_char();
    if (c1 < 0) return;
    c1 = static_cast<uint8_t>(g_ascii_toupper(static_cast<char>(c1)));
    int c2 = get_one_char();
    if (c2 < 0) return;
    c2 = static_cast<uint8_t>(g_ascii_toupper(static_cast<char>(c2)));
    if (c1 == 'A') {  // ^A<font letter>
        Font_type(static_cast<uint8_t>(c2));
        return;
    }
    if (c1 == 'B') {  // ^B<symbology>
        barcode_command(c2);
        return;
    }
    dispatch(format_commands, c1, c2);
}

void tilde_command() {
    int c1 = get_one_char();
    if (c1 < 0) return;
    int c2 = get_one_char();
    if (c2 < 0) return;
    dispatch(control_commands, c1, static_cast<uint8_t>(g_ascii_toupper(static_cast<char>(c2))));
}

bool process_one_command() {
    int c;
    if (global.symbol != 0 && global.symbol == config.dfprefix) {
        c = global.symbol;
        global.symbol = 0;
    } else {
        c = get_one_char();
        if (c < 0) return false;
    }
    if (c == config.dfprefix)
        main_command();
    else if (c == config.dcprefix)
        tilde_command();
    return true;
}

void zpl_run_until_dry() {
    while (process_one_command()) {
    }
}

void* process_data_pthrd(void*) {
    init_rendering_system();
    for (;;) process_one_command();
    return nullptr;
}
