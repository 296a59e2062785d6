// ZPL label format and field commands.
#include "zpl_label.h"

#include "zpl_barcodes.h"
#include "zpl_objects.h"

#include "image_builder.h"
#include "keyfile.h"
#include "zpl_lexer.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <vector>

GLOBAL_CONFIG config;
GLOBAL_PROPERTIES global;
TEXT_PROPERTIES text;
BARCODE_PROPERTIES barcode_z;
char zpl_fonts[ZPL_FONT_COUNT][FONT_NAME_BYTES];
char fn_char[STORED_FIELDS][STORED_FIELD_BYTES];
int global_height_of_job = 1500;
std::string ZPL_CONFIG_FILE = "/home/zpl_emu.cfg";
std::string FONTS_LIST_PATH = "/usr/share/fontslist";

namespace {
int to_int(double v) {
    if (!std::isfinite(v)) return 0;
    v = std::trunc(v);
    if (v > INT_MAX / 2) return INT_MAX / 2;
    if (v < INT_MIN / 2) return INT_MIN / 2;
    return static_cast<int>(v);
}

int clamp_font_dots(int v) { return std::clamp(v, 0, MAX_FONT_DOTS); }

void copy_name(char* dst, const std::string& src) { g_strlcpy(dst, src.c_str(), FONT_NAME_BYTES); }

// The fonts of the font letters: point size, weight, nominal cell and how the stretch is passed.
enum class Stretch { Whole, Plain, Condensed };
struct FontRow {
    int points;
    int bold;
    int nh, nw;
    Stretch stretch;
};

bool font_row(uint8_t f, FontRow& row) {
    if (f == 'A') row = {4, 0, 9, 5, Stretch::Whole};
    else if (f == 'B') row = {5, 0, 11, 7, Stretch::Whole};
    else if (f == 'C' || f == 'D') row = {7, 0, 18, 10, Stretch::Whole};
    else if (f == 'E') row = {10, 0, 28, 15, Stretch::Plain};
    else if (f == 'F') row = {9, 0, 26, 13, Stretch::Plain};
    else if (f == 'G') row = {24, 0, 60, 40, Stretch::Plain};
    else if (f == 'H') row = {9, 0, 21, 13, Stretch::Plain};
    else if ((f >= 'I' && f <= 'N') || (f >= 'W' && f <= 'Z')) row = {9, 0, 26, 13, Stretch::Plain};
    else if (f >= 'O' && f <= 'T') {
        static const int sizes[] = {7, 8, 9, 10, 11, 14};
        row = {sizes[f - 'O'], 1, 26, 13, Stretch::Plain};
    } else if (f == 'U' || f == 'V') row = {f == 'U' ? 17 : 23, 1, 26, 13, Stretch::Plain};
    else if (f == '0') row = {6, 1, 15, 13, Stretch::Condensed};
    else if (f >= '1' && f <= '9') row = {6, 1, 15, 12, Stretch::Condensed};
    else return false;
    return true;
}

const char* zpl_initial_family(int index) {
    if (index < 0) return "Liberation Mono";
    if (index >= 26) return "Atrian 3";  // 0..9
    char f = static_cast<char>('A' + index);
    if (f == 'E') return "OCR B Std";
    if (f == 'F' || f == 'G' || f == 'U' || f == 'V') return "simhei";
    if (f == 'H') return "OCRA";
    return "Liberation Mono";
}

// Appends to a bounded output.
struct Out {
    char* p;
    size_t cap;  // bytes usable before the terminating zero
    size_t n = 0;
    void put(char c) {
        if (n < cap) p[n++] = c;
    }
    void put(const char* s, size_t len) {
        for (size_t i = 0; i < len; ++i) put(s[i]);
    }
};

// Converts bytes with iconv(3) and appends the result; stops at the first bad sequence, keeping
// what was converted up to it.
void convert_append(const char* from, const char* in, size_t n, Out& out) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    char* src = const_cast<char*>(in);
    size_t left = n;
    char buf[256];
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.put(buf, sizeof buf - room);
        if (r != size_t(-1)) break;
        if (errno != E2BIG) break;
    }
    iconv_close(cd);
}

