// JPL command decoder and command handlers: labels, copies, text, lines, boxes, cell bitmaps,
// barcodes and 2-D symbols, paper roll and the test text.
#include "jpl_state.h"

#include "image_builder.h"
#include "render_shapes.h"
#include "render_symbols.h"
#include "zpl_barcodes.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <glib.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {
// Parameters are binary and read raw. A command cut short (the host stopped inside it for the
// bounded wait, or the input ran dry in test mode) is dropped.
struct Params {
    bool ok = true;
    int byte() {
        if (!ok) return 0;
        int c = get_declared_byte();
        if (c < 0) {
            ok = false;
            return 0;
        }
        return c;
    }
    int u16() {
        int lo = byte();
        int hi = byte();
        return lo | hi << 8;
    }
    // Bytes up to a zero byte, at most `limit` kept; `drop_controls` drops 0x01 to 0x14.
    std::string string(size_t limit, bool drop_controls = false) {
        std::string s;
        while (ok) {
            int c = get_declared_byte();
            if (c < 0) {
                ok = false;
                break;
            }
            if (c == 0) break;
            if (drop_controls && c >= 0x01 && c <= 0x14) continue;
            if (s.size() < limit) s.push_back(static_cast<char>(c));
        }
        return s;
    }
};

int home_x() { return config.x_axis; }
int home_y() { return config.y_axis; }

void drawn() { global.creat_image = 1; }

void set_symbol_rotation(int code) {
    static const double angles[4] = {0, 90, 180, 270};
    rotate_barcode = angles[code >= 0 && code <= 3 ? code : 0];
}

void place_symbol(int rc, int x, int y) {
    if (rc == 0) render_and_place_barcode(x, y);
    release_barcode();
    drawn();
}

struct Command {
    int code;
    void (*handler)();
};

const Command commands[] = {
    {0x5B, jpl_start_label}, {0x5D, jpl_end_label},      {0x4F, jpl_copies},    {0x54, jpl_text},
    {0x5C, jpl_line},        {0x26, jpl_box},            {0x2A, jpl_solid_box}, {0x21, jpl_cell_bitmap},
    {0x30, jpl_linear_barcode}, {0x31, jpl_symbol_2d},   {0x0C, jpl_paper_roll}, {0x0B, jpl_test_text},
};

// The variant byte of a command; -1 when none came.
int variant() { return get_declared_byte(); }
}  // namespace

bool jpl_process_one_command() {
    int c;
    if (jpl.sub_pending) {
        jpl.sub_pending = false;
        c = JPL_SUB;
    } else {
        c = get_one_char();
        if (c < 0) return false;
    }
    if (c != JPL_SUB) return true;  // outside a command: dropped
    int code = get_declared_byte();
    if (code < 0) return true;
    for (const Command& cmd : commands) {
        if (cmd.code == code) {
            ++jpl.commands;
            cmd.handler();
            return true;
        }
    }
    // An unknown command byte: the bytes up to the next SUB are dropped by the loop.
    if (code == JPL_SUB) jpl.sub_pending = true;
    return true;
}

void jpl_run_until_dry() {
    while (jpl_process_one_command()) {
    }
}

void* jpl_process_data_pthrd(void*) {
    init_rendering_system();
    for (;;) jpl_process_one_command();
    return nullptr;
}

// ---- labels ------------------------------------------------------------------------------------

void jpl_start_label() {
    int v = variant();
    if (v != 0 && v != 1) return;
    int length = JPL_LABEL_ROWS;
    if (v == 1) {
        Params p;
        int hx = p.u16(), hy = p.u16();
        p.byte();
        p.byte();
        length = p.u16();
        p.byte();
        if (!p.ok) return;
        config.x_axis = hx;
        config.y_axis = hy;
    }
    start_zpl_job();
    label_length = global.lab_len = std::clamp(length, 0, MAX_PAGE_ROWS);
    global.x_record = 0;
}

// Every label is printed, drawn on or not; pending copies first, from the same recording.
void jpl_end_label() {
    if (variant() != 0) return;
    page_turned = false;
    if (jpl.setprinum) {
        for (int i = 0; i < jpl.printnum; ++i) render_image_as_dotimage2();
        jpl.setprinum = false;
        jpl.printnum = 0;
    }
    render_image_as_dotimage();
    new_render_state();
    global.creat_image = 0;
    config.hex_ind = 0;
    global.lab_top = 0;
    std::memset(fn_char, 0, sizeof fn_char);
}

