// The label life cycle: the "!" header, PRINT and the dot images of a label, copies of a label
// with counters, and the settings commands (page width, contrast, units, margins).
#include "cpcl_commands.h"
#include "cpcl_input.h"

#include "image_builder.h"
#include "run.h"
#include "settings.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cpcl {

void fresh_page(CpclState& s) {
    discard_render_state();
    new_render_state();
    // The page is recorded within what can ever be seen of it: across the head (and as far again
    // to the left, for offsets), down the longest page. Drawing beyond is dropped as it is
    // recorded, so that nothing far off the page reaches the rasteriser.
    double hres = s.lp_mode ? PRINTHEAD_DPI : s.hres, vres = s.lp_mode ? PRINTHEAD_DPI : s.vres;
    double width = std::ceil(PRINTHEAD_DOT_WIDTH * hres / PRINTHEAD_DPI) + 2;
    double height = std::ceil(std::clamp(s.rows_max, 1, MAX_PAGE_ROWS) * vres / PRINTHEAD_DPI) + 2;
    cairo_rectangle_t page{-width, -2, 2 * width, height + 2};
    cairo_destroy(recording_cairo_context);
    cairo_surface_destroy(recording_surface);
    recording_surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, &page);
    cairo_surface_set_fallback_resolution(recording_surface, PRINTHEAD_DPI, PRINTHEAD_DPI);
    recording_cairo_context = cairo_create(recording_surface);
    cairo_set_antialias(recording_cairo_context, CAIRO_ANTIALIAS_GRAY);
    if (global_pango_context) pango_cairo_update_context(recording_cairo_context, global_pango_context);
    update_layout_context();
    pangoRectangle_ink = PangoRectangle{0, 0, 0, 0};
    pangoRectangle_logical = PangoRectangle{0, 0, 0, 0};
    global_rotated_text_flag = 0;
    rotate_barcode = 0;
}

void bang_line(CpclState& s, const std::string& line, const Words& w) {
    std::string second = w.has(1) ? w[1] : "";
    if (second == "U" || second == "U1" || second == "UTILITIES") {
        enter_line_printer(s);
        if (second != "U1") return;
        // The rest of a "! U1" line is a command of its own: after the first "^" when there is
        // one, else after "U1".
        std::string_view rest = without_line_end(line);
        size_t caret = rest.find('^');
        if (caret != std::string_view::npos) {
            rest = rest.substr(caret + 1);
        } else {
            size_t u1 = rest.find("U1");
            rest = rest.substr(u1 + 2);
        }
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (!rest.empty()) dispatch_line(s, std::string(rest) + "\r\n");
        return;
    }
    if (second == "DEFINE-FORMAT" || second == "DF") {
        define_format(s, w);
        return;
    }
    if (second == "USE-FORMAT" || second == "UF") {
        use_format(s, w);
        return;
    }
    start_label(s, line, w);
}

void start_label(CpclState& s, const std::string& line, const Words& w) {
    s.lp_mode = false;
    s.height = 0;
    s.offset = std::max(0, int_word(w, 1, 0));
    // Resolutions below 50 dpi would blow the label up beyond any page.
    auto resolution = [](int v) { return v <= 0 ? 203 : std::clamp(v, 50, 2400); };
    s.hres = resolution(int_word(w, 2, 0));
    s.vres = resolution(int_word(w, 3, 0));
    s.height = std::clamp(int_word(w, 4, 0), 0, 100000);
    // The quantity ends at "^" (a header may carry more after it).
    long qty = 1;
    if (w.has(5)) {
        std::string q = w[5].substr(0, w[5].find('^'));
        if (!parse_int(q, qty)) qty = 1;
    }
    s.quantity = int(std::clamp(qty, -1L, long(std::max(1, s.copies_max))));
    s.in_label = true;
    s.unit = 1;
    s.collect = Collect::None;
    s.symbol_data.clear();
    s.concat_open = false;
    fresh_page(s);
    if (s.quantity >= 2 && !s.replaying) {
        s.capturing = true;
        s.captured.clear();
        s.captured.push_back({line, {}, false});
        s.captured_bytes = line.size();
    }
}

int label_rows(const CpclState& s) {
    double yscale = double(PRINTHEAD_DPI) / s.vres;
    double h;
    if (s.height > 0)
        h = s.height * yscale;
    else if (s.mark_seek == 3 && s.label_length > 0)
        h = s.label_length;
    else
        h = 1;
    // Room for the part of the last text line that lies outside its ink.
    h += std::trunc((pangoRectangle_logical.height - pangoRectangle_ink.height) / 2.0);
    if (!std::isfinite(h) || h < 1) return 1;
    return int(std::min<double>(h, MAX_PAGE_ROWS));
}