// Windows-1252 characters of the bytes 0x80 to 0x9F (0: none, shown as the Latin-1 control).
const uint16_t cp1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int hex_value(const char* p, const char* end) {
    if (end - p < 2) return -1;
    int hi = ctoi2(static_cast<unsigned char>(p[0]));
    int lo = ctoi2(static_cast<unsigned char>(p[1]));
    if (hi < 0 || lo < 0) return 0xFF;
    return ((hi * 16) | lo) & 0xFF;
}
}  // namespace

const LabelDialect zpl_dialect{"zpl_interp", "/home/zpl_emu.cfg", true, true, zpl_initial_family, false};
const LabelDialect* label_dialect = &zpl_dialect;

bool single_byte_code_page(int code) { return (code >= 0 && code <= 13) || code == 27; }

void append_cp1252(uint8_t byte, std::string& out) {
    uint32_t u = byte;
    if (byte >= 0x80 && byte < 0xA0 && cp1252_high[byte - 0x80] != 0) u = cp1252_high[byte - 0x80];
    char buf[6];
    out.append(buf, size_t(g_unichar_to_utf8(gunichar(u), buf)));
}

int ctoi2(int c) {
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    switch (c) {
    case '-': return 36;
    case '.': return 37;
    case ' ': return 38;
    case '$': return 39;
    case '/': return 40;
    case '+': return 41;
    case '%': return 42;
    default: return -1;
    }
}

int font_index(uint8_t letter) {
    if (letter >= 'A' && letter <= 'Z') return letter - 'A';
    if (letter >= 'a' && letter <= 'z') return letter - 'a';
    if (letter >= '0' && letter <= '9') return 26 + (letter - '0');
    return -1;
}

void update_font_table() {
    for (int i = 0; i < ZPL_FONT_COUNT; ++i) copy_name(zpl_fonts[i], label_dialect->initial_family(i));
}

void update_zpl_emu(const std::string& path) {
    KeyFile kf(path);
    auto first_byte = [&](const char* group, const char* key, uint8_t fallback) {
        std::string s = kf.get_string(group, key);
        return (s.empty() || static_cast<uint8_t>(s[0]) < 0x20) ? fallback : static_cast<uint8_t>(s[0]);
    };
    auto integer = [&](const char* group, const char* key, int fallback) {
        return kf.has(group, key) ? kf.get_int(group, key) : fallback;
    };
    GLOBAL_CONFIG d;  // built-in defaults
    config.ftype = first_byte("font", "defaultfont", d.ftype);
    config.font_h = clamp_font_dots(integer("font", "character_height", d.font_h));
    config.font_w = clamp_font_dots(integer("font", "character_width", d.font_w));
    config.bar_nwidth = integer("barcode", "module_with", d.bar_nwidth);
    config.bar_rat = kf.has("barcode", "width_ratio") ? kf.get_double("barcode", "width_ratio") : d.bar_rat;
    config.bar_h = integer("barcode", "barcode_height", d.bar_h);
    config.dfprefix = first_byte("command", "format_prefix", d.dfprefix);
    config.dcprefix = first_byte("command", "control_prefix", d.dcprefix);
    config.par_delim = first_byte("command", "parameter_delimiter", d.par_delim);
    constexpr int HOME_LIMIT = 32000;
    config.x_axis = std::clamp(integer("global", "x_axis", 0), -HOME_LIMIT, HOME_LIMIT);
    config.y_axis = std::clamp(integer("global", "y_axis", 0), -HOME_LIMIT, HOME_LIMIT);
    config.orien = first_byte("global", "orien", d.orien);
    config.inte_code = integer("global", "config.inte_code", 0);
    global.lab_len = std::clamp(integer("global", "label_len", 1218), 0, MAX_PAGE_ROWS);
    global.lab_width = integer("global", "label_width", 1728);
    global.x_record = global.y_record = 0;
    config.hex_ind = 0;
    config.label_reverse = false;
    config.print_inverted = false;
    config.typeset_from_top = integer("global", "typeset_from_top", 0) == 1;
}

