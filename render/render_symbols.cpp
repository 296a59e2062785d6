// Barcode and 2-D symbols through Zint's SVG output and librsvg.
//
// Zint draws two SVG units per module times its scale and, unless told otherwise, an opaque
// background. The symbol is asked for at half the scale the callers give, so a module is `scale`
// units and bars are (height / 2) * scale units tall, and with a fully transparent background, so
// that only the bars and the human-readable line become ink when the picture is stamped.
//
// The stretch that makes a module m dots applies to the bars only: the letters of the
// human-readable line are scaled evenly (fit_text_to_stretch), so they are never squashed into
// the guard bars or drawn thin and tall.
#include "render_symbols.h"

#include "image_builder.h"

#include <librsvg/rsvg.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

std::string PATH_TO_BARCODE_SVG = "/tmp/barcode.svg";
double globalBarcodeWidthScaling = 1.0;
bool symbols_turn_about_origin = false;
bool place_symbol_bottom_at_y = false;

namespace {
// How the human-readable line of the next placement is sized (see fit_text_to_stretch).
bool text_in_slots = false;
// Width in dots the next picture is scaled to, both ways; 0 = stretched along the modules only.
double fit_width_dots = 0;

// Symbologies whose digits sit in fixed places between the guard bars.
bool digits_between_guards(int symbology) {
    switch (symbology) {
    case BARCODE_EANX: case BARCODE_EANX_CHK: case BARCODE_UPCA: case BARCODE_UPCA_CHK:
    case BARCODE_UPCE: case BARCODE_UPCE_CHK: case BARCODE_ISBNX:
        return true;
    default:
        return false;
    }
}

// One symbol into the SVG file at `path`: Zint's height and scale as Zint counts them; option_1
// -1, option_2, option_3 and input_mode 0 leave the encoder's defaults.
int encode_to(const std::string& path, int symbology, double zint_height, double zint_scale, const char* data,
              int length, bool show_text, int option_1, int option_2, int option_3, int input_mode,
              const std::string& primary, std::string* text, std::string* error) {
    if (!data || length <= 0 || !std::isfinite(zint_scale) || zint_scale <= 0 || !std::isfinite(zint_height))
        return ZINT_ERROR_INVALID_DATA;
    zint_symbol* symbol = ZBarcode_Create();
    if (!symbol) return ZINT_ERROR_MEMORY;
    std::snprintf(symbol->outfile, sizeof symbol->outfile, "%.255s", path.c_str());
    symbol->symbology = symbology;
    symbol->scale = float(zint_scale);
    symbol->height = float(std::max(0.0, zint_height));
    symbol->output_options = 0;
    symbol->whitespace_width = 0;
    symbol->border_width = 0;
    symbol->show_hrt = show_text ? 1 : 0;
    if (option_1 != -1) symbol->option_1 = option_1;
    if (option_2 != 0) symbol->option_2 = option_2;
    if (option_3 > 0) symbol->option_3 = option_3;
    symbol->input_mode = input_mode;
    std::snprintf(symbol->primary, sizeof symbol->primary, "%s", primary.c_str());
    std::snprintf(symbol->fgcolour, sizeof symbol->fgcolour, "000000");
    std::snprintf(symbol->bgcolour, sizeof symbol->bgcolour, "ffffff00");  // transparent
    int rc = ZBarcode_Encode_and_Print(symbol, reinterpret_cast<const unsigned char*>(data), length, 0);
    // Warnings (below ZINT_ERROR) still produce the symbol.
    if (rc < ZINT_ERROR) rc = 0;
    if (rc != 0) dbg("zint %d: %s\n", rc, symbol->errtxt);
    if (text) *text = reinterpret_cast<const char*>(symbol->text);
    if (error) *error = symbol->errtxt;
    ZBarcode_Delete(symbol);
    return rc;
}

int encode_symbol(int symbology, double height, double scale, const char* data, int length,
                  unsigned char show_text, int option_1, const std::string& primary = "", int option_2 = 0,
                  int option_3 = 0, int input_mode = 0) {
    text_in_slots = digits_between_guards(symbology);
    fit_width_dots = 0;
    return encode_to(PATH_TO_BARCODE_SVG, symbology, height / 2, scale / 2, data, length, show_text != 0,
                     option_1 > 0 ? option_1 : -1, option_2 > 0 ? option_2 : 0, option_3, input_mode, primary,
                     nullptr, nullptr);
}
}  // namespace

