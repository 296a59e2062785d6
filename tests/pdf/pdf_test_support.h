// The document interpreter in the test process: a fresh state whose work files and intake live in
// a temporary folder, the fixed command lines recorded, and documents and pictures made on the spot.
#pragma once

#include "pdf.h"
#include "render_test_support.h"

#include <string>
#include <vector>

#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

class PdfTest : public RenderTest {
protected:
    PdfState s;
    std::string intake;
    static std::vector<std::string> shell_lines;
    void SetUp() override;
    // Writes a job file into the intake and returns its path.
    std::string job(const std::string& bytes, const std::string& name = "printjob-1");
    // One job through take_job; the dot images it wrote.
    std::vector<DotImage> print(const std::string& bytes);
    int count_shell(const std::string& line) const;
};

// A PDF with one page of 595 x 842 points per text (each in big letters at the top).
std::string make_pdf(const std::string& path, const std::vector<std::string>& page_texts);
// A PostScript page (cairo's) with the text.
std::string make_postscript(const std::string& path, const std::string& text);
// A grey picture: value(x, y) 0..255 and alpha(x, y) 0..255, written as RGBA PNG.
template <typename Grey, typename Alpha>
std::string make_png(const std::string& path, int w, int h, Grey value, Alpha alpha);
std::string file_bytes(const std::string& path);

// Share of dots that are ink.
double ink_share(const std::vector<DotImage>& pages);
// 1 - mean grey / 255 of a PNG (grey put on white where it is transparent), read with cairo.
double darkness_of_png(const std::string& path);
// What tesseract reads in the image (rows top..bottom), blanks and line ends removed.
std::string read_text(const DotImage& img, const std::string& folder, int top = 0, int bottom = -1);

#include <cairo.h>

template <typename Grey, typename Alpha>
std::string make_png(const std::string& path, int w, int h, Grey value, Alpha alpha) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y) {
        auto* px = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < w; ++x) {
            uint32_t a = uint32_t(alpha(x, y)) & 255, v = uint32_t(value(x, y)) & 255;
            uint32_t p = v * a / 255;  // premultiplied
            px[x] = a << 24 | p << 16 | p << 8 | p;
        }
    }
    cairo_surface_mark_dirty(surface);
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    return path;
}