void reset_text_defaults() {
    text.type = config.ftype;
    text.rotate = config.orien;
    text.boldvalue = 0;
    text.height = config.font_h;
    text.width = config.font_w;
}

void reset_position_defaults() {
    global.img_type = 1;
    global.x_loc = config.x_axis;
    global.y_loc = config.y_axis;
    global.typeset = false;
    global.field_reverse = false;
    global.block = FIELD_BLOCK{};
}

void reset_barcode_defaults() {
    std::memset(barcode_z.data, 0, sizeof barcode_z.data);
    barcode_z.height = config.bar_h;
    barcode_z.rotate = 'N';
    barcode_z.pdata = 'Y';
    barcode_z.pdata_above = 'N';
    barcode_z.digit = 'N';
    barcode_z.opt1 = barcode_z.opt2 = barcode_z.opt3 = 0;
    barcode_z.matrix_module = barcode_z.matrix_option1 = barcode_z.matrix_option2 = barcode_z.matrix_option3 = 0;
    barcode_z.escape = 0;
}

void set_text_rotation(uint8_t orientation) {
    switch (orientation) {
    case 'R': global_rotated_text_flag = 1; text_rotation_angle = 90; break;
    case 'I': global_rotated_text_flag = 1; text_rotation_angle = 180; break;
    case 'B': global_rotated_text_flag = 1; text_rotation_angle = 270; break;
    default: global_rotated_text_flag = 0; break;
    }
}

void start_zpl_job() {
    clock_gettime(CLOCK_MONOTONIC, &start);
    currentLeftMarginOffset = 0;
    global_height_of_job = 1500;
    label_length = 0;
    label_length_fixed = false;
    reset_text_defaults();
    reset_position_defaults();
    reset_barcode_defaults();
    global.creat_image = 0;
    global.fn_number = 0;
    // The typeset continuation belongs to the label: a field of this label is never placed as if
    // it continued one of an earlier label.
    global.x_record = global.y_record = 0;
    discard_render_state();
    new_render_state();
}

void end_zpl_job() {
    if (start_format_replay()) return;  // the recalled format's commands come first
    global.fn_number = 0;
    if (global.creat_image == 1) {
        page_turned = config.print_inverted;
        page_turn_width = global.lab_width;
        render_image_as_dotimage();
        new_render_state();
        global.creat_image = 0;
    } else {
        discard_render_state();
        new_render_state();
    }
    config.hex_ind = 0;
    global.lab_top = 0;
    std::memset(fn_char, 0, sizeof fn_char);
    clear_line_char();
}

void Font_type(uint8_t f) {
    add_line();
    if (f == '@') return;
    const char* o = next_par();
    uint8_t orientation = o[0] ? static_cast<uint8_t>(o[0]) : config.orien;
    int h = clamp_font_dots(next_par_int());
    int w = clamp_font_dots(next_par_int());
    text.type = f;
    text.rotate = orientation;
    if (h == 0 && w == 0) {
        h = config.font_h;
        w = config.font_w;
    }
    text.height = h;
    text.width = w;
    global.img_type = 1;
    set_text_rotation(orientation);
}

void default_font() {
    add_line();
    const char* f = next_par();
    if (f[0]) config.ftype = static_cast<uint8_t>(f[0]);
    int h = clamp_font_dots(next_par_int());
    int w = clamp_font_dots(next_par_int());
    if (h != 0 || w != 0) {
        config.font_h = h;
        config.font_w = w;
    }
    text.type = config.ftype;
    text.height = config.font_h;
    text.width = config.font_w;
}

