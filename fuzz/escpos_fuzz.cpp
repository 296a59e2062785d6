// escpos_interp's command stream: one input is one job, decoded with a fresh interpreter until
// it is used up; the input then stays quiet (the idle page end), and every dot image is caught
// in memory. Odd inputs also run on mark paper, in UTF-8 mode or as a converted UCS-2 job.
// Whatever a job stores (graphics, NV files, the macro, the symbol SVG, key files) goes into the
// process's fuzz folder, emptied before each input.
#include "dot_font_layout.h"
#include "escpos_decoder.h"
#include "escpos_input.h"
#include "escpos_intake.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "fuzz_support.h"
#include "input_ring.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using namespace escpos;

namespace {
std::shared_ptr<const DotFonts> fonts;
std::string emu_config, files;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The generated font files of the fuzz tree (fuzz/run builds them with the target).
    std::string dir = ESCPOS_DOT_FONT_DIR;
    fonts = load_dot_fonts(dir + "/QXCHFontv200.bin", dir + "/TD24CG2.0.bin");
    files = fuzz_dir("escpos");
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) emu_config = std::string(src) + "/rootfs/home/escpos_emu.cfg";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    if (size == 0) return 0;
    // The first byte picks the paper and the encoding; the job follows.
    uint8_t mode = data[0];
    std::string job(reinterpret_cast<const char*>(data) + 1, size - 1);
    InputRing ring(5241, 26214);
    ScriptedInput script(ring);
    auto st = make_state(fonts);
    st->env.shell = [](const std::string&) { return 0; };
    st->env.sleep = [&script](long ms) { script.advance(ms); };
    fuzz_empty_dir(files);
    point_files_at(st->env, files);
    long rows = 0;
    st->env.put_image = [&](cairo_surface_t* a1) { rows += cairo_image_surface_get_height(a1); };
    if (!emu_config.empty()) load_emu_config(*st, emu_config);
    st->device.currentMarkSeek = (mode >> 5) & 3;
    st->device.currentLabelLength = 300;
    check_conti_mode(*st);
    st->encoding_mode = (mode & 0x18) == 0x18 ? 2 : (mode & 0x18) == 0x10 ? 1 : 0;
    if (st->encoding_mode == 1) job = ucs2_to_gb18030(job);
    script.add(job);
    st->input = script.input();
    start_decoding(*st);
    run_until_input_ends(*st);
    return 0;
}