int generate_barcode_symbol(int symbology, int module_width, double height, int scale, const char* data,
                            int length, unsigned char show_text) {
    if (module_width < 1 || scale < 1) return ZINT_ERROR_INVALID_OPTION;
    // Interleaved 2 of 5 is drawn on whole modules like every other symbology: the narrower
    // stretch once used for it makes bars and spaces of 1.5 dots that print as 2 and 1.
    globalBarcodeWidthScaling = double(module_width) / scale;
    return encode_symbol(symbology, height, scale, data, length, show_text, 0);
}

int qr_generate_barcode_symbol(int symbology, int module_width, int height, int scale, const char* data,
                               int length, unsigned char show_text) {
    if (module_width < 1 || scale < 1) return ZINT_ERROR_INVALID_OPTION;
    globalBarcodeWidthScaling = double(module_width) / scale;
    return encode_symbol(symbology, height, scale, data, length, show_text, 0);
}

int generate_qr_barcode_symbol(int symbology, int module_width, int height, int scale, const char* data,
                               int length, unsigned char show_text, int level) {
    if (module_width < 1 || scale < 1) return ZINT_ERROR_INVALID_OPTION;
    globalBarcodeWidthScaling = double(module_width) / scale;
    return encode_symbol(symbology, height, scale, data, length, show_text, level);
}

int generate_matrix_symbol(int symbology, int module_width, int scale, const char* data, int length,
                           int option_1, int option_2, int option_3, int input_mode) {
    if (module_width < 1 || scale < 1) return ZINT_ERROR_INVALID_OPTION;
    globalBarcodeWidthScaling = double(module_width) / scale;
    return encode_symbol(symbology, 0, scale, data, length, 0, option_1, "", option_2, option_3, input_mode);
}

int generate_module_symbol(const std::string& modules, int module_width, double height, int scale,
                           const std::string& text, unsigned char show_text) {
    if (modules.empty() || module_width < 1 || scale < 1 || !std::isfinite(height)) return -1;
    globalBarcodeWidthScaling = double(module_width) / scale;
    text_in_slots = false;
    fit_width_dots = 0;
    // The same picture the encoder draws: one rectangle a bar, the text line below the bars.
    const double bars = std::max(0.0, height) / 2 * scale;
    const double k = scale / 2.0;
    const double width = double(modules.size()) * scale;
    std::string readable;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) continue;
        if (c == '&') readable += "&amp;";
        else if (c == '<') readable += "&lt;";
        else if (c == '>') readable += "&gt;";
        else readable += c;
    }
    if (!g_utf8_validate(readable.c_str(), -1, nullptr)) {
        gchar* valid = g_utf8_make_valid(readable.c_str(), -1);
        readable = valid;
        g_free(valid);
    }
    bool with_text = show_text && !readable.empty();
    double total = bars + (with_text ? std::ceil(19.33 * k) : 0);
    std::string svg = "<?xml version=\"1.0\" standalone=\"no\"?>\n<svg width=\"" + std::to_string(int(std::ceil(width))) +
                      "\" height=\"" + std::to_string(int(std::ceil(total))) +
                      "\" version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\">\n<g id=\"barcode\" fill=\"#000000\">\n";
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.2f", bars);
    const std::string bar_height = buf;
    for (size_t i = 0; i < modules.size();) {
        if (modules[i] != '1') {
            ++i;
            continue;
        }
        size_t n = 0;
        while (i + n < modules.size() && modules[i + n] == '1') ++n;
        svg += "<rect x=\"" + std::to_string(i * size_t(scale)) + "\" y=\"0\" width=\"" + std::to_string(n * size_t(scale)) +
               "\" height=\"" + bar_height + "\" />\n";
        i += n;
    }
    if (with_text) {
        std::snprintf(buf, sizeof buf,
                      "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-family=\"Helvetica, sans-serif\" font-size=\"%.1f\" >",
                      width / 2, bars + 15.4 * k, 14 * k);
        svg += buf;
        svg += readable + "</text>\n";
    }
    svg += "</g>\n</svg>\n";
    if (!g_file_set_contents(PATH_TO_BARCODE_SVG.c_str(), svg.data(), gssize(svg.size()), nullptr)) return -1;
    return 0;
}