std::string get_font_family(const std::string& font_name) {
    if (font_name.empty()) return "";
    FILE* f = std::fopen(FONTS_LIST_PATH.c_str(), "r");
    if (!f) return "";
    char line[256];
    std::string found;
    while (std::fgets(line, sizeof line, f)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        char* colon = std::strchr(line, ':');
        if (!colon) continue;
        *colon = '\0';
        char* rest = colon + 1;
        if (char* dot = std::strchr(rest, '.')) *dot = '\0';
        if (g_ascii_strncasecmp(rest, font_name.c_str(), font_name.size()) == 0 && std::strlen(rest) >= font_name.size()) {
            found = line;
            break;
        }
    }
    std::fclose(f);
    return found;
}

void def_font_type(uint8_t letter, const std::string& family) {
    int i = font_index(letter);
    if (i < 0 || family.empty()) return;
    copy_name(zpl_fonts[i], family);
}

void font_ident() {
    add_line();
    std::string letter = next_par();
    std::string object = next_par();
    if (letter.empty()) return;
    size_t colon = object.find(':');
    std::string name = colon == std::string::npos ? object : object.substr(colon + 1);
    name = name.substr(0, name.find('.'));
    std::string family = get_font_family(name);
    if (!family.empty()) def_font_type(static_cast<uint8_t>(letter[0]), family);
}

void change_code() {
    add_line();
    config.inte_code = next_par_int();
}

size_t convert_hex(const char* data, size_t n, char* out) {
    size_t o = 0;
    const char* end = data + n;
    for (const char* p = data; p < end;) {
        if (config.hex_ind != 0 && static_cast<uint8_t>(*p) == config.hex_ind && end - p >= 3) {
            out[o++] = static_cast<char>(hex_value(p + 1, end));
            p += 3;
        } else {
            out[o++] = *p++;
        }
    }
    return o;
}

size_t check_encoding(const char* data, size_t n, char* out, size_t out_size) {
    if (out_size == 0) return 0;
    Out o{out, out_size - 1};
    const int code = config.inte_code;
    if (code == 29 || code == 30) {
        const char* from = code == 29 ? "UTF-16BE" : "UTF-16LE";
        const char* end = data + n;
        std::vector<char> run;
        for (const char* p = data; p < end;) {
            bool escape = config.hex_ind != 0 && static_cast<uint8_t>(*p) == config.hex_ind && end - p >= 3;
            if (escape) {
                run.push_back(static_cast<char>(hex_value(p + 1, end)));
                p += 3;
                continue;
            }
            if (!run.empty()) {
                convert_append(from, run.data(), run.size(), o);
                run.clear();
            }
            o.put(*p++);
        }
        if (!run.empty()) convert_append(from, run.data(), run.size(), o);
    } else {
        std::vector<char> resolved(n + 1);
        size_t m = convert_hex(data, n, resolved.data());
        if (code == 26) {
            convert_append("GB18030", resolved.data(), m, o);
        } else if (single_byte_code_page(code) && !g_utf8_validate(resolved.data(), gssize(m), nullptr)) {
            // Bytes of a single-byte code page: each byte is its Windows-1252 character. Fields
            // that are UTF-8 (what the printer took so far) stay as they are.
            std::string text;
            for (size_t i = 0; i < m; ++i) append_cp1252(static_cast<uint8_t>(resolved[i]), text);
            o.put(text.data(), text.size());
        } else {
            o.put(resolved.data(), m);
        }
    }
    out[o.n] = '\0';
    return o.n;
}

void set_bit_font(uint8_t f, int h, int w) {
    FontRow row{};
    int index = font_index(f);
    bool known = font_row(f, row);
    double xs = 0, ys = 0;
    int points = 5, bold = 0;
    const char* family = zpl_fonts[font_index('1')];
    if (known) {
        family = zpl_fonts[index];
        points = row.points;
        bold = row.bold;
        double hm = double(h) / row.nh;
        double wm = double(w) / row.nw;
        if (h == 0) hm = wm;
        if (w == 0) wm = hm;
        switch (row.stretch) {
        case Stretch::Whole: xs = std::trunc(wm); ys = std::trunc(hm); break;
        case Stretch::Plain: xs = wm; ys = hm; break;
        case Stretch::Condensed: xs = wm * 0.7; ys = hm; break;
        }
    }
    if (text.rotate == 'R' || text.rotate == 'B') std::swap(xs, ys);  // they follow the turned axes
    set_font_description(family, points, bold, xs, ys);
}

