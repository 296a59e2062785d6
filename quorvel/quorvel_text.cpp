// Pitches, named fonts, emphasis and double sizes, and the lines of text.
//
// Text runs separated by controls (a pitch change, emphasis, double size) stay on one line: each
// run starts where the previous one ended, and the runs are drawn on a common baseline when the
// line ends at its line feed (or before a barcode, graphic, logo or form feed). The cursor then
// moves down by the tallest run: its logical height and the line spacing, both stretched by the
// run's vertical scale.
#include "quorvel.h"

#include "image_builder.h"

#include <glib.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
std::string trimmed(const std::string& s) {
    gchar* t = g_strstrip(g_strdup(s.c_str()));
    std::string out = t;
    g_free(t);
    return out;
}

void apply_font(const std::string& family, int size, int weight, double sx, double sy) {
    if (!global_pango_font_description) global_pango_font_description = pango_font_description_new();
    pango_font_description_set_family(global_pango_font_description, family.c_str());
    pango_font_description_set_size(global_pango_font_description, size);
    pango_font_description_set_weight(global_pango_font_description, static_cast<PangoWeight>(weight));
    update_font_description();
    pango_xscale = sx;
    pango_yscale = sy;
}

// Measures the run with its font: width (unscaled), logical height and baseline.
void measure(QuorvelRun& run, double& width) {
    apply_font(run.family, run.size, run.weight, run.sx, run.sy);
    text_get_layout_dimensions(run.text.c_str(), 0);
    width = pangoRectangle_logical.width;
    run.height = pangoRectangle_logical.height;
    run.baseline = global_pango_layout ? double(pango_layout_get_baseline(global_pango_layout)) / PANGO_SCALE : 0;
}

QuorvelRun current_font_run(const QuorvelState& q) {
    QuorvelRun run;
    run.family = q.layoutFamily;
    run.size = q.globalFontSize;
    run.weight = q.globalFontWeight;
    run.sx = q.scaleX;
    run.sy = q.scaleY;
    return run;
}
}  // namespace

void select_pitch(QuorvelState& q, int index) {
    index = std::clamp(index, 0, QUORVEL_PITCHES - 1);
    const QuorvelPitch& p = q.mappedFonts[size_t(index)];
    q.currentlySelectedFont = index;
    q.namedFont = 0;
    double units = std::trunc(q.MAGIC_CPI_NUMERATOR / p.PITCH * 1024);
    q.globalFontSize = std::isfinite(units) ? int(std::clamp(units, 1024.0, 1024.0 * 1000)) : 10 * 1024;
    q.globalFontWeight = q.emphasizedOn ? 900 : p.WEIGHT;
    q.scaleY = p.YSCALE * (q.doubleHi ? 2.0 : 1.0);
    q.scaleX = p.XSCALE * (q.doubleWide ? 2.0 : 1.0);
    q.layoutFamily = trimmed(q.currentFontFamily);
}

void select_default_pitch(QuorvelState& q) {
    int index = 1;
    if (std::fabs(q.configCPI - 4.2) < 1e-9) {
        index = 15;
    } else {
        for (int i = 0; i < QUORVEL_PITCHES; ++i)
            if (q.mappedFonts[size_t(i)].PITCH == q.configCPI) {
                index = i;
                break;
            }
    }
    select_pitch(q, index);
}

void select_named_font(QuorvelState& q, char letter) {
    if (letter < 'A' || letter > 'Z') return;
    size_t index = size_t(letter - 'A');
    if (index >= q.font_table.size() || q.font_table[index].empty()) return;  // no such font: unchanged
    q.layoutFamily = q.font_table[index];
    q.namedFont = letter;
}

void set_emphasis(QuorvelState& q, bool on) {
    q.emphasizedOn = on;
    if (q.namedFont)
        q.globalFontWeight = on ? 900 : 400;
    else
        select_pitch(q, q.currentlySelectedFont);
}

void set_double_height(QuorvelState& q, bool on) {
    q.doubleHi = on;
    if (q.namedFont)
        q.scaleY = on ? 2.0 : 1.0;
    else
        select_pitch(q, q.currentlySelectedFont);
}

void set_double_size(QuorvelState& q, bool on) {
    q.doubleHi = q.doubleWide = on;
    if (q.namedFont)
        q.scaleX = q.scaleY = on ? 2.0 : 1.0;
    else
        select_pitch(q, q.currentlySelectedFont);
}

void make_room(QuorvelState& q, double rows) {
    if (q.boundingBox_y > 0 && q.boundingBox_y + rows > MAX_PAGE_ROWS) finish_page(q);
}

void print_text(QuorvelState& q, const char* text, size_t length, bool feed) {
    if (length > 0) {
        if (q.line.size() >= QUORVEL_LINE_RUNS_MAX) line_feed(q);
        QuorvelRun run = current_font_run(q);
        run.text.assign(text, std::min(length, QUORVEL_RUN_MAX));
        double width = 0;
        measure(run, width);
        run.x = q.line_x;
        q.line_x += width * run.sx;
        if (run.x < PRINTHEAD_DOT_WIDTH) q.line.push_back(std::move(run));  // beyond the head: not seen
    }
    if (feed) line_feed(q);
}

void line_feed(QuorvelState& q) {
    if (q.line.empty()) {
        QuorvelRun run = current_font_run(q);
        double width = 0;
        measure(run, width);
        double advance = run.height * q.POINT_TO_PRINTHEAD_PIXEL * run.sy + q.currentLineSpacing * run.sy;
        make_room(q, advance);
        q.boundingBox_y += advance;
        return;
    }
    double base = 0;
    for (const QuorvelRun& r : q.line) base = std::max(base, r.baseline * r.sy);
    double advance = 0;
    for (const QuorvelRun& r : q.line)
        advance = std::max(advance, base - r.baseline * r.sy + r.height * q.POINT_TO_PRINTHEAD_PIXEL * r.sy +
                                        q.currentLineSpacing * r.sy);
    make_room(q, advance);
    global_line_print_enabled_flag = 0;
    for (const QuorvelRun& r : q.line) {
        apply_font(r.family, r.size, r.weight, r.sx, r.sy);
        text_get_layout_dimensions(r.text.c_str(), 0);
        double top = q.boundingBox_y + base - r.baseline * r.sy;
        fill_pango_layout(int(std::lround(r.x)), int(std::lround(top)), r.text.c_str());
    }
    q.boundingBox_y += advance;
    q.line.clear();
    q.line_x = q.currentLeftMarginOffset;
}

void end_pending_line(QuorvelState& q) {
    if (!q.line.empty()) line_feed(q);
}
