#include "escpos_setup.h"

#include "escpos_page.h"
#include "run.h"

#include <sys/stat.h>

#include <mutex>

namespace escpos {

namespace {
std::mutex font_map_lock;
PangoFontMap* font_map = nullptr;
}  // namespace

PangoFontMap* escpos_font_map(int dpi) {
    std::lock_guard<std::mutex> hold(font_map_lock);
    if (!font_map) {
        font_map = pango_cairo_font_map_new();
        pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(font_map), dpi);
    }
    return font_map;
}

void release_escpos_fonts() {
    std::lock_guard<std::mutex> hold(font_map_lock);
    if (font_map) g_object_unref(font_map);
    font_map = nullptr;
}

void point_files_at(Environment& env, const std::string& folder) {
    const std::string home = folder + "/home", usr = folder + "/usr", tmp = folder + "/tmp";
    for (const std::string& d : {folder, home, usr, tmp}) mkdir(d.c_str(), 0755);
    env.home = home;
    env.emu_config = home + "/escpos_emu.cfg";
    env.label_config = home + "/label_config.cfg";
    env.label_config_tmp = tmp + "/label_config_tmp.cfg";
    env.nv_graphics = home + "/nv_graphics/";
    env.nv_memory = home + "/nv_graphics/nv_user_memory";
    env.send_data = usr + "/send_data";
    env.user_macro = usr + "/user_macro";
    env.graphic_tmp = tmp + "/graphic_tmp";
    env.barcode_svg = tmp + "/barcode.svg";
    env.speedmode_dir = tmp + "/speedmode";
    env.maxspeed_dir = tmp + "/maxspeed";
    env.speed_pause_dir = tmp + "/speed_switch_pause";
}

std::unique_ptr<EscposState> make_state(std::shared_ptr<const DotFonts> fonts, int dpi) {
    auto st = std::make_unique<EscposState>();
    st->fonts = std::move(fonts);
    st->dpi = dpi > 0 ? dpi : 203;
    st->env.shell = [](const std::string& line) { return run_shell(line); };
    st->env.sleep = [](long ms) { sleep_ms(ms); };
    st->env.put_image = hand_over_dot_image;

    st->pango_context = pango_font_map_create_context(escpos_font_map(st->dpi));
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_MEDIUM);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
    pango_cairo_context_set_font_options(st->pango_context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(st->pango_context, st->dpi);
    st->pango_layout = pango_layout_new(st->pango_context);
    pango_layout_set_width(st->pango_layout, -1);
    st->font_description = pango_font_description_from_string("SimSun 9");
    pango_layout_set_font_description(st->pango_layout, st->font_description);
    return st;
}

}  // namespace escpos
