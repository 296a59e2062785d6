#include "pdf_test_support.h"

#include "image_builder.h"

#include <cairo-pdf.h>
#include <cairo-ps.h>
#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

std::vector<std::string> PdfTest::shell_lines;

void PdfTest::SetUp() {
    RenderTest::SetUp();
    shell_lines.clear();
    s = PdfState{};
    intake = dir.path + "/engine_intake";
    std::filesystem::create_directories(intake);
    s.paths.engine_intake = intake;
    s.paths.image_file = dir.path + "/imagefile";
    s.paths.new_pdf = dir.path + "/newjob.pdf";
    s.paths.render_png = dir.path + "/imageRender.png";
    s.paths.pages = dir.path + "/pages";
    s.paths.image_config = dir.path + "/image_config.cfg";
    s.paths.logo_list = dir.path + "/logo_list";
    s.paths.logo_web_table = dir.path + "/logo_web_table";
    s.paths.font_names = dir.path + "/font_list";
    s.paths.font_web_table = dir.path + "/font_web_table";
    s.defaultEmulation = "AUTOIMAGE";
    s.shell = [](const char* line) {
        shell_lines.emplace_back(line);
        return 0;
    };
    PAPER_CONFIG_FILEPATH = dir.path + "/paper_config.cfg";
    write_text_file(PAPER_CONFIG_FILEPATH, "[Paper]\nconfigContrast=5\n");
}

std::string PdfTest::job(const std::string& bytes, const std::string& name) {
    std::string path = intake + "/" + name;
    write_text_file(path, bytes);
    return path;
}

std::vector<DotImage> PdfTest::print(const std::string& bytes) {
    PageTaker taker(images, trigger_folder);
    take_job(s, job(bytes));
    return taker.images();
}

int PdfTest::count_shell(const std::string& line) const {
    return int(std::count(shell_lines.begin(), shell_lines.end(), line));
}

std::string file_bytes(const std::string& path) { return read_text_file(path); }

namespace {
void big_text(cairo_t* cr, const std::string& text) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 40);
    cairo_move_to(cr, 50, 120);
    cairo_show_text(cr, text.c_str());
}
}  // namespace

std::string make_pdf(const std::string& path, const std::vector<std::string>& page_texts) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    for (const std::string& text : page_texts) {
        big_text(cr, text);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return path;
}

std::string make_postscript(const std::string& path, const std::string& text) {
    cairo_surface_t* surface = cairo_ps_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    big_text(cr, text);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    return path;
}

double ink_share(const std::vector<DotImage>& pages) {
    double ink = 0, all = 0;
    for (const DotImage& p : pages) {
        for (uint8_t b : p.raster) ink += __builtin_popcount(b);
        all += double(p.width) * p.height;
    }
    return all > 0 ? ink / all : 0;
}

double darkness_of_png(const std::string& path) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return -1;
    }
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    cairo_format_t format = cairo_image_surface_get_format(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const auto* px = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[x];
            uint32_t a = format == CAIRO_FORMAT_RGB24 ? 255 : p >> 24;
            uint32_t g = p & 255;  // premultiplied grey: g = v * a / 255
            sum += g + (255 - a);  // on white
        }
    }
    cairo_surface_destroy(s);
    return 1 - sum / (255.0 * w * h);
}

std::string read_text(const DotImage& img, const std::string& folder, int top, int bottom) {
    if (bottom < 0) bottom = img.height - 1;
    std::string path = folder + "/text.pgm";
    int w = img.width + 80, h = bottom - top + 1 + 80;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) row[size_t(x)] = img.dot(x - 40, y - 40 + top) ? '\0' : '\xff';
        out.write(row.data(), std::streamsize(row.size()));
    }
    out.close();
    std::string text = program_output({"tesseract", path, "stdout", "--psm", "6"});
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
    return text;
}
