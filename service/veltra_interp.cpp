// veltra_interp: the service language. Job files of the engine intake carry set-up commands,
// identity printouts and firmware transfers; see service/veltra_scanner.h for the sequences.
#include "veltra_job.h"
#include "veltra_state.h"

#include "image_builder.h"
#include "job_intake.h"
#include "settings.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {
VeltraState state;

std::string or_default(const std::string& v, const std::string& fallback) { return v.empty() ? fallback : v; }

void* main_emulation_job_intake_pthrd(void*) {
    JobIntake intake(state.files.engine_intake, [](const std::string& path) {
        veltra_process_job(state, path);
        if (state.parked) {
            // An archive was installed (or its extraction undone): the printer is restarting.
            std::fflush(nullptr);
            for (;;) pause();
        }
    });
    dbg("Watching:: %s\n", state.files.engine_intake.c_str());
    intake.run();
}
}  // namespace

int main() {
    std::printf("veltra_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);

    VeltraFiles& f = state.files;
    f.engine_intake = or_default(g.ENGINE_INTAKE_FOLDER, f.engine_intake);
    f.paper_config = or_default(g.PAPER_CONFIG_FILEPATH, f.paper_config);
    f.image_config = or_default(g.IMAGE_CONFIG_FILEPATH, f.image_config);
    f.network_config = or_default(g.NETWORK_CONFIG_FILEPATH, f.network_config);
    f.emulation_list = or_default(g.EMULATION_LIST_FILEPATH, f.emulation_list);
    f.data_port = or_default(g.SLAVE_HSS_DEV_NAME, f.data_port);

    veltra_load_settings(state);
    load_emulation_tables(state);
    global_number_of_copies = 0;

    pthread_t intake{};
    int rc = pthread_create(&intake, nullptr, main_emulation_job_intake_pthrd, nullptr);
    if (rc != 0) {
        errno = rc;
        std::perror("Thread creation failed");
        return 1;
    }
    pthread_join(intake, nullptr);
    return 0;
}