void jpl_copies() {
    if (variant() != 1) return;
    Params p;
    int n = p.byte();
    if (!p.ok) return;
    jpl.printnum = std::min(n > 0 ? n - 1 : 0, JPL_MAX_COPIES - 1);
    jpl.setprinum = true;
}

// ---- text --------------------------------------------------------------------------------------

TextSize jpl_draw_text(int x, int y, const std::string& utf8, int h, int w) {
    // Font letter A, whole-number stretch, the bold flag as its weight.
    double hm = h / 9.0, wm = w / 5.0;
    if (h == 0) hm = wm;
    if (w == 0) wm = hm;
    double xs = std::trunc(wm), ys = std::trunc(hm);
    bool sideways = jpl.rotate == 'R' || jpl.rotate == 'B';
    if (sideways) std::swap(xs, ys);
    set_font_description(zpl_fonts[font_index('A')], 4, jpl.bold ? 1 : 0, xs, ys);
    text_get_layout_dimensions(utf8.c_str(), int(utf8.size()));
    // Along and across the text (the exchange for sideways text undone).
    TextSize size;
    size.width = pangoRectangle_logical.width * (sideways ? pango_yscale : pango_xscale);
    size.height = pangoRectangle_logical.height * (sideways ? pango_xscale : pango_yscale);
    const double W = size.width, H = size.height;
    // Underline and strike-through, 2 dots wide, at H and H / 2 below the top of the text.
    for (int k = 0; k < 2; ++k) {
        bool on = k == 0 ? jpl.underline : jpl.deline;
        if (!on) continue;
        double d = k == 0 ? H : H / 2;
        switch (jpl.rotate) {
        case 'R': draw_line(x - d, y, x - d, y + W, 2); break;
        case 'I': draw_line(x, y - d, x - W, y - d, 2); break;
        case 'B': draw_line(x + d, y, x + d, y - W, 2); break;
        default: draw_line(x, y + d, x + W, y + d, 2); break;
        }
    }
    if (!jpl.whitefont) {
        set_text_rotation(jpl.rotate);
        fill_pango_layout(x, y, utf8.c_str());
    }
    global_rotated_text_flag = 0;
    return size;
}

void jpl_text() {
    int v = variant();
    if (v != 0 && v != 1) return;
    Params p;
    int x = p.u16(), y = p.u16();
    int h = config.font_h, w = config.font_w;
    jpl.bold = jpl.underline = jpl.whitefont = jpl.deline = false;
    jpl.rotate = 'N';
    if (v == 1) {
        h = p.u16();
        int flags = p.byte();
        int scale = p.byte();
        w = h / 2;
        jpl.bold = flags & 0x01;
        jpl.underline = flags & 0x02;
        jpl.whitefont = flags & 0x04;
        jpl.deline = flags & 0x08;
        static const uint8_t turns[4] = {'N', 'R', 'I', 'B'};
        jpl.rotate = turns[(flags >> 4) & 3];
        if (scale & 0x0F) w *= (scale & 0x0F) + 1;
        if (scale >> 4) h *= (scale >> 4) + 1;
    }
    std::string data = p.string(JPL_DATA_BYTES, true);
    if (!p.ok) return;
    x += home_x() + 1;
    y += home_y();
    h = std::clamp(h, 0, MAX_FONT_DOTS);
    w = std::clamp(w, 0, MAX_FONT_DOTS);
    std::vector<char> utf8(2 * data.size() + 1);
    size_t n = check_encoding(data.data(), data.size(), utf8.data(), utf8.size());
    if (n > 0) jpl_draw_text(x, y, std::string(utf8.data(), n), h, w);
    drawn();
    // The field ends: text and position defaults, no continuation.
    reset_text_defaults();
    reset_position_defaults();
    global.x_record = 0;
    jpl.bold = jpl.underline = jpl.whitefont = jpl.deline = false;
    jpl.rotate = 'N';
}

// ---- lines and boxes ---------------------------------------------------------------------------

