// host_link: reads the host interfaces, stores each job as a job file and hands it to the running
// interpreter, switching the interpreter when the host asks for another emulation.
#include "emulation.h"
#include "host_state.h"
#include "job_mover.h"
#include "run.h"
#include "settings.h"
#include "usb_reader.h"

#include <cstdio>
#include <pthread.h>

namespace {
bool start_thread(pthread_t& t, void* (*fn)(void*), const char* failure, bool detached = false) {
    if (pthread_create(&t, nullptr, fn, nullptr) != 0) {
        std::perror(failure);
        return false;
    }
    if (detached) pthread_detach(t);
    return true;
}
}  // namespace

int main() {
    init_global_defines_host();
    if (host_settings.DEBUG_MSG == 1) std::printf("host_link: %s %s\n", __DATE__, __TIME__);
    init_bluetooth_settings();
    init_network_setup_variables();
    get_interface();
    get_hexdump_config();
    load_default_emulation(host_settings.IMAGE_CONFIG_FILEPATH);
    load_emulation_tables();
    set_emulation(default_emulation().c_str());

    pthread_t mover{}, usb{};
    bool have_mover = start_thread(mover, move_to_emulation_intake_pthrd, "move_to_emulation_intake_pthrd creation failed");
    sleep_ms(100);
    start_thread(usb, read_USB_pthrd, "read_USB_pthrd creation failed", true);
    // The wireless readers are chosen by currentInterface; USB alone is served for any other value.

    if (have_mover) pthread_join(mover, nullptr);
    for (;;) sleep_ms(1000000);
}
