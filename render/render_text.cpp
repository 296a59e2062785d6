// Render state, fonts and text.
#include "image_builder.h"

#include "dot_image.h"

#include <fontconfig/fontconfig.h>
#include <glib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cmath>
#include <cstring>

cairo_surface_t* recording_surface = nullptr;
cairo_t* recording_cairo_context = nullptr;
PangoFontMap* global_pango_fontmap = nullptr;
PangoContext* global_pango_context = nullptr;
cairo_font_options_t* fontOpts = nullptr;
PangoLayout* global_pango_layout = nullptr;
PangoFontDescription* global_pango_font_description = nullptr;
PangoAttrList* global_pango_text_attribute_list = nullptr;
PangoAttribute* global_pango_text_attribute = nullptr;

double pango_xscale = 1.0, pango_yscale = 1.0;
PangoRectangle pangoRectangle_ink{0, 0, 0, 0}, pangoRectangle_logical{0, 0, 0, 0};
uint8_t global_line_print_enabled_flag = 0;
double boundingBox_y = 0;
uint8_t global_rotated_text_flag = 0;
double text_rotation_angle = 0;
double rotate_barcode = 0;
std::string currentFontFamily = "Liberation Mono";
double currentCPI = 12.0;
int currentLineSpacing = 4;
int currentLeftMarginOffset = 0;

// A scanner-driven interpreter defines its own yyin; this one serves the others.
__attribute__((weak)) FILE* yyin = nullptr;
int peekedChars = 0;
int continueParsing = 1;

namespace {
constexpr double RADIANS_PER_DEGREE = 0.017453292519943295;
constexpr double ZERO_STRETCH_SUBSTITUTE = 1.012345;
// Glyphs with an em larger than this many dots are drawn as filled outlines. A glyph drawn as
// text is rasterised whole into the font cache at its size, which costs its area in memory and
// time (a letter 3000 dots tall: half a second, tens of megabytes); an outline only costs the
// part of the page it covers.
constexpr double OUTLINE_GLYPH_DOTS = 256;
// Largest em a letter is drawn with, in dots: more than twice the longest page. Far larger
// stretches make the font engine refuse the size, and cairo then loses the font it made.
constexpr double MAX_GLYPH_DOTS = 16384;

// Pango sizes are ints in 1/1024 points; keep absurd sizes from host data inside that range.
int pango_size_from_points(double points) {
    double units = std::trunc(points * PANGO_SCALE);
    if (!std::isfinite(units) || units < 1) return PANGO_SCALE;  // 1 point
    return units > INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(units);
}
}  // namespace

void init_rendering_system() {
    init_cairo_recording_surface();
    init_layout_context();
    init_font_description();
    init_text_attributes();
}

void release_rendering_system() {
    release_layout_context();
    release_font_description();
}

static void release_recording() {
    if (recording_cairo_context) cairo_destroy(recording_cairo_context);
    if (recording_surface) cairo_surface_destroy(recording_surface);
    recording_cairo_context = nullptr;
    recording_surface = nullptr;
}

namespace {
// What the page recorded so far has taken of its budgets (page_may_draw).
double page_area_taken = 0, page_picture_taken = 0, page_elements_taken = 0;
bool page_budget_reported = false;
}  // namespace

bool page_budget_left() { return !page_budget_reported; }