void jpl_line() {
    int v = variant();
    if (v != 0 && v != 1) return;
    Params p;
    int x1 = p.u16(), y1 = p.u16(), x2 = p.u16(), y2 = p.u16();
    int width = 2;
    bool draw = true;
    if (v == 1) {
        width = p.u16();
        draw = p.byte() == 1;
    }
    if (!p.ok) return;
    if (draw) {
        draw_line(x1 + home_x(), y1 + home_y(), x2 + home_x(), y2 + home_y(), width);
        drawn();
    }
}

namespace {
struct Corners {
    double x1, y1, x2, y2;
    double w() const { return x2 - x1; }
    double h() const { return y2 - y1; }
    bool degenerate() const { return x1 == x2 || y1 == y2; }
};

Corners read_corners(Params& p) {
    double x1 = p.u16() + home_x(), y1 = p.u16() + home_y();
    double x2 = p.u16() + home_x(), y2 = p.u16() + home_y();
    return {x1, y1, x2, y2};
}
}  // namespace

void jpl_box() {
    int v = variant();
    if (v != 0 && v != 1) return;
    Params p;
    Corners c = read_corners(p);
    int t = 2, colour = 1;
    if (v == 1) {
        t = p.u16();
        colour = p.byte();
    }
    if (!p.ok) return;
    drawn();
    if (c.degenerate()) {
        draw_line(c.x1, c.y1, c.x2, c.y2, t);
    } else if (v == 0) {
        draw_rectangle(c.x1 + 1, c.y1 + 1, c.w() - 2, c.h() - 2, 2);
    } else if (colour == 1) {
        draw_rectangle(c.x1 + t / 2, c.y1 + t / 2, c.w() - t, c.h() - t, t);
    } else {
        // A 1-dot outline, and the area inside it inset by the width filled.
        draw_rectangle(c.x1, c.y1, c.w() - 1, c.h() - 1, 1);
        if (c.w() > 2 * t && c.h() > 2 * t) draw_rectangle_fill(c.x1 + t, c.y1 + t, c.w() - 2 * t, c.h() - 2 * t, 0);
    }
}

void jpl_solid_box() {
    if (variant() != 0) return;
    Params p;
    Corners c = read_corners(p);
    int colour = p.byte();
    if (!p.ok) return;
    drawn();
    int t = int(c.h()) / 2;
    if (c.degenerate()) draw_line(c.x1, c.y1, c.x2, c.y2, t);
    else if (colour == 1) draw_rectangle(c.x1 + t / 2, c.y1 + t / 2, c.w() - t, c.h() - t, t);
    else draw_rectangle(c.x1, c.y1, c.w() - 1, c.h() - 1, 1);
}

// ---- cell bitmaps ------------------------------------------------------------------------------

// A row of cells: each byte up to the next SUB is one cell, filled when it is the "on" value (a
// zero byte counts as 0x01). Left to right and top to bottom the cells wrap into a new band
// before JPL_CELL_WRAP_DOTS; right to left and bottom to top they do not wrap.
void jpl_cell_bitmap() {
    int v = variant();
    if (v != 0 && v != 1) return;
    Params p;
    int x0 = p.u16() + home_x(), y0 = p.u16() + home_y();
    int cw = p.u16(), ch = p.u16();
    int type = 0, scale = 0;
    if (v == 1) {
        type = p.byte();
        scale = p.byte();
    }
    if (!p.ok) return;
    cw *= (scale & 0x0F) + 1;
    ch *= ((scale >> 6) & 3) + 1;
    const int on = (type & 1) ? 0x01 : 0xFF;
    const bool down = type & 2, backwards = type & 4;
    double x = x0, y = y0;
    for (;;) {
        int c = get_declared_byte();
        if (c < 0) break;
        if (c == JPL_SUB) {
            jpl.sub_pending = true;  // the next command's control byte
            break;
        }
        if (c == 0) c = 0x01;
        if (c == on && cw > 0 && ch > 0) draw_rectangle_fill(x, y, cw, ch, 0);
        if (backwards) {
            if (down) y -= ch;
            else x -= cw;
            continue;
        }
        if (down) y += ch;
        else x += cw;
        if (x + ch / 4 >= JPL_CELL_WRAP_DOTS) {  // a new band
            x = x0;
            y += ch;
        }
    }
    drawn();
}

// ---- barcodes and 2-D symbols --------------------------------------------------------------------

