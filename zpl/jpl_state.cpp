#include "jpl_state.h"

#include "image_builder.h"
#include "zpl_state.h"

JplState jpl;

const char* jpl_initial_family(int index) {
    if (index == 0) return "simsun";         // A
    if (index >= 26) return "Atrian 3";      // 0..9
    if (index == 4) return "OCR B Std";      // E
    if (index == 7) return "OCRA";           // H
    return "Liberation Mono";
}

const LabelDialect jpl_dialect{"jpl_interp", "/home/jpl_emu.cfg", false, false, jpl_initial_family, true};

void jpl_fresh_state() {
    label_dialect = &jpl_dialect;
    zpl_fresh_state();
    jpl = JplState{};
}

void jpl_use_folders_under(const std::string& root) {
    zpl_use_folders_under(root);
    ZPL_CONFIG_FILE = root + "/jpl_emu.cfg";
}
