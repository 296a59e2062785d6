// The configuration page's markup, drawn with the rendering library and written as one dot image.
//
// The cursor: x is the list column (0, 576 or 1152), y the top of the current row less 30. Text is
// drawn at (x + left margin, y + 30) and does not move y; [FILL_LINE] and [LINE] move it down 30
// dots, pictures and barcodes (placed at y + 30 too) by their height, an empty line by 30.
#include "selftest_state.h"

#include "dot_image.h"
#include "image_builder.h"
#include "render_shapes.h"
#include "render_symbols.h"
#include "run.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ROW = 30;

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void apply_font(SelftestState& s) {
    if (!global_pango_font_description) global_pango_font_description = pango_font_description_new();
    pango_font_description_set_family(global_pango_font_description, s.font_family.c_str());
    pango_font_description_set_size(global_pango_font_description, s.font_size);
    pango_font_description_set_weight(global_pango_font_description, PangoWeight(s.font_weight));
    update_font_description();
}

void draw_text(SelftestState& s, const std::string& text, bool underline) {
    if (text.empty()) return;
    apply_font(s);
    if (underline) {
        global_pango_text_attribute = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
        update_text_attributes();
    }
    int x = s.horizontal_loc + s.left_margin_dots;
    if (s.centre) {
        TextSize size = text_get_layout_dimensions(text.c_str(), 0);
        x = std::max(0, int(PRINTHEAD_DOT_WIDTH - size.width) / 2);
    }
    fill_pango_layout(x, int(s.page_y) + ROW, text.c_str());
    if (underline) init_text_attributes();
}

void draw_barcode(SelftestState& s, const std::string& fields) {
    std::istringstream in(fields);
    int symbology = 0, scale = 0, height = 0;
    std::string hr;
    if (!(in >> symbology >> hr >> scale >> height)) return;
    std::string data;
    std::getline(in, data);
    size_t first = data.find_first_not_of(' ');
    data = first == std::string::npos ? "" : data.substr(first);
    data = data.substr(0, data.find('^'));
    if (data.empty() || scale < 1 || scale > 20 || height < 1 || height > 500) return;
    unsigned char show = hr == "Z" ? 1 : 0;
    int rc = symbology == 58
                 ? generate_qr_barcode_symbol(symbology, scale, height, scale, data.c_str(), int(data.size()), show, 2)
                 : generate_barcode_symbol(symbology, scale, height, scale, data.c_str(), int(data.size()), show);
    if (rc != 0) {
        release_barcode();
        return;
    }
    double top = s.page_y + ROW, drawn = 0;
    if (s.centre) {
        // The library centres a symbol across the head in line-print mode, at the running position.
        double keep = boundingBox_y;
        boundingBox_y = top - currentLineSpacing;
        enable_global_line_print();
        drawn = render_and_place_barcode(0, 0);
        disable_global_line_print();
        boundingBox_y = keep;
    } else {
        drawn = render_and_place_barcode(s.horizontal_loc + s.left_margin_dots, int(top));
    }
    release_barcode();
    s.page_y += drawn;
}

