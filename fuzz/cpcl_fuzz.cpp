// cpcl_interp's line reader and command decoder: one input is one job, read line by line and
// dispatched (labels, copies with counters, text, barcodes, 2-D symbols, pictures, stored formats,
// line-printer mode) until it is used up, with a fresh interpreter every time.
#include "fuzz_support.h"

#include "cpcl_commands.h"
#include "cpcl_input.h"

#include "image_builder.h"
#include "render_symbols.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {
std::string images, triggers, formats, logos, font_map;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    images = fuzz_dir("dot_feeder_intake");
    triggers = fuzz_dir("imstart_intake");
    formats = fuzz_root() + "/formats";
    logos = fuzz_dir("logos");
    PATH_TO_DOTIMAGE_FILES = images;
    IMSTART_INTAKE_FOLDER = triggers;
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = fuzz_root() + "/barcode.svg";
    PAPER_CONFIG_FILEPATH = fuzz_root() + "/paper_config.cfg";
    nameBuff = images + "/dotimage-zzzzzz.pbm";
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) font_map = std::string(src) + "/rootfs/home/cpcl_font_map.cfg";
    init_rendering_system();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto s = std::make_unique<cpcl::CpclState>();
    s->formats_dir = formats;
    s->logos_dir = logos;
    if (!font_map.empty()) cpcl::load_font_map(*s, font_map);
    s->in.stop_when_dry = true;
    s->copies_max = 3;  // copies are the same work over again
    s->rows_max = 256;  // and so are long pages
    // The print engine takes each image at once.
    s->image_written = [](const std::string& path) { unlink(path.c_str()); };
    cpcl::reset_input(*s);
    cpcl::fresh_page(*s);
    cpcl::put_job_bytes(s->in, data, size);
    cpcl::end_of_job(s->in);
    cpcl::run_until_end(*s);
    fuzz_empty_dir(images);
    fuzz_empty_dir(triggers);
    fuzz_empty_dir(fuzz_dir("formats"));
    return 0;
}
