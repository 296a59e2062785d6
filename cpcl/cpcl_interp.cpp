// cpcl_interp: the CPCL label and line-printer interpreter. Job files written or moved into the
// engine intake become dot images for the print engine.
#include "cpcl_commands.h"
#include "cpcl_input.h"
#include "cpcl_settings.h"

#include "image_builder.h"
#include "settings.h"

#include <cstdio>
#include <memory>
#include <thread>

int main() {
    std::printf("cpcl_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);

    auto state = std::make_unique<cpcl::CpclState>();
    cpcl::CpclState& s = *state;
    cpcl::load_settings(s, cpcl::settings_files(g), g.CPCL_HEIGHT_SCALER);
    cpcl::use_device_hooks(s);
    s.contrast = get_default_contrast();
    currentContrast.store(s.contrast);
    cpcl::reset_input(s);
    init_rendering_system();

    std::string intake = g.ENGINE_INTAKE_FOLDER.empty() ? "/tmp/engine_intake" : g.ENGINE_INTAKE_FOLDER;
    std::thread jobs([&s, intake] { cpcl::run_intake(s, intake); });
    cpcl::run_forever(s);
}
