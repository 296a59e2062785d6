// Settings of the rendering library: constants of globalDefines.cfg and the text defaults of the
// image configuration, each with the device's value when the file or key is missing.
#include "image_builder.h"
#include "render_shapes.h"
#include "render_symbols.h"

#include "keyfile.h"

#include <glib.h>

#include <cmath>

int PRINTHEAD_DOT_WIDTH = 1728;
int PRINTHEAD_DPI = 203;
double MAGIC_CPI_NUMERATOR = 120.0;
double IMAGE_PADDING = 8.0;
std::string PATH_TO_DOTIMAGE_FILES = "/tmp/dot_feeder_intake";
std::string PATH_TO_DOTIMAGE_TEMP = "/tmp/dotimage_raster.bin";
std::string IMSTART_INTAKE_FOLDER = "/tmp/imstart_intake";
std::string IMSTART_TRIGGER_FILENAME = "imstart";
std::string PAPER_CONFIG_FILEPATH = "/home/paper_config.cfg";

namespace {
void take(std::string& into, const std::string& value) {
    if (!value.empty()) into = value;
}
}  // namespace

void init_render_settings(const GlobalDefines& g) {
    if (g.PRINTHEAD_DOT_WIDTH > 0) PRINTHEAD_DOT_WIDTH = g.PRINTHEAD_DOT_WIDTH;
    if (g.PRINTHEAD_DPI > 0) PRINTHEAD_DPI = g.PRINTHEAD_DPI;
    if (g.MAGIC_CPI_NUMERATOR > 0 && std::isfinite(g.MAGIC_CPI_NUMERATOR)) MAGIC_CPI_NUMERATOR = g.MAGIC_CPI_NUMERATOR;
    if (std::isfinite(g.IMAGE_PADDING) && g.IMAGE_PADDING >= 0) IMAGE_PADDING = g.IMAGE_PADDING;
    take(PATH_TO_DOTIMAGE_FILES, g.PATH_TO_DOTIMAGE_FILES);
    take(PATH_TO_DOTIMAGE_TEMP, g.PATH_TO_DOTIMAGE_TEMP);
    take(IMSTART_INTAKE_FOLDER, g.IMSTART_INTAKE_FOLDER);
    take(IMSTART_TRIGGER_FILENAME, g.IMSTART_TRIGGER_FILENAME);
    take(PAPER_CONFIG_FILEPATH, g.PAPER_CONFIG_FILEPATH);
    take(PATH_TO_BARCODE_SVG, g.PATH_TO_BARCODE_SVG);
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
}

void load_render_image_config(const std::string& image_config_path) {
    KeyFile kf(image_config_path);
    std::string family = kf.get_string("Image", "configFontFamily");
    if (!family.empty()) currentFontFamily = family;
    double cpi = kf.get_double("Image", "configCPI");
    if (cpi > 0 && std::isfinite(cpi)) currentCPI = cpi;
    if (kf.has("Image", "configLineSpacing")) currentLineSpacing = kf.get_int("Image", "configLineSpacing");
}

int get_default_contrast() {
    KeyFile kf(PAPER_CONFIG_FILEPATH);
    if (!kf.has("Paper", "configContrast")) return 5;  // nominal darkness
    return kf.get_int("Paper", "configContrast");
}

void render_fresh_state() {
    discard_render_state();
    label_length = 0;
    label_length_fixed = false;
    label_scale = 1;
    feel_paper_out = 0;
    label_top = 0;
    page_turned = false;
    page_turn_width = 0;
    label_width = 576;
    currentLeftMargin = 0;
    currentMarkSeek = 0;
    currentLabelLength = 0;
    newpbm = 0;
    currentContrast.store(5);
    global_number_of_copies = 0;
    pango_xscale = pango_yscale = 1.0;
    pangoRectangle_ink = pangoRectangle_logical = PangoRectangle{0, 0, 0, 0};
    global_line_print_enabled_flag = 0;
    boundingBox_y = 0;
    global_rotated_text_flag = 0;
    text_rotation_angle = 0;
    rotate_barcode = 0;
    currentFontFamily = "Liberation Mono";
    currentCPI = 12.0;
    currentLineSpacing = 4;
    currentLeftMarginOffset = 0;
    reset_symbol_state();
    forget_pictures();
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
    new_render_state();
}

void render_use_folders_under(const std::string& root) {
    PATH_TO_DOTIMAGE_FILES = root + "/dot_feeder_intake";
    PATH_TO_DOTIMAGE_TEMP = root + "/dotimage_raster.bin";
    IMSTART_INTAKE_FOLDER = root + "/imstart_intake";
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = root + "/barcode.svg";
    PAPER_CONFIG_FILEPATH = root + "/paper_config.cfg";
    g_mkdir_with_parents(PATH_TO_DOTIMAGE_FILES.c_str(), 0755);
    g_mkdir_with_parents(IMSTART_INTAKE_FOLDER.c_str(), 0755);
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";
}
