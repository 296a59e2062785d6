// quorvel_interp: the line-printer interpreter. Job files handed to the engine intake (the ones
// waiting at start first) become dot images for the print engine, one job after the other.
#include "image_builder.h"
#include "job_intake.h"
#include "quorvel.h"
#include "settings.h"

#include <cstdio>

int main() {
    std::printf("quorvel_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);

    static QuorvelState q;
    quorvel_take_global_defines(q, g);
    load_image_settings(q);
    currentContrast.store(get_default_contrast());
    load_font_map(q);
    load_logo_table(q);
    load_font_table(q);
    select_default_pitch(q);

    std::string folder = g.ENGINE_INTAKE_FOLDER.empty() ? "/tmp/engine_intake" : g.ENGINE_INTAKE_FOLDER;
    JobIntake intake(folder, [](const std::string& path) { take_job(q, path); });
    dbg("Watching:: %s\n", folder.c_str());
    intake.run();
}