namespace {
// Waits until the print engine has taken this process's previous dot image, saying so now and
// then when that takes long.
void wait_for_engine() {
    for (int polls = 0; access(nameBuff.c_str(), F_OK) == 0; ++polls) {
        if (polls > 0 && polls % 1000 == 0)
            std::fprintf(stderr, "cpcl_interp: waiting %d s for the print engine to take %s\n", polls / 100,
                         nameBuff.c_str());
        dbg("wait\r");
        sleep_ms(10);
    }
    start_one_pbm();  // the file is gone: marks the new image
}
}  // namespace

void write_page(CpclState& s, int rows, double xscale, double yscale, int copies) {
    rows = std::clamp(rows, 1, std::clamp(s.rows_max, 1, MAX_PAGE_ROWS));
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, PRINTHEAD_DOT_WIDTH, rows);
    cairo_t* cr = cairo_create(image);
    if (recording_surface) {
        cairo_translate(cr, s.left_margin, 0);
        cairo_scale(cr, xscale, yscale);
        cairo_set_source_surface(cr, recording_surface, s.offset, 0);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    for (int i = 0; i < copies; ++i) {
        wait_for_engine();
        write_dotimage(image);
        ++s.images_written;
        if (s.image_written) s.image_written(nameBuff);
    }
    cairo_surface_destroy(image);
}

void print_command(CpclState& s) {
    if (s.capturing) return;  // (kept lines are handled by capture_line)
    if (s.in_label && !s.lp_mode && s.quantity >= 1)
        write_page(s, label_rows(s), double(PRINTHEAD_DPI) / s.hres, double(PRINTHEAD_DPI) / s.vres, s.quantity);
    fresh_page(s);
    s.in_label = false;
    s.collect = Collect::None;
    s.symbol_data.clear();
    s.concat_open = false;
    s.page_width = PRINTHEAD_DOT_WIDTH;
    s.data_start = true;
}

// ---- copies -------------------------------------------------------------------------------------

namespace {
bool is_print(std::string_view line) {
    Words w = split_words(line);
    return w.size() >= 1 && w[0] == "PRINT";
}

// Words before the data of the lines that counters count in.
size_t counted_params(std::string_view line) {
    Words w = split_words(line);
    if (w.size() == 0) return 0;
    const std::string& c = w[0];
    if (c == "TEXT" || c == "T" || c == "TEXT90" || c == "VTEXT" || c == "T90" || c == "VT" || c == "TEXT180" ||
        c == "T180" || c == "TEXT270" || c == "T270")
        return 5;
    if (c == "BARCODE" || c == "B" || c == "VBARCODE" || c == "VB") {
        if (w.has(1) && (w[1] == "PDF-417" || w[1] == "QR")) return 0;  // its data is on other lines
        return 7;
    }
    return 0;
}

// Replays one kept line: a picture line reads its bytes from what was kept with it and nothing
// else.
void replay(CpclState& s, const CapturedLine& item) {
    if (!item.picture) {
        dispatch_line(s, item.text);
        return;
    }
    push_source(s, item.binary, true);
    s.binary_follows = true;
    dispatch_line(s, item.text);
    s.binary_follows = false;
    pop_source(s);
}
}  // namespace

bool find_counter(const std::string& line, Counter& c) {
    size_t params = counted_params(line);
    if (params == 0) return false;
    size_t start = data_offset(line, params);
    if (start == std::string::npos || start >= line.size()) return false;
    size_t end = line.find_first_of("^\r\n", start);
    if (end == std::string::npos) end = line.size();
    // The number starts at the first digit 1 to 9; zeros right before it belong to its field.
    size_t first = std::string::npos;
    for (size_t i = start; i < end; ++i)
        if (line[i] >= '1' && line[i] <= '9') {
            first = i;
            break;
        }
    if (first == std::string::npos) {
        // All zeros: the first run of them counts from 0.
        for (size_t i = start; i < end; ++i)
            if (line[i] == '0') {
                first = i;
                break;
            }
        if (first == std::string::npos) return false;
    }
    size_t field = first;
    while (field > start && line[field - 1] == '0') --field;
    size_t last = first;
    while (last < end && last - first < 18 && line[last] >= '0' && line[last] <= '9') ++last;
    c.pos = field;
    c.width = last - field;
    c.value = std::stoll(line.substr(first, last - first));
    return true;
}

