// pdf_interp: PDF documents, PostScript programs and pictures. Job files handed to the engine
// intake (the ones waiting at start first) are printed one after the other.
#include "image_builder.h"
#include "job_intake.h"
#include "pdf.h"
#include "settings.h"

#include <cstdio>

int main() {
    std::printf("pdf_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);  // dot image folder, contrast trigger, paper file

    static PdfState s;
    pdf_take_global_defines(s, g);
    load_default_emulation(s);
    rebuild_start_tables(s);

    JobIntake intake(s.paths.engine_intake, [](const std::string& path) { take_job(s, path); });
    dbg("Watching:: %s\n", s.paths.engine_intake.c_str());
    intake.run();
}
