#include "escpos_test_support.h"

#include "escpos_decoder.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "image_builder.h"

#include <glib.h>

#include <algorithm>
#include <fstream>

using namespace escpos;

namespace {
// The pango font map lives for the process; handed back at the end for the leak checker.
class EscposFonts : public ::testing::Environment {
public:
    void TearDown() override { release_escpos_fonts(); }
};
const auto* escpos_fonts_env = ::testing::AddGlobalTestEnvironment(new EscposFonts);
}  // namespace

std::shared_ptr<const DotFonts> test_dot_fonts() {
    static std::shared_ptr<const DotFonts> fonts = load_dot_fonts(std::string(ESCPOS_DOT_FONT_DIR) + "/QXCHFontv200.bin",
                                                                  std::string(ESCPOS_DOT_FONT_DIR) + "/TD24CG2.0.bin");
    return fonts;
}

void EscposTest::SetUp() {
    home = dir.path + "/home";
    nv = home + "/nv_graphics/";
    usr = dir.path + "/usr";
    tmp = dir.path + "/tmp";
    fresh();
}

void EscposTest::fresh() {
    images.clear();
    shell_lines.clear();
    ring.clear();
    script = std::make_unique<ScriptedInput>(ring);
    st = make_state(test_dot_fonts());
    st->env.shell = [this](const std::string& line) {
        shell_lines.push_back(line);
        return 0;
    };
    sleeps.clear();
    st->env.sleep = [this](long ms) {
        sleeps.push_back(ms);
        script->advance(ms);
    };
    point_files_at(st->env, dir.path);
    st->env.put_image = [this](cairo_surface_t* a1) {
        CaughtImage c;
        c.image.width = cairo_image_surface_get_width(a1);
        c.image.height = cairo_image_surface_get_height(a1);
        c.image.raster = a1_rows_msb_first(a1, c.image.width / 8);
        c.at_ms = script->elapsed_ms();
        images.push_back(std::move(c));
    };
    st->input = script->input();
    load_emu_config(*st, std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/escpos_emu.cfg");
    st->device = DEVICE_CONFIG{};
    check_conti_mode(*st);
    start_decoding(*st);
}

void EscposTest::run() {
    script->end_when_dry = false;
    run_until_input_ends(*st);
}

void EscposTest::decode(const std::string& bytes) {
    job(bytes);
    script->end_when_dry = true;
    run_until_input_ends(*st);
}

DotImage EscposTest::paper() const {
    DotImage p;
    p.width = PAGE_DOTS;
    for (const auto& c : images) {
        p.raster.insert(p.raster.end(), c.image.raster.begin(), c.image.raster.end());
        p.height += c.image.height;
    }
    return p;
}

int EscposTest::count_shell(const std::string& line) const {
    return int(std::count(shell_lines.begin(), shell_lines.end(), line));
}

std::string esc(const std::string& s) { return "\x1b" + s; }
std::string gs(const std::string& s) { return "\x1d" + s; }
std::string fs(const std::string& s) { return "\x1c" + s; }
std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += char(uint8_t(v));
    return s;
}

void write_grey_map(const DotImage& img, const InkBox& box, int border, int scale, const std::string& path) {
    int w = (box.width() + 2 * border) * scale, h = (box.height() + 2 * border) * scale;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            row[size_t(x)] = img.dot(box.left - border + x / scale, box.top - border + y / scale) ? '\0' : '\xff';
        out.write(row.data(), std::streamsize(row.size()));
    }
}

std::string zbar_read(const DotImage& img, const InkBox& box, const std::string& folder, int scale) {
    std::string path = folder + "/zbar.pgm";
    write_grey_map(img, box, 40, scale, path);
    return program_output({"zbarimg", "-q", "--raw", path});
}

std::string zxing_read(const DotImage& img, const InkBox& box, const std::string& folder, const std::string& format,
                       bool pure, int scale) {
    std::string path = folder + "/zxing.pgm";
    write_grey_map(img, box, pure ? 8 : 40, scale, path);
    std::vector<std::string> args{"ZXingReader", "-format", format};
    if (pure) args.push_back("-ispure");
    args.push_back(path);
    std::string out = program_output(args);
    size_t at = out.find("Text:");
    if (at == std::string::npos) return "";
    size_t q1 = out.find('"', at), q2 = out.rfind('"');
    if (q1 == std::string::npos || q2 <= q1) return "";
    return out.substr(q1 + 1, q2 - q1 - 1);
}

std::string ocr_line(const DotImage& img, const InkBox& box, const std::string& folder, const std::string& letters) {
    // Gaps wider than 8 dots between letters are closed up (tesseract drops letters set far
    // apart), then the line is read at twice its size.
    DotImage line;
    std::vector<int> xs;
    int gap = 0;
    for (int x = box.left; x <= box.right; ++x) {
        bool inked = !img.ink_in(x, box.top, x + 1, box.bottom + 1).empty;
        gap = inked ? 0 : gap + 1;
        if (gap <= 8) xs.push_back(x);
    }
    line.width = int(xs.size());
    line.height = box.height();
    size_t stride = size_t(line.width + 7) / 8;
    line.raster.assign(stride * size_t(line.height), 0);
    for (int y = 0; y < line.height; ++y)
        for (int i = 0; i < line.width; ++i)
            if (img.dot(xs[size_t(i)], box.top + y)) line.raster[size_t(y) * stride + size_t(i) / 8] |= uint8_t(0x80 >> (i % 8));
    std::string path = folder + "/line.pgm";
    std::string readings;
    for (int scale : {2, 3, 4}) {
        write_grey_map(line, line.ink(), 20, scale, path);
        std::string text =
            program_output({"tesseract", path, "stdout", "--psm", "7", "-c", "tessedit_char_whitelist=" + letters});
        text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
        readings += "|" + text;
    }
    return readings + "|";
}
