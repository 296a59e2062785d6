// escpos_interp: the receipt interpreter. Job files in the engine intake become dot images for
// the print engine, on continuous paper line by line as the bytes arrive.
#include "dot_font_layout.h"
#include "escpos_decoder.h"
#include "escpos_input.h"
#include "escpos_intake.h"
#include "escpos_page.h"
#include "escpos_settings.h"
#include "escpos_setup.h"
#include "escpos_speed.h"
#include "image_builder.h"
#include "input_ring.h"
#include "settings.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <string>

using namespace escpos;

namespace {
// The ring stops taking job bytes at about 1 % free and goes on at about 5 %.
constexpr size_t RING_LOW_WATER = 5241;
constexpr size_t RING_RESUME = 26214;

InputRing char_buffter(RING_LOW_WATER, RING_RESUME);
SpeedPauseWatch speed_watch;
std::unique_ptr<EscposState> state;
std::string intake_folder;

std::string or_default(const std::string& v, const char* fallback) { return v.empty() ? fallback : v; }

void* main_emulation_job_intake_pthrd(void*) { run_job_intake(char_buffter, intake_folder, state->encoding_mode); }

void* process_data_pthrd(void*) {
    start_decoding(*state);
    for (;;) escpos_step(*state);
}

bool speed_watching = false;

void* watch_speed_pthrd(void*) {
    if (speed_watching) speed_watch.run();
    return nullptr;
}
}  // namespace

int main() {
    std::printf("escpos_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    intake_folder = or_default(g.ENGINE_INTAKE_FOLDER, "/tmp/engine_intake");
    std::string paper_config = or_default(g.PAPER_CONFIG_FILEPATH, "/home/paper_config.cfg");
    int dpi = g.PRINTHEAD_DPI > 0 ? g.PRINTHEAD_DPI : 203;
    // The interpreter writes its dot images to the print engine's fixed intake.
    PATH_TO_DOTIMAGE_FILES = "/tmp/dot_feeder_intake";
    nameBuff = PATH_TO_DOTIMAGE_FILES + "/dotimage-zzzzzz.pbm";

    state = make_state(nullptr, dpi);
    EscposState& st = *state;
    st.debug = g_debug_msg == 1;
    st.env.barcode_svg = or_default(g.PATH_TO_BARCODE_SVG, "/tmp/barcode.svg");
    // The watch is in place before anything can ask the print engine to pause; without it the
    // pause file is written and not waited for.
    speed_watching = speed_watch.start();
    st.env.speed_watch = speed_watching ? &speed_watch : nullptr;
    load_device_config(st, st.env.home, paper_config);
    check_conti_mode(st);
    load_font_table(g.PATH_TO_FONT_NAMES, g.PATH_TO_FONT_WEB_TABLE);
    load_emu_config(st, st.env.emu_config);
    load_image_config(st, or_default(g.IMAGE_CONFIG_FILEPATH, st.env.image_config.c_str()));
    char_buffter.clear();
    st.fonts = load_dot_fonts(GB_FONT_PATH, TGS2_FONT_PATH);
    st.input = ring_input(char_buffter);
    if (st.debug) {
        std::printf("\n===============escpos emulation run=================\n");
        std::fflush(stdout);
    }

    pthread_t intake{}, decoding{}, speed{};
    auto start_thread = [](pthread_t& t, void* (*body)(void*), const char* what) {
        int rc = pthread_create(&t, nullptr, body, nullptr);
        if (rc != 0) {
            errno = rc;
            std::perror(what);
        }
        return rc == 0;
    };
    bool have_intake = start_thread(intake, main_emulation_job_intake_pthrd, "main_emulation_job_intake_pthrd creation failed");
    bool have_decoding = start_thread(decoding, process_data_pthrd, "process_data_pthrd creation failed");
    bool have_speed = start_thread(speed, watch_speed_pthrd, "watch_speed_pthrd creation failed");
    if (have_intake) pthread_join(intake, nullptr);
    if (have_decoding) pthread_join(decoding, nullptr);
    if (have_speed) pthread_join(speed, nullptr);
    return 0;
}