int generate_maxicode_symbol(const char* data, int length, int mode, const std::string& primary, double width_dots) {
    if (!std::isfinite(width_dots) || width_dots <= 0) return ZINT_ERROR_INVALID_OPTION;
    if (mode < 2 || mode > 6) mode = 0;
    globalBarcodeWidthScaling = 1.0;
    int rc = encode_symbol(BARCODE_MAXICODE, 0, 2, data, length, 0, mode, primary);
    if (rc == 0) fit_width_dots = width_dots;
    return rc;
}

char pdf417_data[PDF417_DATA_BYTES];
namespace {
zint_symbol* pdf417_symbol = nullptr;
}

void generate_pdf417_symbol(int symbology, int module_width, int height, int columns, int security) {
    if (pdf417_symbol) ZBarcode_Delete(pdf417_symbol);
    pdf417_symbol = ZBarcode_Create();
    text_in_slots = false;
    fit_width_dots = 0;
    if (!pdf417_symbol) return;
    std::snprintf(pdf417_symbol->outfile, sizeof pdf417_symbol->outfile, "%.255s", PATH_TO_BARCODE_SVG.c_str());
    pdf417_symbol->symbology = symbology;
    pdf417_symbol->option_1 = security;
    pdf417_symbol->option_2 = columns;
    pdf417_symbol->height = float(std::max(0, height));
    pdf417_symbol->scale = 0.5f;  // one unit a module
    std::snprintf(pdf417_symbol->fgcolour, sizeof pdf417_symbol->fgcolour, "000000");
    std::snprintf(pdf417_symbol->bgcolour, sizeof pdf417_symbol->bgcolour, "ffffff00");
    globalBarcodeWidthScaling = std::max(1, module_width);
}

int encode_pdf417(int x, int y) {
    pdf417_data[PDF417_DATA_BYTES - 1] = '\0';
    char* text = g_strstrip(pdf417_data);
    if (text != pdf417_data) std::memmove(pdf417_data, text, std::strlen(text) + 1);
    if (!pdf417_symbol) return -1;
    int rc = ZBarcode_Encode_and_Print(pdf417_symbol, reinterpret_cast<const unsigned char*>(pdf417_data),
                                       int(std::strlen(pdf417_data)), 0);
    if (rc >= ZINT_ERROR) {
        dbg("zint %d: %s\n", rc, pdf417_symbol->errtxt);
        set_font_description("unifont", 14, 0, 1, 1);
        fill_pango_layout(x, y, pdf417_symbol->errtxt);
    }
    ZBarcode_Delete(pdf417_symbol);
    pdf417_symbol = nullptr;
    if (rc >= ZINT_ERROR) {
        globalBarcodeWidthScaling = 1.0;
        return -1;
    }
    return 0;
}

namespace {
// Number in the attribute `name` of the tag that spans [from, to) of svg; false when absent.
bool svg_attribute(const std::string& svg, size_t from, size_t to, const char* name, double& value,
                   size_t* value_at = nullptr, size_t* value_end = nullptr) {
    std::string key = std::string(" ") + name + "=\"";
    size_t at = svg.find(key, from);
    if (at == std::string::npos || at >= to) return false;
    const char* start = svg.c_str() + at + key.size();
    char* end = nullptr;
    value = g_ascii_strtod(start, &end);
    if (end == start || !std::isfinite(value)) return false;
    if (value_at) *value_at = size_t(start - svg.c_str());
    if (value_end) *value_end = size_t(end - svg.c_str());
    return true;
}

// The attributes of an element from `at` (just past its name) up to its "/>"; false when the
// element has attributes other than `names` or is not closed on itself.
bool plain_attributes(const std::string& svg, size_t at, size_t end, std::initializer_list<const char*> names,
                      std::vector<std::string>& values) {
    values.clear();
    size_t pos = at;
    while (pos < end) {
        while (pos < end && (svg[pos] == ' ' || svg[pos] == '\n' || svg[pos] == '\t')) ++pos;
        if (pos >= end) break;
        size_t eq = svg.find("=\"", pos);
        if (eq == std::string::npos || eq >= end) return false;
        std::string name = svg.substr(pos, eq - pos);
        size_t close = svg.find('"', eq + 2);
        if (close == std::string::npos || close >= end) return false;
        bool known = false;
        size_t k = 0;
        for (const char* n : names) {
            if (name == n) {
                known = true;
                if (values.size() < names.size()) values.resize(names.size());
                values[k] = svg.substr(eq + 2, close - eq - 2);
            }
            ++k;
        }
        if (!known) return false;
        pos = close + 1;
    }
    return values.size() == names.size();
}

std::string svg_number(double v) {
    char buf[G_ASCII_DTOSTR_BUF_SIZE];
    return g_ascii_formatd(buf, sizeof buf, "%.5f", v);
}
}  // namespace

