// Text: the font map, TEXT in four rotations, magnification, justification, bold, underline,
// character spacing, GB18030 text, concatenation blocks, and line-printer mode.
#include "cpcl_commands.h"

#include "image_builder.h"
#include "keyfile.h"
#include "render_shapes.h"

#include <glib.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>

namespace cpcl {

namespace {
constexpr int BOLD_WEIGHTS[] = {400, 500, 700, 800, 900, 1000};  // SETBOLD 0 .. 5
constexpr int MAG_MAX = 16;
constexpr size_t CONVERTED_MAX = 512;  // a line of GB18030 text as UTF-8

// An entry the font map does not have.
const FontEntry& missing_entry() {
    static const FontEntry e{true, "Liberation Mono", 400, 7.5, 1.0, 1.0};
    return e;
}

// GB18030 text as UTF-8 (iconv(3)); a bad sequence ends the conversion with what was made so far.
std::string from_gb18030(std::string_view text) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    char* src = const_cast<char*>(text.data());
    size_t left = text.size();
    char buf[CONVERTED_MAX];
    char* dst = buf;
    size_t room = sizeof buf;
    iconv(cd, &src, &left, &dst, &room);
    out.assign(buf, sizeof buf - room);
    iconv_close(cd);
    return out;
}

struct Metrics {
    double width = 0, height = 0;  // logical size before the stretch
    double xs = 1, ys = 1;         // the stretch
};

// Puts the font of (font, size) and the text (as valid UTF-8) into the layout and measures it.
Metrics set_text(CpclState& s, int font, int size, std::string_view text) {
    Metrics m;
    if (!global_pango_layout) return m;
    clamp_font(font, size);
    const FontEntry& e = font_entry(s, font, size);
    m.xs = e.xscale * (s.magnify ? s.xmag : 1);
    m.ys = e.yscale * (s.magnify ? s.ymag : 1);
    if (!global_pango_font_description) global_pango_font_description = pango_font_description_new();
    PangoFontDescription* d = global_pango_font_description;
    pango_font_description_set_family(d, e.family.c_str());
    pango_font_description_set_size(d, int(std::clamp(e.size, 1.0, 400.0) * PANGO_SCALE));
    int weight = s.bold > 0 ? BOLD_WEIGHTS[s.bold] : e.weight;
    pango_font_description_set_weight(d, static_cast<PangoWeight>(std::clamp(weight, 100, 1000)));
    update_font_description();
    std::string bytes = s.gb18030 ? from_gb18030(text) : std::string(text);
    if (g_utf8_validate(bytes.data(), gssize(bytes.size()), nullptr)) {
        pango_layout_set_text(global_pango_layout, bytes.data(), int(bytes.size()));
    } else {
        gchar* valid = g_utf8_make_valid(bytes.data(), gssize(bytes.size()));
        pango_layout_set_text(global_pango_layout, valid, -1);
        g_free(valid);
    }
    m.height = get_font_height(global_pango_layout);  // also keeps the extents for the page height
    m.width = pangoRectangle_logical.width;
    return m;
}

// Shows the layout with its logical top-left corner at (x, y), turned and stretched.
void show_layout(double x, double y, double angle, double xs, double ys) {
    cairo_t* cr = recording_cairo_context;
    if (!cr || !global_pango_layout) return;
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_translate(cr, x, y);
    if (angle != 0) cairo_rotate(cr, angle * M_PI / 180.0);
    cairo_scale(cr, xs, ys);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, global_pango_layout);
    cairo_restore(cr);
}

// The characters of the layout's text, each as its own string.
std::vector<std::string> layout_characters() {
    std::vector<std::string> chars;
    const char* text = pango_layout_get_text(global_pango_layout);
    for (const char* p = text; p && *p; p = g_utf8_next_char(p))
        chars.emplace_back(p, size_t(g_utf8_next_char(p) - p));
    return chars;
}

// Draws text left to right from (x, y); with spacing each character on its own, spacing dots
// apart. Returns the drawn size.
TextBox show_spaced(CpclState& s, int font, int size, double x, double y, std::string_view text, int spacing) {
    Metrics m = set_text(s, font, size, text);
    TextBox box{m.width * m.xs, m.height * m.ys};
    if (spacing <= 0) {
        show_layout(x, y, 0, m.xs, m.ys);
        return box;
    }
    std::vector<std::string> chars = layout_characters();
    double advance = 0;
    bool saved = s.gb18030;
    s.gb18030 = false;  // already UTF-8
    for (const std::string& c : chars) {
        Metrics cm = set_text(s, font, size, c);
        show_layout(x + advance, y, 0, cm.xs, cm.ys);
        advance += (cm.width + spacing) * cm.xs;
    }
    s.gb18030 = saved;
    box.width = std::max(0.0, advance - spacing * m.xs);
    return box;
}

