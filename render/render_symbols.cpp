// Barcode and 2-D symbols through Zint's SVG output and librsvg.
//
// Zint draws two SVG units per module times its scale and, unless told otherwise, an opaque
// background. The symbol is asked for at half the scale the callers give, so a module is `scale`
// units and bars are (height / 2) * scale units tall, and with a fully transparent background, so
// that only the bars and the human-readable line become ink when the picture is stamped.
#include "render_symbols.h"

#include "image_builder.h"

#include <librsvg/rsvg.h>
#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

std::string PATH_TO_BARCODE_SVG = "/tmp/barcode.svg";
double globalBarcodeWidthScaling = 1.0;

namespace {
int encode_symbol(int symbology, double height, double scale, const char* data, int length,
                  unsigned char show_text, int option_1) {
    if (!data || length <= 0 || !std::isfinite(scale) || scale <= 0 || !std::isfinite(height)) return ZINT_ERROR_INVALID_DATA;
    zint_symbol* symbol = ZBarcode_Create();
    if (!symbol) return ZINT_ERROR_MEMORY;
    std::snprintf(symbol->outfile, sizeof symbol->outfile, "%.255s", PATH_TO_BARCODE_SVG.c_str());
    symbol->symbology = symbology;
    symbol->scale = float(scale / 2);
    symbol->height = float(std::max(0.0, height) / 2);
    symbol->output_options = 0;
    symbol->whitespace_width = 0;
    symbol->border_width = 0;
    symbol->show_hrt = show_text ? 1 : 0;
    if (option_1 > 0) symbol->option_1 = option_1;
    std::snprintf(symbol->fgcolour, sizeof symbol->fgcolour, "000000");
    std::snprintf(symbol->bgcolour, sizeof symbol->bgcolour, "ffffff00");  // transparent
    int rc = ZBarcode_Encode_and_Print(symbol, reinterpret_cast<const unsigned char*>(data), length, 0);
    // Warnings (below ZINT_ERROR) still produce the symbol.
    if (rc < ZINT_ERROR) rc = 0;
    if (rc != 0) dbg("zint %d: %s\n", rc, symbol->errtxt);
    ZBarcode_Delete(symbol);
    return rc;
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

char pdf417_data[PDF417_DATA_BYTES];
namespace {
zint_symbol* pdf417_symbol = nullptr;
}

void generate_pdf417_symbol(int symbology, int module_width, int height, int columns, int security) {
    if (pdf417_symbol) ZBarcode_Delete(pdf417_symbol);
    pdf417_symbol = ZBarcode_Create();
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

double render_and_place_barcode(int x, int y) {
    double stretch = globalBarcodeWidthScaling;
    globalBarcodeWidthScaling = 1.0;
    cairo_t* cr = recording_cairo_context;
    if (!cr) return 0;
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(PATH_TO_BARCODE_SVG.c_str(), &error);
    if (!handle) {
        // The symbol is skipped; the rest of the label is still drawn.
        std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "no picture");
        if (error) g_error_free(error);
        return 0;
    }
    rsvg_handle_set_dpi(handle, PRINTHEAD_DPI);
    double w = 0, hgt = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &hgt) || !(w > 0) || !(hgt > 0) ||
        !std::isfinite(stretch) || stretch <= 0) {
        g_object_unref(handle);
        return 0;
    }
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    int angle = int(rotate_barcode);
    if (global_line_print_enabled_flag && angle != 90 && angle != 180 && angle != 270) {
        // Centred across the head, unstretched, at the running position.
        cairo_translate(cr, PRINTHEAD_DOT_WIDTH / 2 - w / 2, currentLineSpacing + boundingBox_y);
    } else if (angle == 90) {  // modules run down the page
        cairo_translate(cr, x + hgt, y);
        cairo_rotate(cr, M_PI / 2);
        cairo_scale(cr, stretch, 1);
    } else if (angle == 180) {
        cairo_translate(cr, x + w * stretch, y + hgt);
        cairo_rotate(cr, M_PI);
        cairo_scale(cr, stretch, 1);
    } else if (angle == 270) {  // modules run up the page
        cairo_translate(cr, x, y + w * stretch);
        cairo_rotate(cr, -M_PI / 2);
        cairo_scale(cr, stretch, 1);
    } else {
        cairo_translate(cr, x, y);
        cairo_scale(cr, stretch, 1);
    }
    RsvgRectangle viewport{0, 0, w, hgt};
    if (!rsvg_handle_render_document(handle, cr, &viewport, &error)) {
        std::fprintf(stderr, "FAIL: %s\n", error ? error->message : "cannot draw the picture");
        if (error) g_error_free(error);
    }
    cairo_restore(cr);
    g_object_unref(handle);
    if (global_line_print_enabled_flag) boundingBox_y += hgt / 2 + currentLineSpacing + IMAGE_PADDING;
    return hgt;
}

void release_barcode() { unlink(PATH_TO_BARCODE_SVG.c_str()); }

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
