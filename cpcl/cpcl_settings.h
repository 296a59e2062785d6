// Settings of cpcl_interp read from the key files at start.
#pragma once

#include "cpcl_state.h"
#include "settings.h"

#include <string>

namespace cpcl {

// Where the settings come from; the device's own paths by default, a test's folder otherwise.
struct SettingsFiles {
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string units_folder = "/home";       // device_config_units.cfg and <units>_device_config.cfg
    std::string label_config = "/home/label_config.cfg";
    std::string font_map = "/home/cpcl_font_map.cfg";
};

// The files named by globalDefines.cfg (defaults where it names none).
SettingsFiles settings_files(const GlobalDefines& g);
// Text defaults, job encoding, left margin, paper mode, label length, the font map and the
// height scaler; the program's command lines and contrast trigger.
void load_settings(CpclState& s, const SettingsFiles& files, double height_scaler);
// The device's hooks: fixed command lines through the shell, the render library's contrast.
void use_device_hooks(CpclState& s);

}  // namespace cpcl