static void font_rotation_location(double width, double height) {
    switch (text.rotate) {
    case 'R':
        global.x_loc += to_int(height * 3 / 2);
        label_length = std::max(label_length, global.x_loc);
        break;
    case 'I':
        global.x_loc += to_int(width);
        global.y_loc += to_int(height);
        break;
    case 'B':
        global.y_loc += to_int(2 * width / 3);
        label_length = std::max(label_length, global.y_loc);
        break;
    case 'N':
        break;
    default:
        global_rotated_text_flag = 0;
        break;
    }
}

namespace {
bool turned_sideways() { return text.rotate == 'R' || text.rotate == 'B'; }

// Logical width of a piece of text along its own direction in the pending font, in dots (the
// stretches were exchanged for text turned sideways).
double width_along(const std::string& s) {
    text_get_layout_dimensions(s.c_str(), int(s.size()));
    return pangoRectangle_logical.width * (turned_sideways() ? pango_yscale : pango_xscale);
}

// Distance from the top of the logical box to the baseline of the text last measured, in dots.
double baseline_dots() {
    if (!global_pango_layout) return 0;
    double across = turned_sideways() ? pango_xscale : pango_yscale;
    return double(pango_layout_get_baseline(global_pango_layout)) / PANGO_SCALE * across;
}

// Shows a piece of a block with the top-left corner of its box at (lx, ly) of the block, the
// block being w x h dots at the field origin and turned with the field.
void show_in_block(const std::string& s, double lx, double ly, double w, double h) {
    double x = global.x_loc, y = global.y_loc;
    switch (text.rotate) {
    case 'R': x += h - ly; y += lx; break;
    case 'I': x += w - lx; y += h - ly; break;
    case 'B': x += ly; y += w - lx; break;
    default: x += lx; y += ly; break;
    }
    set_text_rotation(text.rotate);
    fill_pango_layout(to_int(std::floor(x + 0.5)), to_int(std::floor(y + 0.5)), s.c_str());
}

// ^FB: the text in lines wrapped within the block's width, justified, the lines beyond the most
// the block takes printed over its last line.
void draw_text_block(const std::string& utf8) {
    const FIELD_BLOCK& b = global.block;
    std::vector<BlockLine> lines = wrap_block(utf8, b, width_along);
    if (lines.empty()) return;
    int most = std::clamp(b.lines, 1, 9999);
    size_t rows = std::min(lines.size(), size_t(most));
    text_get_layout_dimensions("X", 1);
    double across = turned_sideways() ? pango_xscale : pango_yscale;
    double font_dots = text.height > 0 ? text.height : pangoRectangle_logical.height * across;
    double pitch = std::max(1.0, font_dots + b.spacing);
    double baseline = baseline_dots();
    double block_w = b.width;
    if (block_w <= 0)
        for (const BlockLine& l : lines) block_w = std::max(block_w, width_along(l.text));
    // A typeset block stands on the baseline of its last line.
    double top = 0;
    if (global.typeset) top = -(double(rows - 1) * pitch + (config.typeset_from_top ? baseline : font_dots * 3 / 4));
    double block_h = double(rows) * pitch;
    if (global.typeset) {  // the block's box starts at its top
        global.y_loc = to_int(global.y_loc + top);
        top = 0;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const BlockLine& l = lines[i];
        double ly = top + double(std::min(i, rows - 1)) * pitch;
        double indent = l.paragraph_start ? 0 : b.indent;
        double room = (b.width > 0 ? block_w : width_along(l.text)) - indent;
        if (b.justify == 'J' && !l.paragraph_end && b.width > 0) {
            std::vector<std::string> words;
            for (size_t from = 0; from <= l.text.size();) {
                size_t blank = std::min(l.text.find(' ', from), l.text.size());
                if (blank > from) words.push_back(l.text.substr(from, blank - from));
                from = blank + 1;
            }
            if (words.size() >= 2) {
                std::vector<double> widths;
                double sum = 0;
                for (const std::string& w : words) sum += widths.emplace_back(width_along(w));
                double gap = (room - sum) / double(words.size() - 1);
                double lx = indent;
                for (size_t k = 0; k < words.size(); ++k) {
                    show_in_block(words[k], lx, ly, block_w, block_h);
                    lx += widths[k] + gap;
                }
                continue;
            }
        }
        double lx = indent;
        if (b.justify == 'C' || b.justify == 'R') {
            // Placed by the ink of the line, so that what is seen is centred or flush right.
            text_get_layout_dimensions(l.text.c_str(), int(l.text.size()));
            double along = turned_sideways() ? pango_yscale : pango_xscale;
            double ink_x = pangoRectangle_ink.x * along, ink_w = pangoRectangle_ink.width * along;
            if (ink_w > 0) lx += (b.justify == 'C' ? (room - ink_w) / 2 : room - ink_w) - ink_x;
        }
        show_in_block(l.text, lx, ly, block_w, block_h);
    }
    global.x_record = to_int(double(global.x_loc) + block_w);
}
}  // namespace