// The encoder writes one element a bar, a module or a hexagon; the picture library spends most of
// its time per element. Every rectangle and path that has nothing but its geometry becomes part of
// one path (they share the group's fill and do not overlap), which draws the same ink.
void merge_plain_shapes(std::string& svg) {
    std::string out, d;
    out.reserve(svg.size());
    size_t first = std::string::npos, copied = 0;
    std::vector<std::string> v;
    for (size_t pos = svg.find('<'); pos != std::string::npos; pos = svg.find('<', pos + 1)) {
        bool rect = svg.compare(pos, 6, "<rect ") == 0, path = svg.compare(pos, 6, "<path ") == 0;
        if (!rect && !path) continue;
        size_t end = svg.find("/>", pos);
        size_t next = svg.find('<', pos + 1);
        if (end == std::string::npos || (next != std::string::npos && next < end)) continue;
        if (rect && plain_attributes(svg, pos + 6, end, {"x", "y", "width", "height"}, v))
            d += "M" + v[0] + " " + v[1] + "h" + v[2] + "v" + v[3] + "h-" + v[2] + "Z";
        else if (path && plain_attributes(svg, pos + 6, end, {"d"}, v))
            d += v[0] + " ";
        else
            continue;
        out.append(svg, copied, pos - copied);
        if (first == std::string::npos) first = out.size();
        copied = end + 2;
    }
    if (first == std::string::npos) return;
    out.append(svg, copied, std::string::npos);
    out.insert(first, "<path d=\"" + d + "\" />");
    svg.swap(out);
}

// The placement stretches the picture by `stretch` along the modules only, which would squash or
// widen the letters of the human-readable line. Each text element is given a transform that undoes
// the stretch and scales its letters evenly by `factor` about the point where its anchor meets the
// top of the digits, so the line keeps its place under the bars. The picture grows downward when
// the letters do.
void fit_text_to_stretch(std::string& svg, double stretch, double factor) {
    if (!(stretch > 0) || !(factor > 0) || (stretch == 1 && factor == 1)) return;
    double bottom = 0;
    for (size_t pos = svg.find("<text "); pos != std::string::npos; pos = svg.find("<text ", pos + 1)) {
        size_t close = svg.find('>', pos);
        if (close == std::string::npos) break;
        double x = 0, y = 0, size = 0;
        if (!svg_attribute(svg, pos, close, "x", x) || !svg_attribute(svg, pos, close, "y", y) ||
            !svg_attribute(svg, pos, close, "font-size", size))
            continue;
        double top = y - 0.72 * size;  // digits are about 0.72 of the font size tall
        double a = factor / stretch;
        std::string transform = " transform=\"matrix(" + svg_number(a) + " 0 0 " + svg_number(factor) + " " +
                                svg_number(x * (1 - a)) + " " + svg_number(top * (1 - factor)) + ")\"";
        svg.insert(pos + 5, transform);
        bottom = std::max(bottom, top + (y + 0.25 * size - top) * factor);
    }
    size_t root = svg.find("<svg ");
    if (root == std::string::npos) return;
    size_t root_close = svg.find('>', root);
    double height = 0;
    size_t at = 0, end = 0;
    if (svg_attribute(svg, root, root_close, "height", height, &at, &end) && bottom > height)
        svg.replace(at, end - at, svg_number(std::ceil(bottom)));
}

