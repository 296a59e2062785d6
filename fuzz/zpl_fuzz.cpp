// zpl_interp's command stream: one input is one job, run through the lexer, the field, graphic,
// stored-object and barcode commands until it is used up, with a fresh interpreter every time.
#include "fuzz_support.h"

#include "image_builder.h"
#include "render_symbols.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_objects.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
std::string images, triggers, objects;

void fresh_interpreter() {
    config = GLOBAL_CONFIG{};
    global = GLOBAL_PROPERTIES{};
    update_font_table();
    update_zpl_emu(fuzz_root() + "/no_settings.cfg");  // built-in defaults
    reset_text_defaults();
    reset_position_defaults();
    reset_barcode_defaults();
    clear_line_char();
    init_data_inbuf();
    CurrentEncodingMode = 0;
    label_length = 0;
    label_length_fixed = false;
    label_scale = 1;
    label_top = 0;
    newpbm = 0;
    discard_render_state();
    new_render_state();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    images = fuzz_dir("dot_feeder_intake");
    triggers = fuzz_dir("imstart_intake");
    objects = fuzz_dir("objects");
    PATH_TO_DOTIMAGE_FILES = images;
    IMSTART_INTAKE_FOLDER = triggers;
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = fuzz_root() + "/barcode.svg";
    PAPER_CONFIG_FILEPATH = fuzz_root() + "/paper_config.cfg";
    PATH_TO_FORMATS = fuzz_dir("objects/formats");
    PATH_TO_GRAPHICS = fuzz_dir("objects/graphics");
    PATH_TO_RAM_FORMATS = fuzz_dir("objects/ram_formats");
    PATH_TO_RAM_GRAPHICS = fuzz_dir("objects/ram_graphics");
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) FONTS_LIST_PATH = std::string(src) + "/rootfs/usr/share/fontslist";
    zpl_shell = [](const char*) { return 0; };
    zpl_stop_when_dry = true;
    init_rendering_system();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fresh_interpreter();
    ring_put(data, size);
    zpl_run_until_dry();
    fuzz_empty_dir(images);
    fuzz_empty_dir(triggers);
    for (const char* sub : {"formats", "graphics", "ram_formats", "ram_graphics"}) fuzz_empty_dir(objects + "/" + sub);
    return 0;
}
