#include "escpos_test_support.h"

#include "escpos_decoder.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "image_builder.h"

#include <algorithm>
#include <sys/stat.h>

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
    for (const std::string& d : {home, usr, tmp}) mkdir(d.c_str(), 0755);
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
    st->env.home = home;
    st->env.label_config = home + "/label_config.cfg";
    st->env.label_config_tmp = tmp + "/label_config_tmp.cfg";
    st->env.nv_graphics = nv;
    st->env.nv_memory = nv + "nv_user_memory";
    st->env.send_data = usr + "/send_data";
    st->env.user_macro = usr + "/user_macro";
    st->env.graphic_tmp = tmp + "/graphic_tmp";
    st->env.barcode_svg = tmp + "/barcode.svg";
    st->env.speedmode_dir = tmp + "/speedmode";
    st->env.maxspeed_dir = tmp + "/maxspeed";
    st->env.speed_pause_dir = tmp + "/speed_switch_pause";
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
