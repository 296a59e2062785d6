// jpl_interp's command stream: one input is one job, run through the binary command decoder and
// every command handler until it is used up, with a fresh interpreter every time (jpl_fresh_state)
// and every folder below the fuzz root (jpl_use_folders_under). Dot images and contrast triggers
// are taken away as soon as they are written, as the print engine would.
#include "fuzz_support.h"

#include "image_builder.h"
#include "jpl_state.h"
#include "zpl_input.h"
#include "zpl_label.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
std::string root;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    root = fuzz_root();
    jpl_use_folders_under(root);
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) FONTS_LIST_PATH = std::string(src) + "/rootfs/usr/share/fontslist";
    zpl_shell = [](const char*) { return 0; };
    zpl_stop_when_dry = true;
    contrast_trigger_written = [](const std::string& path) { unlink(path.c_str()); };
    dot_image_written = [](const std::string& path) { unlink(path.c_str()); };
    init_rendering_system();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jpl_fresh_state();
    ring_put(data, size);
    jpl_run_until_dry();
    fuzz_empty_dir(root + "/dot_feeder_intake");
    fuzz_empty_dir(root + "/imstart_intake");
    return 0;
}
