// zpl_interp's command stream: one input is one job, run through the lexer, the field, graphic,
// stored-object and barcode commands until it is used up, with a fresh interpreter every time
// (zpl_fresh_state) and every folder below the fuzz root (zpl_use_folders_under). Dot images are
// taken away as soon as they are written, as the print engine would, and the stored objects of an
// input are removed before the next one, so no input changes what a later one does or costs.
#include "fuzz_support.h"

#include "image_builder.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_state.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
std::string root;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    root = fuzz_root();
    zpl_use_folders_under(root);
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) FONTS_LIST_PATH = std::string(src) + "/rootfs/usr/share/fontslist";
    zpl_shell = [](const char*) { return 0; };
    zpl_stop_when_dry = true;
    contrast_trigger_written = [](const std::string& path) { unlink(path.c_str()); };
    dot_image_written = [](const std::string& path) { unlink(path.c_str()); };
    init_rendering_system();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zpl_fresh_state();
    ring_put(data, size);
    zpl_run_until_dry();
    for (const char* sub : {"dot_feeder_intake", "imstart_intake", "formats", "graphics", "ram_formats", "ram_graphics", "logos"})
        fuzz_empty_dir(root + "/" + sub);
    return 0;
}