// The width of text drawn with character spacing.
double spaced_width(const Metrics& m, size_t characters, int spacing) {
    double extra = spacing > 0 && characters > 1 ? double(characters - 1) * spacing : 0;
    return (m.width + extra) * m.xs;
}

void text_item(CpclState& s, const std::string& line, const Words& w, double angle) {
    if (w.size() < 5) return;
    long font = 7, size = 0;
    if (!parse_int(w[1], font)) font = -1;  // no font: becomes font 7
    if (!parse_int(w[2], size)) size = 0;
    int f = int(std::clamp(font, -1L, 100L)), z = int(std::clamp(size, 0L, 100L));
    double x = dots_word(s, w, 3), y = dots_word(s, w, 4);
    std::string data = data_after(line, 5);
    if (data.empty()) return;
    if (angle != 0) {
        draw_text(s, f, z, x, y, angle, data);
        return;
    }
    bool justified = s.align != Align::Left;
    if (justified) {
        Metrics m = set_text(s, f, z, data);
        size_t chars = size_t(g_utf8_strlen(pango_layout_get_text(global_pango_layout), -1));
        double width = spaced_width(m, chars, s.char_spacing);
        double range = s.justify_width > 0 ? s.justify_width : s.page_width;
        double left = s.justify_width > 0 ? x : 0;
        x = s.align == Align::Center ? left + (range - width) / 2 : left + range - width;
    }
    TextBox box = show_spaced(s, f, z, x, y, data, s.char_spacing);
    if (s.underline) {
        // One dot row, two rows under the text.
        double row = std::floor(y + box.height + 2);
        draw_line(x, row + 0.5, x + box.width, row + 0.5, 1);
    }
}
}  // namespace

void load_font_map(CpclState& s, const std::string& path) {
    KeyFile kf(path);
    for (int f = 0; f < FONTS; ++f)
        for (int z = 0; z < FONT_SIZES; ++z) {
            char group[32];
            std::snprintf(group, sizeof group, "FONT%d-SIZE%d", f, z);
            FontEntry e;
            if (kf.has(group, "FAMILY_NAME")) {
                e.loaded = true;
                e.family = kf.get_string(group, "FAMILY_NAME");
                e.weight = kf.has(group, "WEIGHT") ? kf.get_int(group, "WEIGHT") : 400;
                double size = kf.get_double(group, "ABSOLUTE_SIZE");
                e.size = size > 0 && std::isfinite(size) ? std::min(size, 400.0) : 7.5;
                double xs = kf.get_double(group, "XSCALE"), ys = kf.get_double(group, "YSCALE");
                e.xscale = xs > 0 && std::isfinite(xs) ? std::clamp(xs, 0.05, 20.0) : 1.0;
                e.yscale = ys > 0 && std::isfinite(ys) ? std::clamp(ys, 0.05, 20.0) : 1.0;
            }
            s.fonts[size_t(f)][size_t(z)] = e;
        }
}

void clamp_font(int& font, int& size) {
    size = std::max(size, 0);
    switch (font) {
    case 0: size = std::min(size, 6); break;
    case 4: size = std::min(size, 7); break;
    case 5: size = std::min(size, 3); break;
    case 7: size = std::min(size, 1); break;
    case 1: case 2: case 6: size = 0; break;
    default: font = 7; size = 0; break;  // font 3 and unknown numbers
    }
}

const FontEntry& font_entry(const CpclState& s, int font, int size) {
    clamp_font(font, size);
    const FontEntry& e = s.fonts[size_t(font)][size_t(size)];
    return e.loaded ? e : missing_entry();
}

TextBox draw_text(CpclState& s, int font, int size, double x, double y, double angle, std::string_view text) {
    if (text.empty()) return {};
    Metrics m = set_text(s, font, size, text);
    show_layout(x, y, angle, m.xs, m.ys);
    return {m.width * m.xs, m.height * m.ys};
}