double render_and_place_barcode(int x, int y) {
    double stretch = globalBarcodeWidthScaling;
    globalBarcodeWidthScaling = 1.0;
    double fit_width = fit_width_dots;
    fit_width_dots = 0;
    bool bottom_requested = place_symbol_bottom_at_y;
    place_symbol_bottom_at_y = false;
    cairo_t* cr = recording_cairo_context;
    if (!cr) return 0;
    int angle = int(rotate_barcode);
    bool centred = global_line_print_enabled_flag && angle != 90 && angle != 180 && angle != 270;
    if (!std::isfinite(stretch) || stretch <= 0) return 0;
    if (centred) stretch = 1;  // stamped as drawn

    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    RsvgHandle* handle = nullptr;
    double symbol_elements = 1;  // the SVG's elements: bars, modules, letters
    if (!page_budget_left()) return 0;
    if (g_file_get_contents(PATH_TO_BARCODE_SVG.c_str(), &contents, &length, &error)) {
        std::string svg(contents, length);
        g_free(contents);
        // Letters grow with the module width, never smaller than the encoder draws them for 3-dot
        // modules (digits about 15 dots tall), except where they have to fit between guard bars.
        fit_text_to_stretch(svg, stretch, text_in_slots ? stretch : std::max(stretch, 1.0));
        symbol_elements = double(std::count(svg.begin(), svg.end(), '<'));
        merge_plain_shapes(svg);
        handle = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
    }
    if (!handle) {
        // The symbol is skipped; the rest of the label is still drawn.
        std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "no picture");
        if (error) g_error_free(error);
        return 0;
    }
    rsvg_handle_set_dpi(handle, PRINTHEAD_DPI);
    double w = 0, hgt = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &hgt) || !(w > 0) || !(hgt > 0)) {
        g_object_unref(handle);
        return 0;
    }
    // Scale along the modules (sx) and across them (sy); a symbol of fixed size is scaled evenly.
    double sx = stretch, sy = 1;
    if (fit_width > 0) sx = sy = fit_width / w;
    double drawn_w = w * sx, drawn_h = hgt * sy;
    // The page area the symbol takes, turned or not.
    double box_w = (angle == 90 || angle == 270) && !centred ? drawn_h : drawn_w;
    double box_h = (angle == 90 || angle == 270) && !centred ? drawn_w : drawn_h;
    bool about_origin = symbols_turn_about_origin && !centred;
    bool bottom_at_y = bottom_requested && !centred;
    if (bottom_at_y) y = int(std::lround(y - box_h));
    double bx = centred ? PRINTHEAD_DOT_WIDTH / 2 - drawn_w / 2 : x;
    double by = centred ? currentLineSpacing + boundingBox_y : y;
    if (about_origin && angle == 90) bx = x - drawn_h;
    if (about_origin && angle == 180) bx = x - drawn_w, by = y - drawn_h;
    if (about_origin && angle == 270) by = y - drawn_w;
    if (!page_may_draw(bx, by, bx + box_w, by + box_h, 0, symbol_elements)) {
        g_object_unref(handle);
        if (global_line_print_enabled_flag) boundingBox_y += drawn_h / 2 + currentLineSpacing + IMAGE_PADDING;
        return drawn_h;
    }
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    if (centred) {
        // Centred across the head, unstretched, at the running position.
        cairo_translate(cr, PRINTHEAD_DOT_WIDTH / 2 - drawn_w / 2, currentLineSpacing + boundingBox_y);
    } else if (angle == 90) {  // modules run down the page
        cairo_translate(cr, bx + drawn_h, by);
        cairo_rotate(cr, M_PI / 2);
    } else if (angle == 180) {
        cairo_translate(cr, bx + drawn_w, by + drawn_h);
        cairo_rotate(cr, M_PI);
    } else if (angle == 270) {  // modules run up the page
        cairo_translate(cr, bx, by + drawn_w);
        cairo_rotate(cr, -M_PI / 2);
    } else {
        cairo_translate(cr, bx, by);
    }
    cairo_scale(cr, sx, sy);
    RsvgRectangle viewport{0, 0, w, hgt};
    if (!rsvg_handle_render_document(handle, cr, &viewport, &error)) {
        std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "cannot draw the picture");
        if (error) g_error_free(error);
    }
    cairo_restore(cr);
    g_object_unref(handle);
    if (global_line_print_enabled_flag) boundingBox_y += drawn_h / 2 + currentLineSpacing + IMAGE_PADDING;
    return drawn_h;
}

void release_barcode() { unlink(PATH_TO_BARCODE_SVG.c_str()); }

