#include "escpos_glyph.h"

#include "code_pages.h"
#include "dot_font_layout.h"
#include "escpos_page.h"

#include <glib.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace escpos {

void code_page_fixups(uint8_t& code, uint8_t& grp, uint8_t& set) {
    if (grp == 140) {
        switch (code) {
        case 155: code = 192; break;
        case 156: code = 220; break;
        case 166: code = 130; break;
        case 167: code = 131; break;
        default: break;
        }
        grp = 149;
    }
    if (grp == 149 && (code == 167 || code == 255)) {
        code = ' ';
        set |= 0x40;
    } else if ((grp == 152 || grp == 153) && code == 96) {
        code = 128;
    } else if (grp == 119) {
        if (code == 141 || code == 142 || code == 143 || code == 157 || code == 158) {
            code = ' ';
        } else if (code == 255) {
            code = 250;
            set |= 0x40;
        }
    } else if (grp == 166 && code == 127) {
        code = 255;
        set |= 0x40;
    }
}

namespace {
bool fetch_glyph(const EscposState& st, const CHAR_PROPERTIES& c, uint8_t code, uint8_t grp, uint8_t set,
                 GlyphBitmap& g) {
    if (c.user_char && code >= USER_CHAR_FIRST && code <= USER_CHAR_LAST) {
        const USER_CHAR& u = st.user_chars[size_t(code - USER_CHAR_FIRST)];
        if (!u.defined) return false;
        g.width = std::min<int>(u.dot_width, USER_CHAR_BYTES / 3);
        g.height = 24;
        std::memcpy(g.data, u.data, size_t(g.width) * 3);
        return true;
    }
    if (!st.fonts) return false;
    bool ok;
    if (c.cFont.fontID == 0) {
        ok = st.fonts->tgs2_glyph(c.cFont.fontType, code, grp, set, g);
    } else if (c.char_type == CHN_CHAR) {
        ok = st.fonts->gb_glyph(c.cFont.fontType, (c.code[0] << 8) | c.code[1], true, g);
    } else {
        ok = st.fonts->gb_glyph(c.cFont.fontType, code, false, g);
    }
    if (!ok && st.debug) std::fputs("getFontBmp2(E): cannot get char bmp\n\r", stdout);
    return ok;
}
}  // namespace

bool compose_dot_glyph(const EscposState& st, const CHAR_PROPERTIES& c, ComposedGlyph& out) {
    out = ComposedGlyph{};
    uint8_t code = c.code[0], grp = c.cFont.charGrp, set = c.cFont.charSet;
    if (c.char_type == ENG_CHAR && !c.user_char) code_page_fixups(code, grp, set);
    if (c.char_type == ENG_CHAR && code == ' ') return false;
    GlyphBitmap g;
    if (!fetch_glyph(st, c, code, grp, set, g)) return false;
    int rows = std::min(g.height, 24);
    int per_col = g.bytes_per_column();
    // One column at a time: its dots as bits, the top row in bit 0.
    auto column_bits = [&](int col) {
        uint32_t bits = 0;
        for (int b = 0; b < per_col && b < 4; ++b) {
            uint8_t byte = g.data[col * per_col + b];
            for (int k = 0; k < 8; ++k)
                if (byte & (0x80 >> k)) bits |= 1u << (8 * b + k);
        }
        return rows < 32 ? bits & ((1u << rows) - 1) : bits;
    };
    if (c.cFont.fontID == 0 && !c.user_char) {
        // Stored at double horizontal resolution: column pairs make one dot; every dot is set
        // again in the row below it.
        int shift = g.width < 24 ? (24 - g.width) / 4 : 0;
        for (int col = 0; col < g.width; ++col) {
            int x = col / 2 + shift;
            if (x >= 32) continue;
            uint32_t bits = column_bits(col);
            bits |= (bits << 1) & 0xffffffu;
            for (; bits; bits &= bits - 1) out.rows[__builtin_ctz(bits)] |= 1u << x;
        }
        out.width = 12;
    } else {
        for (int col = 0; col < std::min(g.width, 32); ++col)
            for (uint32_t bits = column_bits(col) & 0xffffffu; bits; bits &= bits - 1)
                out.rows[__builtin_ctz(bits)] |= 1u << col;
        out.width = std::min(g.width, 32);
    }
    return true;
}

void place_in_line_bitmap(EscposState& st, const ComposedGlyph& g, int x) {
    for (int r = 0; r < 24; ++r) {
        uint32_t bits = g.rows[r];
        while (bits) {
            int b = __builtin_ctz(bits);
            bits &= bits - 1;
            int dx = x + b;
            if (dx < 0 || dx >= PAGE_DOTS) continue;
            st.dot_charbuffer[r][dx >> 3] |= uint8_t(1u << (dx & 7));
        }
    }
}

void paint_line_bitmap(EscposState& st, double y) {
    // Only the columns that hold ink are painted.
    int first = PAGE_BYTES, last = -1;
    for (int r = 0; r < 24; ++r)
        for (int i = 0; i < PAGE_BYTES; ++i)
            if (st.dot_charbuffer[r][i]) {
                first = std::min(first, i);
                last = std::max(last, i);
            }
    if (last >= first) {
        int width = (last - first + 1) * 8;
        paint_bitmap(st, &st.dot_charbuffer[0][first], width, 24, PAGE_BYTES, first * 8.0, y);
    }
    std::memset(st.dot_charbuffer, 0, sizeof st.dot_charbuffer);
}