std::vector<BlockLine> wrap_block(const std::string& text, const FIELD_BLOCK& block,
                                  double (*measure)(const std::string&)) {
    // Paragraphs end at "\&"; "\\" is a backslash.
    std::vector<std::string> paragraphs(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '&' || text[i + 1] == '\\')) {
            if (text[i + 1] == '&') paragraphs.emplace_back();
            else paragraphs.back() += '\\';
            ++i;
            continue;
        }
        paragraphs.back() += text[i];
    }
    std::vector<BlockLine> lines;
    const double space = block.width > 0 ? measure(" ") : 0;
    for (const std::string& p : paragraphs) {
        size_t first = lines.size();
        std::string line;
        double line_w = 0;
        size_t from = 0;
        while (from <= p.size()) {
            size_t blank = p.find(' ', from);
            if (blank == std::string::npos) blank = p.size();
            std::string word = p.substr(from, blank - from);
            from = blank + 1;
            if (word.empty()) continue;
            // Widths add up word by word: each word is measured once.
            double w = block.width > 0 ? measure(word) : 0;
            double room = block.width - (lines.size() == first ? 0 : block.indent);
            if (line.empty()) {
                line = word;
                line_w = w;
            } else if (block.width <= 0 || line_w + space + w <= room) {
                line += " " + word;
                line_w += space + w;
            } else {
                lines.push_back({line});
                line = word;
                line_w = w;
            }
        }
        lines.push_back({line});
        lines[first].paragraph_start = true;
        lines.back().paragraph_end = true;
    }
    return lines;
}

void draw_text_field(const char* data, size_t n) {
    std::vector<char> utf8(2 * n + 1);
    check_encoding(data, n, utf8.data(), utf8.size());
    set_bit_font(text.type, text.height, text.width);
    if (global.block.on) {
        draw_text_block(utf8.data());
        reset_text_defaults();
        return;
    }
    TextSize size = text_get_layout_dimensions(utf8.data(), 0);
    double baseline = baseline_dots();
    // The turn follows the field's own orientation, whether it came from ^A or from ^FW.
    set_text_rotation(text.rotate);
    font_rotation_location(size.width, size.height);
    int y = global.y_loc;
    if (global.typeset && config.typeset_from_top && text.rotate == 'N')
        y = to_int(global.y_loc - baseline);  // the baseline at y
    else if (global.typeset)
        y = to_int(global.y_loc - size.height * 3 / 4);  // typeset: baseline near y
    // (Only a position given by ^FT is typeset: a field whose origin merely equals the end of the
    // text before it, which a text of no measured width makes its own x, stays on its origin.)
    fill_pango_layout(global.x_loc, y, utf8.data());
    global.x_record = to_int(double(global.x_loc) + size.width);
    reset_text_defaults();
}

namespace {
// The page's own recording while a reversed field is drawn into a recording of its own.
cairo_surface_t* field_ink_surface = nullptr;
cairo_t* page_context = nullptr;
}

