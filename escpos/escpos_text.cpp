#include "escpos_text.h"

#include "dot_font_layout.h"
#include "escpos_glyph.h"
#include "escpos_page.h"
#include "escpos_settings.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace escpos {

namespace {
// Keeps the fill position far from overflowing whatever the host moves it by.
constexpr int FILL_LIMIT = 1 << 20;

bool international_code(uint8_t b) {
    static const char codes[] = "#$@[\\]^`{|}~";
    return std::strchr(codes, b) != nullptr && b != 0;
}
}  // namespace

int wrap_width(const EscposState& st) {
    return st.line.printable_width - st.device.currentLeftMargin - st.device.currentRightMargin;
}

void reset_line_keep_fill(EscposState& st) {
    int fill = st.line.fill_xpos;
    init_line_properties(st);
    st.line.fill_xpos = fill;
}

void fill_eng_char(EscposState& st, const uint8_t* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        CHAR_PROPERTIES c = st.eng;
        if (c.magnify_width > 1 || c.magnify_height > 1 || c.emphasied || c.double_strike) {
            c.dot_matix_font = false;
            c.emphasied = true;
        }
        uint8_t b = text[i];
        if (b >= 0x80 || ((c.cFont.charSet & 0x3c) && international_code(b))) {
            // Code page glyphs, and the codes a national character set replaces, come from the
            // alphanumeric font.
            c.cFont.fontID = 0;
            c.cFont.fontType = TGS2_CODE_PAGE_FONT;
        } else {
            c.cFont.fontID = 1;
        }
        if (st.set.use_user_char && b >= USER_CHAR_FIRST && b <= USER_CHAR_LAST &&
            st.user_chars[size_t(b - USER_CHAR_FIRST)].defined)
            c.user_char = true;
        std::memset(c.code, 0, sizeof c.code);
        c.code[0] = b;
        c.char_type = ENG_CHAR;
        add_char(st, c);
    }
}

void fill_gbk_char(EscposState& st, const uint8_t* code, size_t n) {
    CHAR_PROPERTIES c = st.chn;
    c.char_type = CHN_CHAR;
    c.dot_matix_font = c.font_type == CHN_FONT_24X24;
    if (c.magnify_width > 1 || c.magnify_height > 1 || c.emphasied || c.double_strike || c.rotate_angle == -180)
        c.dot_matix_font = false;
    if (c.magnify_width > 1 || c.magnify_height > 1) c.emphasied = true;
    std::memset(c.code, 0, sizeof c.code);
    if (c.dot_matix_font && n == 2) {
        c.code[0] = code[0];
        c.code[1] = code[1];
    } else {
        c.dot_matix_font = false;
        std::string utf8 = to_utf8("GB18030", code, n);
        std::memcpy(c.code, utf8.data(), std::min(utf8.size(), sizeof c.code - 1));
    }
    add_char(st, c);
}

void add_char(EscposState& st, CHAR_PROPERTIES c) {
    LINE_PROPERTIES& l = st.line;
    if (!l.stat) reset_line_keep_fill(st);
    if (c.char_type == ENG_CHAR && c.cFont.fontID == 1 && c.code[0] >= '0' && c.code[0] <= '9') {
        if (st.emul.eng_number_shap == 1) c.cFont.fontType = NUMBER_BANK;
        if (st.emul.eng_number_shap == 2) c.cFont.fontType = NUMBER_OKI;
    }
    bool outline = (c.font_type > 1 || !c.dot_matix_font) && !c.user_char;
    if (outline) measure_outline(st, c);
    c.char_width = std::clamp(c.char_width, 0, PAGE_DOTS);
    c.char_height = std::clamp(c.char_height, 0, PAGE_DOTS);

    size_t code_len = strnlen(reinterpret_cast<const char*>(c.code), sizeof c.code);
    if (code_len == 0) code_len = 1;
    bool no_room = l.fill_xpos + c.char_width > wrap_width(st);
    bool buffer_full = l.char_idx >= LINE_CHARS || l.string_len + int(code_len) > LINE_TEXT;
    // A character wider than the whole line, at its start, is placed as it is.
    bool at_start = l.char_idx == 0 && l.fill_xpos <= st.page.left_margin;
    if (buffer_full || (no_room && !at_start)) {
        layout_line(st, l.line_spacing);
        l.fill_xpos = st.page.left_margin;
        reset_line_keep_fill(st);
    }
    if (c.under_line) l.line = true;
    l.line_max_high = std::max(l.line_max_high, l.line_spacing);
    int tall = c.char_height * c.magnify_height;
    if (l.line_max_high < tall) {
        // A tall character feeds the line further; never less than the line spacing.
        l.feed_ext = std::max(0, tall + l.line_spacing - 48);
        l.line_max_high = l.line_spacing + l.feed_ext;
    }
    c.xpos = l.fill_xpos + c.left_space;
    c.ypos = int(st.page.ypos);
    c.char_height *= c.magnify_height;
    if (c.magnify_height > 1) l.multiheight = true;
    c.char_width *= c.magnify_width;
    if (c.rotate_angle == -90) {
        l.fill_xpos += c.char_height;
    } else if (c.rotate_angle == -180) {
        l.fill_xpos += c.left_space + c.char_width + c.right_space;
        c.xpos = wrap_width(st) - c.xpos;
    } else {
        l.fill_xpos += c.char_width + c.right_space;
    }
    l.fill_xpos = std::min(l.fill_xpos, FILL_LIMIT);
    l.char_buf[size_t(l.char_idx++)] = c;
    st.latest = c;
    std::memcpy(l.string + l.string_len, c.code, code_len);
    l.string_len += int(code_len);
    l.string[l.string_len] = '\0';
    l.stat = true;
}