std::string to_utf8(const char* charset, const uint8_t* bytes, size_t n) {
    // One converter per character set for the life of the thread.
    struct Converter {
        iconv_t cd;
        explicit Converter(const char* from) : cd(iconv_open("UTF-8", from)) {}
        ~Converter() {
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        }
    };
    thread_local std::map<std::string, std::unique_ptr<Converter>> converters;
    auto it = converters.find(charset);
    if (it == converters.end()) it = converters.emplace(charset, std::make_unique<Converter>(charset)).first;
    iconv_t cd = it->second->cd;
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) return "?";
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
    size_t left = n;
    char buf[64];
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, size_t(dst - buf));
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        out += '?';
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string outline_text(const CHAR_PROPERTIES& c) {
    size_t n = strnlen(reinterpret_cast<const char*>(c.code), sizeof c.code);
    if (c.char_type == CHN_CHAR) {
        // Chinese outline characters carry UTF-8 already.
        std::string s(reinterpret_cast<const char*>(c.code), n);
        return g_utf8_validate(s.data(), long(s.size()), nullptr) ? s : "?";
    }
    if (n == 0) return "";
    if (c.code[0] < 0x80) return std::string(1, char(c.code[0]));
    return to_utf8(code_page_charset(c.cFont.charGrp), c.code, 1);
}

void set_pango_font(EscposState& st, const CHAR_PROPERTIES& c, int weight) {
    if (!st.font_description) st.font_description = pango_font_description_new();
    pango_font_description_set_family(st.font_description, c.font_family[0] ? c.font_family : "SimSun");
    double point = c.point > 0 && c.point < 500 ? c.point : 9.0;
    pango_font_description_set_size(st.font_description, int(point * PANGO_SCALE));
    pango_font_description_set_weight(st.font_description, PangoWeight(weight));
    pango_layout_set_font_description(st.pango_layout, st.font_description);
}

void measure_outline(EscposState& st, CHAR_PROPERTIES& c) {
    set_pango_font(st, c, c.emphasied || c.double_strike ? 700 : 400);
    std::string text = outline_text(c);
    pango_layout_set_text(st.pango_layout, text.c_str(), int(text.size()));
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(st.pango_layout, &ink, &logical);
    c.layout_size = {double(logical.width), double(logical.height), double(ink.width), double(ink.height)};
    if (c.font_type == ENG_FONT_CUSTOM) {
        c.char_width = logical.width;
        c.char_height = logical.height;
    }
}

void draw_outline_char(EscposState& st, const CHAR_PROPERTIES& c, int line_max_high) {
    if (!st.canvas.cr) return;
    int mw = c.magnify_width > 0 ? c.magnify_width : 1;
    int mh = c.magnify_height > 0 ? c.magnify_height : 1;
    double y = c.ypos;
    if (c.rotate_angle == -90)
        y = c.ypos + line_max_high - (c.layout_size.log_height - c.layout_size.log_width) * mh / 2;
    else if (c.rotate_angle == -180)
        y = c.ypos + line_max_high;
    set_pango_font(st, c, c.emphasied || c.double_strike ? 700 : 400);
    std::string text = outline_text(c);
    cairo_t* cr = st.canvas.cr;
    cairo_save(cr);
    double x = c.xpos, sx = mw;
    pango_layout_set_text(st.pango_layout, text.c_str(), int(text.size()));
    if (c.rotate_angle == 0 && c.font_type != ENG_FONT_CUSTOM && c.layout_size.log_width > 0) {
        // A glyph keeps to its cell: narrower ones are centred, wider ones narrowed to fit.
        double wide = c.layout_size.log_width * mw;
        if (wide > c.char_width) {
            sx = mw * c.char_width / wide;
            wide = c.char_width;
        }
        x += (c.char_width - wide) / 2;
    }
    cairo_translate(cr, x, y);
    cairo_scale(cr, sx, mh);
    if (c.rotate_angle != 0) cairo_rotate(cr, c.rotate_angle * 0.017453292519943295);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, st.pango_layout);
    cairo_restore(cr);
    extend_canvas(st, y);
}

void draw_user_char(EscposState& st, const CHAR_PROPERTIES& c, int line_max_high) {
    ComposedGlyph g;
    if (!compose_dot_glyph(st, c, g)) return;
    uint8_t rows[24][4]{};
    for (int r = 0; r < 24; ++r)
        for (int i = 0; i < 4; ++i) rows[r][i] = uint8_t(g.rows[r] >> (8 * i));
    int mw = c.magnify_width > 0 ? c.magnify_width : 1;
    int mh = c.magnify_height > 0 ? c.magnify_height : 1;
    double y = c.rotate_angle == -180 ? c.ypos + line_max_high : c.ypos;
    paint_bitmap(st, &rows[0][0], std::max(g.width, 1), 24, 4, c.xpos, y, mw, mh, c.rotate_angle);
}

}  // namespace escpos
