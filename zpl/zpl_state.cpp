#include "zpl_state.h"

#include "image_builder.h"
#include "render_symbols.h"
#include "zpl_barcodes.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_objects.h"

#include <cstring>

void zpl_fresh_state() {
    render_fresh_state();
    symbols_turn_about_origin = label_dialect->symbols_turn_about_origin;
    config = GLOBAL_CONFIG{};
    global = GLOBAL_PROPERTIES{};
    update_font_table();
    update_zpl_emu(ZPL_CONFIG_FILE);
    reset_text_defaults();
    reset_position_defaults();
    reset_barcode_defaults();
    barcode_z.symbol = 0;
    barcode_z.scale = 0;
    reset_barcode_commands();
    std::memset(fn_char, 0, sizeof fn_char);
    global_height_of_job = 1500;
    clear_line_char();
    init_data_inbuf();
    CurrentEncodingMode = 0;
    reset_format_replay();
}

void zpl_use_folders_under(const std::string& root) {
    render_use_folders_under(root);
    ENGINE_INTAKE_FOLDER = root + "/engine_intake";
    ZPL_CONFIG_FILE = root + "/zpl_emu.cfg";
    PATH_TO_FORMATS = root + "/formats";
    PATH_TO_GRAPHICS = root + "/graphics";
    PATH_TO_RAM_FORMATS = root + "/ram_formats";
    PATH_TO_RAM_GRAPHICS = root + "/ram_graphics";
    PATH_TO_LOGOS = root + "/logos";
}