void markup_line(SelftestState& s, const std::string& line) {
    if (line.empty()) {
        s.page_y += ROW;
    } else if (line == "[TITLE]") {
        s.font_size = 25600;
        s.font_weight = 900;
    } else if (line == "[HEADER]") {
        s.font_size = 0x3800;
        s.font_weight = 700;
    } else if (line == "[BOLD]") {
        s.font_weight = 700;
        s.small = false;
    } else if (line == "[SMALL]") {
        s.font_size = 10240;
        s.small = true;
    } else if (line == "[XSMALL]") {
        s.font_size = 8192;
    } else if (line == "[RESET]") {
        s.font_size = 0x3000;
        s.font_weight = 400;
    } else if (line == "[CENTERON]") {
        s.centre = true;
        s.horizontal_loc = 0;
    } else if (line == "[CENTEROFF]") {
        s.centre = false;
    } else if (line == "[LEFTLIST]") {
        s.horizontal_loc = 0;
    } else if (line == "[CENTERLIST]") {
        s.horizontal_loc = 576;
    } else if (line == "[RIGHTLIST]") {
        s.horizontal_loc = 1152;
    } else if (line == "[FILL_LINE]") {
        s.horizontal_loc = 0;
        s.page_y += ROW;
    } else if (line == "[LINE]") {
        s.page_y += ROW;
        draw_line(0, s.page_y + ROW / 2, PRINTHEAD_DOT_WIDTH, s.page_y + ROW / 2, 2);
    } else if (starts_with(line, "[VERTICAL] ")) {
        s.page_y = std::clamp(std::atoi(line.c_str() + 11), 0, MAX_PAGE_ROWS);
    } else if (starts_with(line, "[UNDERLINE]")) {
        std::string text = line.substr(11);
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        draw_text(s, text, true);
    } else if (starts_with(line, "[LOGO] ")) {
        s.page_y += render_and_place_png(0, int(s.page_y) + ROW, line.c_str() + 7);
    } else if (starts_with(line, "[BARCODE] ")) {
        draw_barcode(s, line.substr(10));
    } else if (line == "[NIB_TEST]" || line == "FF") {
        // accepted, no effect
    } else {
        draw_text(s, line, false);
    }
}

}  // namespace

bool render_markup(SelftestState& s, const std::string& markup) {
    discard_render_state();
    new_render_state();
    disable_global_line_print();
    s.horizontal_loc = 0;
    s.page_y = 0;
    s.centre = s.small = false;
    s.font_size = 0x3000;
    s.font_weight = 400;
    size_t pos = 0;
    while (pos < markup.size()) {
        size_t nl = markup.find('\n', pos);
        if (nl == std::string::npos) nl = markup.size();
        markup_line(s, markup.substr(pos, nl - pos));
        pos = nl + 1;
        if (s.page_y > MAX_PAGE_ROWS) break;  // nothing further can be printed
    }

    // The page: down to the last ink or the cursor's last row, whichever is lower.
    double x0 = 0, y0 = 0, w = 0, h = 0;
    cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &h);
    double bottom = std::max(s.page_y + 2 * ROW, (w > 0 && h > 0) ? y0 + h + ROW : 0.0);
    int rows = std::clamp(int(std::ceil(bottom)), 1, MAX_PAGE_ROWS);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, HEAD_DOTS, rows);
    cairo_t* cr = cairo_create(image);
    cairo_set_source_surface(cr, recording_surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    std::vector<uint8_t> raster = a1_rows_msb_first(image, HEAD_DOTS / 8);
    cairo_surface_destroy(image);
    discard_render_state();

    // The engine takes images as they come; a page of the last start still waiting is not
    // overwritten.
    std::string path = s.files.dot_images + "/dotimage-0.pbm";
    struct stat st {};
    for (int i = 0; i < 1000 && stat(path.c_str(), &st) == 0; ++i) sleep_ms(10);
    if (stat(path.c_str(), &st) == 0) {
        std::fprintf(stderr, "selftest_interp: %s is still waiting for the print engine\n", path.c_str());
        return false;
    }
    if (!write_dot_image_file(path, HEAD_DOTS, rows, raster.data(), false)) {
        std::perror(path.c_str());
        return false;
    }
    s.image_path = path;
    return true;
}

bool selftest_run(SelftestState& s) {
    if (print_engine_busy(s)) {
        dbg("the print engine is busy: no configuration page\n");
        return false;
    }
    read_settings(s);
    s.battery = query_battery(s);
    load_language_table(s.language, s.files.language);
    s.left_margin_dots = 0;
    std::string markup = build_testpage(s.settings, s.language, s.battery, s.files);
    // The markup file is the page's record while it is drawn; it is deleted afterwards.
    if (FILE* f = std::fopen(s.files.markup.c_str(), "w")) {
        std::fwrite(markup.data(), 1, markup.size(), f);
        std::fclose(f);
    } else {
        std::perror("Error opening file");
        markup.clear();
    }
    bool ok = render_markup(s, markup);
    unlink(s.files.markup.c_str());
    return ok;
}