void h_text(CpclState& s, const std::string& line, const Words& w) { text_item(s, line, w, 0); }
// Reads bottom to top.
void h_text90(CpclState& s, const std::string& line, const Words& w) { text_item(s, line, w, -90); }
void h_text180(CpclState& s, const std::string& line, const Words& w) { text_item(s, line, w, 180); }
// Reads top to bottom.
void h_text270(CpclState& s, const std::string& line, const Words& w) { text_item(s, line, w, 90); }

void h_setmag(CpclState& s, const std::string&, const Words& w) {
    int x = std::clamp(int_word(w, 1, 0), 0, MAG_MAX), y = std::clamp(int_word(w, 2, 0), 0, MAG_MAX);
    s.magnify = x != 0 || y != 0;
    s.xmag = x > 0 ? x : 1;
    s.ymag = y > 0 ? y : 1;
}

void h_justify(CpclState& s, const std::string&, const Words& w) {
    Align a = w[0] == "CENTER" ? Align::Center : w[0] == "RIGHT" ? Align::Right : Align::Left;
    if (!s.lp_mode) s.align = a;
    s.justify_width = std::max(0, int(dots_word(s, w, 1, 0)));
    s.bar_left = a == Align::Left;
    s.bar_center = a == Align::Center;
    s.bar_right = a == Align::Right;
}

void h_setbold(CpclState& s, const std::string&, const Words& w) {
    int n = int_word(w, 1, -1);
    if (n >= 0 && n <= 5) s.bold = n;
}

void h_underline(CpclState& s, const std::string&, const Words& w) { s.underline = w.has(1) && w[1] == "ON"; }

void h_setsp(CpclState& s, const std::string&, const Words& w) {
    s.char_spacing = std::clamp(int_word(w, 1, 0), -1000, 1000);
}

void h_encoding(CpclState& s, const std::string&, const Words& w) {
    if (!w.has(1)) return;
    if (w[1] == "ASCII" || w[1] == "UTF-8") s.gb18030 = false;
    if (w[1] == "GB18030") s.gb18030 = true;
}

void h_concat(CpclState& s, const std::string&, const Words& w) {
    s.concat_open = true;
    s.concat_vertical = w[0] == "VCONCAT";
    s.concat_x = dots_word(s, w, 1);
    s.concat_y = dots_word(s, w, 2);
}

void h_endconcat(CpclState& s, const std::string&, const Words&) { s.concat_open = false; }

// "font size offset data": the pieces of a concatenation follow each other along the line, each
// moved by its offset across it.
void concat_item(CpclState& s, const std::string& line) {
    Words w = split_words(line);
    if (w.size() < 4) return;
    std::string data = data_after(line, 3);
    if (data.empty()) return;
    long font = 7, size = 0;
    if (!parse_int(w[0], font)) font = -1;
    if (!parse_int(w[1], size)) size = 0;
    int f = int(std::clamp(font, -1L, 100L)), z = int(std::clamp(size, 0L, 100L));
    double offset = dots_word(s, w, 2);
    if (s.concat_vertical) {
        TextBox box = draw_text(s, f, z, s.concat_x + offset, s.concat_y, -90, data);
        s.concat_y -= box.width;
    } else {
        TextBox box = draw_text(s, f, z, s.concat_x, s.concat_y + offset, 0, data);
        s.concat_x += box.width;
    }
}

// ---- line-printer mode ---------------------------------------------------------------------------

void enter_line_printer(CpclState& s) {
    s.lp_mode = true;
    s.in_label = false;
    fresh_page(s);
}

void h_setlp(CpclState& s, const std::string&, const Words& w) {
    int font = int_word(w, 1, 5), size = std::max(0, int_word(w, 2, 0));
    clamp_font(font, size);
    s.lp_font = font;
    s.lp_size = size;
    if (w.has(3)) s.lp_line_height = std::clamp(int_word(w, 3, 0), 0, MAX_PAGE_ROWS);
}

void h_setlf(CpclState& s, const std::string&, const Words& w) {
    s.lp_line_height = std::clamp(int_word(w, 1, 0), 0, MAX_PAGE_ROWS);
}

void print_running_text(CpclState& s, std::string_view text) {
    fresh_page(s);
    TextBox box = show_spaced(s, s.lp_font, s.lp_size, 0, 0, without_line_end(text), s.char_spacing);
    int rows = s.lp_line_height > 0 ? s.lp_line_height : int(std::ceil(box.height));
    write_page(s, rows, 1.0, 1.0, 1);
    fresh_page(s);
}

}  // namespace cpcl
