#include "escpos_decoder.h"

#include "escpos_commands.h"
#include "escpos_input.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_text.h"

#include <cstring>

namespace escpos {

Handler* CommandTables::table(uint8_t prefix) {
    switch (prefix) {
    case ESC: return esc.h;
    case FS: return fs.h;
    case GS: return gs.h;
    case US: return us.h;
    default: return nullptr;
    }
}

namespace {
CommandTables build_tables() {
    CommandTables t;
    add_char_commands(t);
    add_position_commands(t);
    add_page_commands(t);
    add_image_commands(t);
    add_barcode_commands(t);
    add_device_commands(t);
    return t;
}

// ESC, FS, GS or US: the function byte picks the handler; an unknown one is dropped.
void dispatch(EscposState& st, uint8_t prefix) {
    const CommandTables& t = command_tables();
    int fn = param(st);
    Handler h = nullptr;
    switch (prefix) {
    case ESC: h = t.esc[fn]; break;
    case FS: h = t.fs[fn]; break;
    case GS: h = t.gs[fn]; break;
    case US: h = t.us[fn]; break;
    default: break;
    }
    if (h) h(st);
}

// Encoding mode 2: the byte and the continuation bytes its lead byte announces join the UTF-8
// line, which is drawn at LF. A full collection buffer draws the line collected so far first.
void collect_utf8(EscposState& st, uint8_t byte) {
    uint8_t seq[4] = {byte};
    int n = 1, follow = 0;
    if (byte >= 0xc2 && byte <= 0xdf) follow = 1;
    else if (byte >= 0xe0 && byte <= 0xef) follow = 2;
    else if (byte >= 0xf0) follow = 3;
    else if (byte > 0x7e) return;  // 0x7F to 0xC1: not a character of its own
    for (int i = 0; i < follow; ++i) {
        int c = param(st);
        if (c >= 0x80 && c <= 0xbf) seq[n++] = uint8_t(c);
    }
    if (st.char_buf + n > COLLECT_BYTES) draw_utf8_line(st);
    std::memcpy(st.character_buf + st.char_buf, seq, size_t(n));
    st.char_buf += n;
}
}  // namespace

const CommandTables& command_tables() {
    static const CommandTables tables = build_tables();
    return tables;
}

void pirnt_characters(EscposState& st, uint8_t byte) {
    if (st.encoding_mode == 2) {
        collect_utf8(st, byte);
        return;
    }
    // Chinese mode, and every job converted to GB18030 at intake (mode 1): two-byte characters.
    bool chinese = st.set.chn_char_mode || st.encoding_mode == 1;
    if (chinese && byte >= 0x80 && byte != 0xff) {
        uint8_t code[4] = {byte, uint8_t(param(st))};
        size_t n = 2;
        if (code[1] >= 0x30 && code[1] <= 0x39) {  // four-byte GB18030
            code[2] = uint8_t(param(st));
            code[3] = uint8_t(param(st));
            n = 4;
        }
        st.char_buf = 0;
        std::memcpy(st.character_buf, code, n);
        st.char_buf = int(n);
        fill_gbk_char(st, code, n);
        return;
    }
    st.char_buf = 1;
    st.character_buf[0] = byte;
    fill_eng_char(st, &byte, 1);
}

void process_command(EscposState& st, int byte) {
    if (byte < 0) return;
    st.datastatus = 1;
    if (byte >= 0x20) {
        pirnt_characters(st, uint8_t(byte));
        return;
    }
    switch (byte) {
    case HT: horizontal_tab(st); break;
    case LF:
        if (st.encoding_mode == 2)
            draw_utf8_line(st);
        else
            line_feed(st);
        break;
    case FF: form_feed(st); break;
    case CR: carriage_return(st); break;
    case CAN: cancel_line(st); break;
    case ESC:
    case FS:
    case GS:
    case US: dispatch(st, uint8_t(byte)); break;
    default: break;  // every other control byte, DLE included, is ignored
    }
}

void skip_params(EscposState& st, long n) {
    for (long i = 0; i < n; ++i) param(st);
}

void skip_raw(EscposState& st, long n) {
    for (long i = 0; i < n; ++i) get_new_char(st);
}

void start_decoding(EscposState& st) {
    init_escpos_setting(st);
    init_all_properties(st);
    init_horizontal_table(st);
    init_all_buffers(st);
    init_job_recorder(st);
    new_canvas(st);
}

void escpos_step(EscposState& st) { process_command(st, get_one_char(st)); }

void run_until_input_ends(EscposState& st) {
    try {
        for (;;) escpos_step(st);
    } catch (const InputEnded&) {
    }
}

}  // namespace escpos