// The field is drawn on a recording of its own, made into a picture of its ink and composited onto
// the page with XOR. (Groups of the page's recording would be replayed inside its replay, which
// the drawing library cannot do with text twice on one page: it waits on its own lock.)
void begin_field_ink() {
    if (!(global.field_reverse || config.label_reverse) || !recording_cairo_context || page_context) return;
    cairo_rectangle_t extents{RECORDING_X0, RECORDING_Y0, RECORDING_WIDTH, RECORDING_HEIGHT};
    field_ink_surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, &extents);
    page_context = recording_cairo_context;
    recording_cairo_context = cairo_create(field_ink_surface);
    cairo_set_antialias(recording_cairo_context, CAIRO_ANTIALIAS_GRAY);
}

void end_field_ink() {
    if (!page_context) return;
    cairo_destroy(recording_cairo_context);
    recording_cairo_context = page_context;
    page_context = nullptr;
    double x0 = 0, y0 = 0, w = 0, h = 0;
    cairo_recording_surface_ink_extents(field_ink_surface, &x0, &y0, &w, &h);
    // Only the part that can reach the page becomes a picture (and is charged to the page).
    double page_left = -currentLeftMargin, page_top = -label_top;
    double right = std::min(x0 + w, page_left + PRINTHEAD_DOT_WIDTH);
    double bottom = std::min(y0 + h, page_top + MAX_PAGE_ROWS);
    x0 = std::max(x0, page_left);
    y0 = std::max(y0, page_top);
    int left = int(std::floor(x0)), top = int(std::floor(y0));
    int width = int(std::ceil(right)) - left, height = int(std::ceil(bottom)) - top;
    if (width > 0 && height > 0 && page_may_draw(left, top, left + width, top + height, double(width) * height)) {
        // A 1-bit picture (a dot is ink where it is at least half covered), as the page has it.
        cairo_surface_t* cover = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
        cairo_t* icr = cairo_create(cover);
        cairo_set_source_surface(icr, field_ink_surface, -left, -top);
        cairo_paint(icr);
        cairo_destroy(icr);
        cairo_surface_t* ink = a1_from_coverage(cover);
        cairo_surface_destroy(cover);
        cairo_t* cr = recording_cairo_context;
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_XOR);
        cairo_set_source_surface(cr, ink, left, top);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(ink);
    }
    cairo_surface_destroy(field_ink_surface);
    field_ink_surface = nullptr;
}

// An empty field draws nothing and keeps the field origin for what follows up to ^FS (a graphic
// field written after an empty ^FD lands at the origin given for it).
static void draw_pending_field(const char* data, size_t n) {
    global.creat_image = 1;
    if (n == 0) return;
    global.y_record = global.y_loc;
    if (global.x_loc < 1 || global.x_loc > PRINTHEAD_DOT_WIDTH) global.x_loc = 1;
    if (global.y_loc < 1) global.y_loc = 1;
    begin_field_ink();
    switch (global.img_type) {
    case 1:
        draw_text_field(data, n);
        break;
    default:  // barcodes (kinds 2, 3, 4)
        draw_barcode_field(data, n);
        reset_barcode_defaults();
        break;
    }
    end_field_ink();
    reset_position_defaults();
}

// Numbered fields: a label that recalls a stored format gives the data of its fields with
// ^FNn^FD...; the format's own ^FNn places that data (its ^FD, if any, is the default).
void fd_data() {
    add_line();
    const char* data = line_char.com_char;
    if (global.fn_number > 0) {
        char* stored = fn_char[global.fn_number - 1];
        global.fn_number = 0;
        if (format_recalled()) {
            g_strlcpy(stored, data, STORED_FIELD_BYTES);
            reset_position_defaults();
            return;
        }
        if (format_replaying() && stored[0]) data = stored;
    }
    draw_pending_field(data, std::strlen(data));
}

void fn_data() {
    add_line();
    int n = next_par_int();
    global.fn_number = (n >= 1 && n <= STORED_FIELDS) ? n : 0;
}