bool page_may_draw(double x0, double y0, double x1, double y1, double picture_dots, double elements) {
    cairo_t* cr = recording_cairo_context;
    if (!cr || !std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return false;
    double px[4] = {x0, x1, x1, x0}, py[4] = {y0, y0, y1, y1};
    double left = HUGE_VAL, right = -HUGE_VAL, top = HUGE_VAL, bottom = -HUGE_VAL;
    for (int k = 0; k < 4; ++k) {
        cairo_user_to_device(cr, &px[k], &py[k]);
        left = std::min(left, px[k]);
        right = std::max(right, px[k]);
        top = std::min(top, py[k]);
        bottom = std::max(bottom, py[k]);
    }
    if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(top) || !std::isfinite(bottom)) return false;
    // Within the recorded area; a line of no width still counts as one dot wide.
    left = std::max(left, RECORDING_X0);
    right = std::min(right, RECORDING_X0 + RECORDING_WIDTH);
    top = std::max(top, RECORDING_Y0);
    bottom = std::min(bottom, RECORDING_Y0 + RECORDING_HEIGHT);
    if (right < left || bottom < top) return false;
    const double page = double(HEAD_DOTS) * MAX_PAGE_ROWS;
    double area = std::max(right - left, 1.0) * std::max(bottom - top, 1.0) / page;
    double pictures = std::max(picture_dots, 0.0) / page;
    elements = std::max(elements, 0.0);
    if (page_area_taken + area > PAGE_AREA_BUDGET || page_picture_taken + pictures > PAGE_PICTURE_BUDGET ||
        page_elements_taken + elements > PAGE_ELEMENT_BUDGET) {
        if (!page_budget_reported) std::fprintf(stderr, "page: drawing budget used up, the rest of the page is left out\n");
        page_budget_reported = true;
        return false;
    }
    page_area_taken += area;
    page_picture_taken += pictures;
    page_elements_taken += elements;
    return true;
}

void init_cairo_recording_surface() {
    release_recording();
    page_area_taken = page_picture_taken = page_elements_taken = 0;
    page_budget_reported = false;
    cairo_rectangle_t extents{RECORDING_X0, RECORDING_Y0, RECORDING_WIDTH, RECORDING_HEIGHT};
    recording_surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, &extents);
    cairo_surface_set_fallback_resolution(recording_surface, PRINTHEAD_DPI, PRINTHEAD_DPI);
    recording_cairo_context = cairo_create(recording_surface);
    cairo_set_antialias(recording_cairo_context, CAIRO_ANTIALIAS_GRAY);
    cairo_translate(recording_cairo_context, 0, 0);
    cairo_scale(recording_cairo_context, 1, 1);
    boundingBox_y = IMAGE_PADDING;
    rotate_barcode = 0;
}

void update_layout_context() {
    if (!global_pango_layout) return;
    pango_layout_context_changed(global_pango_layout);
    if (recording_cairo_context) pango_cairo_update_layout(recording_cairo_context, global_pango_layout);
}

void init_layout_context() {
    release_layout_context();
    global_pango_fontmap = pango_cairo_font_map_get_default();
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(global_pango_fontmap), PRINTHEAD_DPI);
    global_pango_context = pango_font_map_create_context(global_pango_fontmap);
    fontOpts = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(fontOpts, CAIRO_HINT_METRICS_DEFAULT);
    cairo_font_options_set_hint_style(fontOpts, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(fontOpts, CAIRO_ANTIALIAS_NONE);
    pango_cairo_context_set_font_options(global_pango_context, fontOpts);
    global_pango_layout = pango_layout_new(global_pango_context);
    update_layout_context();
    pango_layout_set_width(global_pango_layout, -1);
    update_layout_context();
    pango_cairo_context_set_resolution(global_pango_context, PRINTHEAD_DPI);
    pango_layout_context_changed(global_pango_layout);
    if (recording_cairo_context) pango_cairo_update_context(recording_cairo_context, global_pango_context);
    update_layout_context();
}

void release_layout_context() {
    if (global_pango_layout) g_object_unref(global_pango_layout);
    if (global_pango_context) g_object_unref(global_pango_context);
    if (fontOpts) cairo_font_options_destroy(fontOpts);
    global_pango_layout = nullptr;
    global_pango_context = nullptr;
    fontOpts = nullptr;
}

void init_font_description() {
    release_font_description();
    global_pango_font_description = pango_font_description_new();
    gchar* family = g_strstrip(g_strdup(currentFontFamily.c_str()));
    pango_font_description_set_family(global_pango_font_description, family);
    g_free(family);
    double cpi = currentCPI > 0 && std::isfinite(currentCPI) ? currentCPI : 12.0;
    pango_font_description_set_size(global_pango_font_description, pango_size_from_points(MAGIC_CPI_NUMERATOR / cpi));
    pango_font_description_set_weight(global_pango_font_description, static_cast<PangoWeight>(550));
    update_font_description();
}