std::string counter_text(long long value, size_t width) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%0*lld", int(std::min<size_t>(width, 30)), value);
    return buf;
}

void capture_line(CpclState& s) {
    CapturedLine item{s.line, {}, false};
    Words w = split_words(s.line);
    if (s.binary_follows && w.has(0) && picture_command(w[0])) {
        item.picture = true;
        item.binary = read_picture_bytes(s, s.line);
    }
    s.captured_bytes += item.text.size() + item.binary.size();
    bool end = is_print(item.text);
    s.captured.push_back(std::move(item));
    if (end)
        finish_capture(s, true);
    else if (s.captured_bytes > CAPTURE_MAX)
        finish_capture(s, false);  // too much to keep: the rest is read as it comes
}

void finish_capture(CpclState& s, bool complete) {
    s.capturing = false;
    std::vector<CapturedLine> items = std::move(s.captured);
    s.captured.clear();
    s.captured_bytes = 0;
    if (items.empty()) return;
    int copies = s.quantity;
    s.replaying = true;

    // Counters: a COUNT line right after a text or barcode line counts the number in its data.
    std::vector<CapturedLine> lines;
    std::vector<Counter> counters;
    size_t next_counter = 0;
    bool counting = false;
    if (complete) {
        for (size_t i = 1; i < items.size(); ++i) {
            Words w = split_words(items[i].text);
            if (w.has(0) && w[0] == "COUNT") {
                counting = true;
                break;
            }
        }
    }
    if (counting) {
        char head[128];
        std::snprintf(head, sizeof head, "! %d %d %d %d 1\r\n", s.offset, s.hres, s.vres, s.height);
        lines.push_back({head, {}, false});
        bool after_counted = false;
        for (size_t i = 1; i < items.size(); ++i) {
            Words w = split_words(items[i].text);
            if (w.has(0) && w[0] == "COUNT" && after_counted) {
                Counter c;
                if (find_counter(lines.back().text, c)) {
                    c.line = lines.size() - 1;
                    c.increment = int_word(w, 1, 1);
                    if (counters.size() < size_t(COUNTERS_MAX))
                        counters.push_back(c);
                    else
                        counters[next_counter % COUNTERS_MAX] = c;  // a fourth replaces the first
                    ++next_counter;
                }
                after_counted = false;
                continue;
            }
            after_counted = counted_params(items[i].text) != 0;
            lines.push_back(items[i]);
        }
        for (int copy = 0; copy < copies; ++copy) {
            if (copy > 0) {
                for (Counter& c : counters) {
                    c.value = std::clamp(c.value + c.increment, -999999999999999999LL, 999999999999999999LL);
                    std::string text = counter_text(c.value, c.width);
                    // A value that grows a digit widens its field: the rest of the line moves on.
                    lines[c.line].text.replace(c.pos, c.width, text);
                    c.width = text.size();
                }
            }
            for (const CapturedLine& item : lines) replay(s, item);
        }
    } else {
        for (size_t i = 1; i < items.size(); ++i) replay(s, items[i]);
    }
    s.replaying = false;
}

// ---- settings commands ----------------------------------------------------------------------------

void h_page_width(CpclState& s, const std::string&, const Words& w) {
    int width = int(dots_word(s, w, 1, 0));
    s.page_width = width > 0 ? std::min(width, 100000) : PRINTHEAD_DOT_WIDTH;
}

void h_contrast(CpclState& s, const std::string&, const Words& w) {
    switch (int_word(w, 1, 0)) {
    case 1: s.contrast = 4; break;
    case 2: s.contrast = 6; break;
    case 3: s.contrast = 8; break;
    default: s.contrast = 2; break;
    }
    if (s.set_contrast) s.set_contrast(s.contrast);
}

void h_prefeed(CpclState& s, const std::string&, const Words& w) { s.prefeed = int_word(w, 1, 0); }

void h_lmargin(CpclState& s, const std::string&, const Words& w) {
    s.offset = std::clamp(int(dots_word(s, w, 1, 0)), 0, 100000);
}

void h_units(CpclState& s, const std::string&, const Words& w) {
    const std::string& u = w[0];
    s.unit = u == "IN-INCHES" ? 203 : u == "IN-CENTIMETERS" ? 80 : u == "IN-MILLIMETERS" ? 8 : 1;
}

}  // namespace cpcl
