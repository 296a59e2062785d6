// escpos_render JOB OUT.pbm [--stream]: renders a job file as the interpreter does, outside the
// virtual printer, and writes all its dot images one below the other as one dot image. Without
// --stream the paper is continuous but never streamed (one image per page end); with it, the
// images are cut as on the printer. Settings are the device image's defaults.
#include "dot_font_layout.h"
#include "escpos_decoder.h"
#include "escpos_input.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "image_builder.h"
#include "input_ring.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

using namespace escpos;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: escpos_render JOB OUT.pbm [--stream]\n");
        return 2;
    }
    bool stream = argc > 3 && std::strcmp(argv[3], "--stream") == 0;
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::stringstream job;
    job << in.rdbuf();

    InputRing ring(5241, 26214);
    ScriptedInput script(ring);
    script.add(job.str());
    auto st = make_state(load_dot_fonts(std::string(ESCPOS_DOT_FONT_DIR) + "/QXCHFontv200.bin",
                                        std::string(ESCPOS_DOT_FONT_DIR) + "/TD24CG2.0.bin"));
    std::vector<uint8_t> rows;
    int height = 0, images = 0;
    st->env.shell = [](const std::string&) { return 0; };
    st->env.sleep = [&script](long ms) { script.advance(ms); };
    // Whatever the job stores (graphics, NV files, the macro, the symbol SVG) stays in a folder of
    // this run.
    std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/escpos_render.XXXXXX";
    std::vector<char> scratch(pattern.begin(), pattern.end());
    scratch.push_back('\0');
    if (!mkdtemp(scratch.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = scratch.data();
    point_files_at(st->env, dir);
    st->env.put_image = [&](cairo_surface_t* a1) {
        std::vector<uint8_t> r = a1_rows_msb_first(a1, PAGE_BYTES);
        rows.insert(rows.end(), r.begin(), r.end());
        height += cairo_image_surface_get_height(a1);
        ++images;
    };
    st->input = script.input();
    load_emu_config(*st, std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/escpos_emu.cfg");
    st->device.conti_mode = stream;
    start_decoding(*st);
    run_until_input_ends(*st);

    FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::fprintf(out, "P4\n%d %d\n", PAGE_DOTS, height);
    std::fwrite(rows.data(), 1, rows.size(), out);
    std::fclose(out);
    std::printf("%d rows in %d images\n", height, images);
    st.reset();
    release_escpos_fonts();
    std::filesystem::remove_all(dir);
    return 0;
}