void create_new_font_descritption() {
    release_font_description();
    global_pango_font_description = pango_font_description_new();
}

void update_font_description() {
    if (global_pango_layout && global_pango_font_description)
        pango_layout_set_font_description(global_pango_layout, global_pango_font_description);
}

void release_font_description() {
    if (global_pango_font_description) pango_font_description_free(global_pango_font_description);
    global_pango_font_description = nullptr;
}

// The current font's em, unstretched, in dots.
static double em_dots() {
    if (!global_pango_font_description) return 0;
    double points = double(pango_font_description_get_size(global_pango_font_description)) / PANGO_SCALE;
    return points * PRINTHEAD_DPI / 72.0;
}

// Size of the current font's em on the page, in dots (the larger of its two stretched sizes).
static double glyph_dots() { return em_dots() * std::max(std::fabs(pango_xscale), std::fabs(pango_yscale)); }

// Keeps each stretch within MAX_GLYPH_DOTS for the current font (a non-finite one becomes 1).
static void bound_text_stretch() {
    double em = em_dots();
    double limit = em > 0 ? MAX_GLYPH_DOTS / em : 1;
    for (double* scale : {&pango_xscale, &pango_yscale}) {
        if (!std::isfinite(*scale)) *scale = 1;
        *scale = std::clamp(*scale, -limit, limit);
    }
}