void read_hex() {
    add_line();
    const char* c = next_par();
    config.hex_ind = c[0] ? static_cast<uint8_t>(c[0]) : '_';
}

void fo_location() {
    add_line();
    int x = next_par_int();
    int y = next_par_int();
    global.x_loc = x + config.x_axis;
    global.y_loc = y + config.y_axis;
    global.typeset = false;
    label_length = std::max(label_length, global.y_loc);
}

void fs_dataend() {
    if (global.fn_number > 0) {  // a numbered field of a format without ^FD of its own
        const char* stored = fn_char[global.fn_number - 1];
        global.fn_number = 0;
        if (format_replaying() && stored[0]) draw_pending_field(stored, std::strlen(stored));
    }
    reset_text_defaults();
    reset_position_defaults();
}

void ft_loc() {
    add_line();
    int x = next_par_int();
    int y = next_par_int();
    global.x_loc = global.x_record;
    global.y_loc = global.y_record;
    global.typeset = true;
    if (x == 0 && y == 0) return;
    global.x_loc = x + config.x_axis;
    // This printer counts the y of a typeset position up from the label length; with the
    // settings key typeset_from_top it counts down from the top, as most hosts mean it.
    global.y_loc = (config.typeset_from_top ? y : global.lab_len - y) + config.y_axis;
    global.x_record = global.x_loc;
    global.y_record = global.y_loc;
}

void fw_orientation() {
    add_line();
    const char* o = next_par();
    config.orien = static_cast<uint8_t>(o[0]);
    if (config.orien == 0) config.orien = 'N';
    text.rotate = config.orien;
    set_text_rotation(config.orien);
}

void set_dot_inch() {
    add_line();
    const char* m = next_par();
    label_scale = m[0] == 'B' ? 2 : 1;
}

void lab_home() {
    add_line();
    config.x_axis = next_par_int();
    config.y_axis = next_par_int();
    global.x_loc = config.x_axis;
    global.y_loc = config.y_axis;
}

void lab_len() {
    add_line();
    int n = std::clamp(next_par_int(), 0, MAX_PAGE_ROWS);
    label_length = global.lab_len = n;
    label_length_fixed = n > 0;
}

void prn_width() {
    add_line();
    int n = next_par_int();
    label_width = global.lab_width = n;
}

void media_darkness() {
    add_line();
    int n = next_par_int();
    int contrast = std::clamp(get_current_contrast() + n / 3, 0, 10);
    set_current_contrast(contrast);
}

void set_contrast() {
    add_line();
    set_current_contrast(next_par_int() / 3);
}

// ^FBw,l,s,j,i: block width, most lines (1), line spacing, justification (L), hanging indent.
void field_block() {
    add_line();
    FIELD_BLOCK& b = global.block;
    b.on = true;
    b.width = std::clamp(next_par_int(), 0, MAX_POSITION_DOTS);
    const char* lines = next_par();
    b.lines = lines[0] ? std::clamp(par_to_int(lines), 1, 9999) : 1;
    b.spacing = std::clamp(next_par_int(), -9999, 9999);
    const char* j = next_par();
    int letter = g_ascii_toupper(j[0]);
    b.justify = (letter == 'C' || letter == 'R' || letter == 'J') ? static_cast<uint8_t>(letter) : 'L';
    b.indent = std::clamp(next_par_int(), 0, 9999);
}

void field_reverse() {
    add_line();
    global.field_reverse = true;
}

// ^LRY / ^LRN: every later field inverts what lies below it, until ^LRN.
void label_reverse() {
    add_line();
    const char* p = next_par();
    int c = g_ascii_toupper(p[0]);
    if (c == 'Y') config.label_reverse = true;
    else if (c == 'N') config.label_reverse = false;
}

// ^POI turns the printed page by 180 degrees (^PON back to normal); it stays so for later labels.
void print_orientation() {
    add_line();
    const char* p = next_par();
    int c = g_ascii_toupper(p[0]);
    if (c == 'I') config.print_inverted = true;
    else if (c == 'N') config.print_inverted = false;
}