void jpl_linear_barcode() {
    if (variant() != 0) return;
    config.bar_h = 10;
    config.bar_nwidth = 3;
    Params p;
    int x = p.u16(), y = p.u16();
    int letter = p.byte();
    int h = p.u16();
    int m = p.byte();
    int rotation = p.byte();
    std::string data = p.string(JPL_BARCODE_BYTES);
    if (!p.ok) return;
    switch (letter) {
    case 'A': barcode_z.symbol = BARCODE_UPCA; break;
    case 'B': barcode_z.symbol = BARCODE_UPCE; break;
    case 'C': case 'D': barcode_z.symbol = BARCODE_EANX; break;
    case 'E': barcode_z.symbol = BARCODE_CODE39; break;
    case 'F': barcode_z.symbol = BARCODE_C25INTER; break;
    case 'G': barcode_z.symbol = BARCODE_CODABAR; break;
    case 'H': barcode_z.symbol = BARCODE_CODE93; break;
    case 'I': barcode_z.symbol = BARCODE_CODE128; break;
    default: break;  // the symbology of the barcode before
    }
    if (barcode_z.symbol == 0 || data.empty()) return;
    if (h == 0) h = 10;
    if (m < 1 || m > 4) m = 3;
    if (barcode_z.symbol == BARCODE_UPCE) data.erase(std::remove(data.begin(), data.end(), '0'), data.end());
    if (barcode_z.symbol == BARCODE_CODE39) data += mod43(data.data(), data.size());
    if (!page_budget_left()) return;
    set_symbol_rotation(rotation);
    int rc = generate_barcode_symbol(barcode_z.symbol, m, 2.0 * h / 3, 3, data.data(), int(data.size()), 0);
    place_symbol(rc, x, y);
}

void jpl_symbol_2d() {
    int v = variant();
    if (v < 0 || v > 3) return;
    Params p;
    int columns = 0, security = 0, row_factor = 0;
    if (v == 0) {
        p.byte();
        p.byte();
    } else if (v == 1) {
        columns = p.byte();
        security = p.byte();
        row_factor = p.byte();
    } else if (v == 3) {
        p.byte();
    }
    int x = p.u16(), y = p.u16();
    int m = p.byte();
    int rotation = p.byte();
    std::string data = p.string(JPL_DATA_BYTES);
    if (!p.ok || data.empty()) return;
    if (m < 1 || m > 4) m = 3;
    if (!page_budget_left()) return;
    set_symbol_rotation(rotation);
    if (v == 1) {
        if (columns == 0) columns = 1;
        generate_pdf417_symbol(BARCODE_PDF417, m, row_factor * m * columns * 3 / 2, columns, security);
        g_strlcpy(pdf417_data, data.c_str(), sizeof pdf417_data);
        int rc = encode_pdf417(x, y);
        pdf417_data[0] = '\0';
        place_symbol(rc == 0 ? 0 : -1, x, y);
        return;
    }
    int symbology = v == 0 ? BARCODE_QRCODE : v == 2 ? BARCODE_DATAMATRIX : BARCODE_GRIDMATRIX;
    int rc = qr_generate_barcode_symbol(symbology, m, 2 * (m * 3 / 2), m, data.data(), int(data.size()), 0);
    place_symbol(rc, x, y);
}

// ---- paper and test text -------------------------------------------------------------------------

void jpl_paper_roll() {
    int v = variant();
    if (v == 1) zpl_shell("/root/engine_cmd F 3");
}

// A fixed test text of five Chinese characters, outlined.
void jpl_test_text() {
    if (variant() != 0) return;
    cairo_t* cr = recording_cairo_context;
    if (!cr || !global_pango_layout) return;
    static const char TEST_TEXT[] = "\xe6\x89\x93\xe5\x8d\xb0\xe6\xb5\x8b\xe8\xaf\x95\xe9\xa1\xb5";  // 打印测试页
    set_font_description("simsun", 60, 0, 1, 1);
    text_get_layout_dimensions(TEST_TEXT, 0);
    if (page_may_draw(60, 60, 60 + pangoRectangle_logical.width, 60 + pangoRectangle_logical.height)) {
        cairo_save(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_move_to(cr, 60, 60);
        pango_cairo_layout_path(cr, global_pango_layout);
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
        cairo_restore(cr);
    }
    drawn();
}