void set_font_description(const char* family, int point_size, int bold, double xscale, double yscale) {
    pango_xscale = xscale;
    pango_yscale = yscale;
    if (!global_pango_font_description) global_pango_font_description = pango_font_description_new();
    pango_font_description_set_family(global_pango_font_description, family ? family : "");
    pango_font_description_set_size(global_pango_font_description, pango_size_from_points(point_size));
    bound_text_stretch();
    pango_font_description_set_weight(global_pango_font_description, bold == 1 ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    update_font_description();
    dbg("%s, %dpoint, %dbold\n", family ? family : "", point_size, bold);
}

void init_text_attributes() {
    release_text_attributes();
    global_pango_text_attribute_list = pango_attr_list_new();
    if (global_pango_layout) pango_layout_set_attributes(global_pango_layout, global_pango_text_attribute_list);
}

void update_text_attributes() {
    if (!global_pango_text_attribute_list) global_pango_text_attribute_list = pango_attr_list_new();
    if (global_pango_text_attribute) {
        pango_attr_list_insert(global_pango_text_attribute_list, global_pango_text_attribute);  // list owns it now
        global_pango_text_attribute = nullptr;
    }
    if (global_pango_layout) pango_layout_set_attributes(global_pango_layout, global_pango_text_attribute_list);
    update_layout_context();
}

void release_text_attributes() {
    if (global_pango_text_attribute_list) pango_attr_list_unref(global_pango_text_attribute_list);
    global_pango_text_attribute_list = nullptr;
    if (global_pango_text_attribute) pango_attribute_destroy(global_pango_text_attribute);
    global_pango_text_attribute = nullptr;
}

void release_font_resources() {
    discard_render_state();
    pango_cairo_font_map_set_default(nullptr);
    global_pango_fontmap = nullptr;
    // cairo_debug_reset_static_data() and FcFini() are left out: both assert when something
    // they cache is still referenced.
}

void enable_global_line_print() { global_line_print_enabled_flag = 1; }
void disable_global_line_print() { global_line_print_enabled_flag = 0; }

void discard_render_state() {
    release_layout_context();
    release_font_description();
    release_text_attributes();
    release_recording();
}

void new_render_state() {
    init_cairo_recording_surface();
    init_layout_context();
    init_font_description();
    init_text_attributes();
}

int get_font_height(PangoLayout* layout) {
    if (!layout) return 0;
    pango_layout_get_pixel_extents(layout, &pangoRectangle_ink, &pangoRectangle_logical);
    return pangoRectangle_logical.height;
}

int getLineWidth(PangoLayout* layout) {
    if (!layout) return 0;
    pango_layout_get_pixel_extents(layout, &pangoRectangle_ink, &pangoRectangle_logical);
    return pangoRectangle_logical.width;
}

// The extents of the last measurement, in the user space the text is shown in.
static bool text_may_draw() {
    const PangoRectangle& i = pangoRectangle_ink;
    const PangoRectangle& l = pangoRectangle_logical;
    double x0 = std::min(i.x, l.x), y0 = std::min(i.y, l.y);
    double x1 = std::max(i.x + i.width, l.x + l.width), y1 = std::max(i.y + i.height, l.y + l.height);
    return page_may_draw(x0, y0, x1, y1);
}

// Pango wants valid UTF-8; invalid bytes are shown as replacement characters.
static void set_layout_text(const char* text, int length) {
    if (g_utf8_validate(text, length, nullptr)) {
        pango_layout_set_text(global_pango_layout, text, length);
        return;
    }
    gchar* valid = g_utf8_make_valid(text, length);
    pango_layout_set_text(global_pango_layout, valid, -1);
    g_free(valid);
}

TextSize text_get_layout_dimensions(const char* text, int length) {
    TextSize size;
    if (!global_pango_layout) return size;
    if (!text) text = "";
    int all = static_cast<int>(std::strlen(text));
    if (length <= 0 || length > all) length = all;
    set_layout_text(text, length);
    int height = get_font_height(global_pango_layout);
    size.width = pangoRectangle_logical.width * pango_xscale;
    size.height = height * pango_yscale;
    return size;
}

TextSize fill_pango_layout(int x, int y, const char* text) {
    TextSize before;
    if (!global_pango_layout || !recording_cairo_context) return before;
    if (!text) text = "";
    if (pango_xscale == 0) pango_xscale = ZERO_STRETCH_SUBSTITUTE;
    if (pango_yscale == 0) pango_yscale = ZERO_STRETCH_SUBSTITUTE;
    bound_text_stretch();
    cairo_t* cr = recording_cairo_context;
    cairo_save(cr);
    double sx = x, sy = y;
    if (global_line_print_enabled_flag) {
        sx = double(x) + currentLeftMarginOffset;
        sy = currentLineSpacing + boundingBox_y;
    }
    // The start point is the top-left corner of the text's logical box; stretch and rotation
    // apply about it and to this text only.
    cairo_translate(cr, sx, sy);
    cairo_scale(cr, pango_xscale, pango_yscale);
    int h0 = get_font_height(global_pango_layout);
    int w0 = pangoRectangle_logical.width;
    set_layout_text(text, static_cast<int>(std::strlen(text)));
    if (global_rotated_text_flag == 1) {
        cairo_rotate(cr, text_rotation_angle * RADIANS_PER_DEGREE);
        global_rotated_text_flag = 0;
    }
    int h1 = get_font_height(global_pango_layout);
    if (h1 != h0) std::printf("WARNING: Logical height changed %f pixels after being set!\n", double(h1 - h0));
    if (global_line_print_enabled_flag) boundingBox_y += h1 / 2 + currentLineSpacing;
    if (text_may_draw()) {
        cairo_move_to(cr, 0, 0);
        if (glyph_dots() > OUTLINE_GLYPH_DOTS) {
            pango_cairo_layout_path(cr, global_pango_layout);
            cairo_fill(cr);
        } else {
            pango_cairo_show_layout(cr, global_pango_layout);
        }
    }
    cairo_restore(cr);
    before.width = w0;
    before.height = h0;
    return before;
}

void buf_pchar_init() {
    if (yyin && peekedChars > 0) std::fseek(yyin, -static_cast<long>(peekedChars), SEEK_CUR);
    peekedChars = 0;
}

int buf_pchar() {
    int c = yyin ? std::fgetc(yyin) : EOF;
    if (c == EOF) {
        continueParsing = 0;
        return -1;
    }
    ++peekedChars;
    return c;
}

void buf_achar() { peekedChars = 0; }
