// Settings of cpcl_interp.
#include "cpcl_settings.h"

#include "cpcl_commands.h"

#include "image_builder.h"
#include "keyfile.h"
#include "run.h"

#include <cmath>

namespace cpcl {

SettingsFiles settings_files(const GlobalDefines& g) {
    SettingsFiles f;
    if (!g.IMAGE_CONFIG_FILEPATH.empty()) f.image_config = g.IMAGE_CONFIG_FILEPATH;
    if (!g.CPCL_FONT_MAP.empty()) f.font_map = g.CPCL_FONT_MAP;
    return f;
}

void load_settings(CpclState& s, const SettingsFiles& files, double height_scaler) {
    load_render_image_config(files.image_config);
    int mode = key_int(files.image_config, "Image", "configEncoding");
    s.encoding_mode = (mode == 1 || mode == 2) ? uint8_t(mode) : 0;

    // The left margin of the device configuration: inches or millimetres, 8 dots a millimetre.
    std::string units = read_units(units_file_in(files.units_folder));
    KeyFile form(device_config_path_in(files.units_folder, units.empty() ? "inch" : units));
    double margin = form.get_double("Form", "configLeftMargin");
    double dots = units == "mm" ? margin * 8 : margin * 25.4 * 8;
    s.left_margin = std::isfinite(dots) && dots > 0 && dots < PRINTHEAD_DOT_WIDTH ? dots : 0;

    s.mark_seek = key_int(PAPER_CONFIG_FILEPATH, "Paper", "configMarkSeek");
    s.label_length = key_int(files.label_config, "LabelConfig", "LabelLength");
    if (s.label_length < 0 || s.label_length > MAX_PAGE_ROWS) s.label_length = 0;
    load_font_map(s, files.font_map);
    s.height_scaler = height_scaler > 0 && std::isfinite(height_scaler) ? height_scaler : 1.0;
    s.page_width = PRINTHEAD_DOT_WIDTH;
}

void use_device_hooks(CpclState& s) {
    s.shell = [](const char* line) { return run_shell(line); };
    s.set_contrast = set_current_contrast;
    s.default_contrast = get_default_contrast;
}

}  // namespace cpcl