namespace {
bool dot_drawn(const CHAR_PROPERTIES& c) {
    if (c.rotate_angle != 0) return false;
    if (c.user_char) return c.magnify_width <= 1 && c.magnify_height <= 1;
    return c.dot_matix_font && c.font_type <= 1;
}

void underline(EscposState& st) {
    LINE_PROPERTIES& l = st.line;
    int i = 0;
    while (i < l.char_idx) {
        int t = l.char_buf[size_t(i)].under_line;
        if (t == 0) {
            ++i;
            continue;
        }
        double left = 1e9, right = -1e9;
        int j = i;
        for (; j < l.char_idx && l.char_buf[size_t(j)].under_line == t; ++j) {
            const CHAR_PROPERTIES& c = l.char_buf[size_t(j)];
            double x0 = c.rotate_angle == -180 ? c.xpos - c.char_width : c.xpos;
            left = std::min(left, x0);
            right = std::max(right, x0 + c.char_width);
        }
        if (st.canvas.cr && right > left) {
            // t dots thick, the lowest rows of the line's cells.
            double y = st.page.ypos + l.line_max_high - t / 2.0;
            cairo_t* cr = st.canvas.cr;
            cairo_save(cr);
            cairo_set_line_width(cr, t + 0.01);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_move_to(cr, left, y);
            cairo_line_to(cr, right, y);
            cairo_stroke(cr);
            cairo_restore(cr);
        }
        i = j;
    }
}
}  // namespace

void layout_line(EscposState& st, int feed) {
    LINE_PROPERTIES& l = st.line;
    if (l.char_idx > 0 && l.align != 0) {
        int sum = 0;
        for (int i = 0; i < l.char_idx; ++i) sum += l.char_buf[size_t(i)].char_width;
        int room = wrap_width(st) - st.page.left_margin - sum;
        int shift = l.align == 1 ? room / 2 : l.align == 2 ? room : 0;
        for (int i = 0; i < l.char_idx; ++i) {
            CHAR_PROPERTIES& c = l.char_buf[size_t(i)];
            // Upside-down characters run from the right: their line moves the other way.
            c.xpos += c.rotate_angle == -180 ? -shift : shift;
        }
    }
    bool pending = false;  // the line bitmap holds glyphs not yet painted
    double pending_y = 0;
    for (int i = 0; i < l.char_idx; ++i) {
        const CHAR_PROPERTIES& c = l.char_buf[size_t(i)];
        if (dot_drawn(c)) {
            if (pending && pending_y != c.ypos) paint_line_bitmap(st, pending_y);
            ComposedGlyph g;
            if (compose_dot_glyph(st, c, g)) place_in_line_bitmap(st, g, c.xpos + (c.char_width - g.width) / 2);
            pending = true;
            pending_y = c.ypos;
            continue;
        }
        if (pending) {
            paint_line_bitmap(st, pending_y);
            pending = false;
        }
        if (c.user_char)
            draw_user_char(st, c, l.line_max_high);
        else
            draw_outline_char(st, c, l.line_max_high);
    }
    if (pending) paint_line_bitmap(st, pending_y);
    if (l.line) underline(st);
    if (feed > 0 && st.job.canvas_height - st.page.ypos > feed) feed = int(st.job.canvas_height - st.page.ypos);
    st.page.ypos = clamp_page_y(st.page.ypos + feed + l.feed_ext);
    reset_line_keep_fill(st);
    st.tabs.index = 0;
    extend_canvas(st, st.page.ypos);
}

void horizontal_tab(EscposState& st) {
    for (int i = std::max(st.tabs.index, 0); i < TAB_STOPS; ++i) {
        if (st.tabs.pos[i] > st.line.fill_xpos) {
            st.tabs.index = std::max(i - 1, 0);
            st.line.fill_xpos = st.tabs.pos[i];
            return;
        }
    }
}

void carriage_return(EscposState& st) {
    if (st.line.char_idx > 0 && st.job.canvas_height == st.page.ypos)
        extend_canvas(st, st.page.ypos + st.line.line_max_high);
    layout_line(st, 0);
    st.line.fill_xpos = st.page.left_margin;
}

void line_feed(EscposState& st) {
    layout_line(st, st.line.line_spacing);
    st.line.fill_xpos = st.page.left_margin;
}

void cancel_line(EscposState& st) { init_line_properties(st); }

void draw_utf8_line(EscposState& st) {
    std::string text(reinterpret_cast<const char*>(st.character_buf), size_t(st.char_buf));
    st.char_buf = 0;
    if (text.empty() || !st.canvas.cr) return;
    if (!g_utf8_validate(text.data(), long(text.size()), nullptr)) {
        gchar* valid = g_utf8_make_valid(text.data(), long(text.size()));
        text = valid;
        g_free(valid);
    }
    set_pango_font(st, st.latest, 550);
    pango_layout_set_text(st.pango_layout, text.c_str(), int(text.size()));
    int mw = std::max(st.unicode.magnify_width, 1), mh = std::max(st.unicode.magnify_height, 1);
    double y = st.job.canvas_height;
    cairo_t* cr = st.canvas.cr;
    cairo_save(cr);
    cairo_translate(cr, 0, y);
    cairo_scale(cr, 0.9 * mw, mh);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, st.pango_layout);
    cairo_restore(cr);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(st.pango_layout, nullptr, &logical);
    double advance = (logical.height * 0.3546798 + 5 + 20) * mh;
    extend_canvas(st, y + advance);
    // The print position follows the text, so that feeds and streaming see the line as ended.
    st.page.ypos = st.job.canvas_height;
}

}  // namespace escpos