void reset_symbol_state() {
    symbols_turn_about_origin = false;
    place_symbol_bottom_at_y = false;
    if (pdf417_symbol) ZBarcode_Delete(pdf417_symbol);
    pdf417_symbol = nullptr;
    pdf417_data[0] = '\0';
    globalBarcodeWidthScaling = 1.0;
    text_in_slots = false;
    fit_width_dots = 0;
}

double height_scaler(int height, double scale_constant) {
    static const double constants[] = {5.89, 8.5, 11.4, 13.2};
    static const double factors[] = {0.36, 0.252, 0.18, 0.0};
    if (height < 10 || height > 200 || height % 10 != 0) return -1;
    for (int j = 0; j < 4; ++j) {
        if (constants[j] != scale_constant) continue;
        if (j == 0 && height == 20) return 7.6;
        return factors[j] * height;
    }
    return -1;
}

int encode_symbol_file(const SymbolLayout& layout, const std::string& svg_path, const char* data, int length,
                       std::string* text, std::string* error) {
    if (text) text->clear();
    if (error) error->clear();
    if (layout.module_dots < 1) return ZINT_ERROR_INVALID_OPTION;
    // Zint draws 2 units a module at scale 1 and its height in modules.
    return encode_to(svg_path, layout.symbology, layout.height, layout.module_dots / 2.0, data, length, layout.show_text,
                     layout.option_1, layout.option_2, 0, 0, layout.primary, text, error);
}

bool rasterise_symbol_file(const std::string& svg_path, double dpi, double fit_width, int max_cols, int max_rows,
                           SymbolDots& out) {
    out = SymbolDots{};
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(svg_path.c_str(), &error);
    if (!handle) {
        std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "no picture");
        if (error) g_error_free(error);
        return false;
    }
    rsvg_handle_set_dpi(handle, dpi > 0 ? dpi : 203);
    double w = 0, h = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &h) || !std::isfinite(w) || !std::isfinite(h) ||
        !(w > 0) || !(h > 0)) {
        std::fprintf(stderr, "FAIL: %s: the picture has no size\n", svg_path.c_str());
        g_object_unref(handle);
        return false;
    }
    double s = fit_width > 0 && std::isfinite(fit_width) ? fit_width / w : 1.0;
    double dw = std::ceil(w * s - 1e-6), dh = std::ceil(h * s - 1e-6);
    const double limit = 1 << 24;
    out.width = int(std::min(dw, limit));
    out.height = int(std::min(dh, limit));
    out.cols = std::max(0, std::min(out.width, max_cols));
    out.rows = std::max(0, std::min(out.height, max_rows));
    if (out.cols == 0 || out.rows == 0) {
        g_object_unref(handle);
        return true;
    }
    cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, out.cols, out.rows);
    bool ok = cairo_surface_status(a8) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        cairo_t* cr = cairo_create(a8);
        cairo_scale(cr, s, s);
        RsvgRectangle viewport{0, 0, w, h};
        if (!rsvg_handle_render_document(handle, cr, &viewport, &error)) {
            std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "cannot draw the picture");
            if (error) g_error_free(error);
            ok = false;
        }
        cairo_destroy(cr);
    } else {
        std::fprintf(stderr, "FAIL: %s: no room for %d x %d dots\n", svg_path.c_str(), out.cols, out.rows);
    }
    if (ok) {
        cairo_surface_flush(a8);
        const uint8_t* src = cairo_image_surface_get_data(a8);
        int src_stride = cairo_image_surface_get_stride(a8);
        out.stride = (out.cols + 7) / 8;
        out.bits.assign(size_t(out.stride) * size_t(out.rows), 0);
        for (int y = 0; y < out.rows; ++y) {
            const uint8_t* row = src + size_t(y) * size_t(src_stride);
            uint8_t* dst = out.bits.data() + size_t(y) * size_t(out.stride);
            for (int x = 0; x < out.cols; ++x)
                if (row[x] >= 128) dst[x >> 3] |= uint8_t(1u << (x & 7));
        }
    }
    cairo_surface_destroy(a8);
    g_object_unref(handle);
    if (!ok) {
        int width = out.width, height = out.height;
        out = SymbolDots{};
        out.width = width;
        out.height = height;
    }
    return ok;
}
