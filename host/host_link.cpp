// host_link: reads the host interfaces, stores each job as a job file and hands it to the running
// interpreter, switching the interpreter when the host asks for another emulation; answers the
// host's status requests, follows the abort input, answers discovery broadcasts and takes raster
// pages on port 9100.
#include "bt_reader.h"
#include "discovery.h"
#include "emulation.h"
#include "host_state.h"
#include "job_closer.h"
#include "job_mover.h"
#include "raster_intake.h"
#include "response_pipe.h"
#include "run.h"
#include "serial_reader.h"
#include "settings.h"
#include "socket_reader.h"
#include "status.h"
#include "usb_reader.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <vector>

namespace {
std::vector<pthread_t> joinable;

bool start_thread(void* (*fn)(void*), const char* failure, bool detached = false) {
    pthread_t t{};
    if (pthread_create(&t, nullptr, fn, nullptr) != 0) {
        std::perror(failure);
        return false;
    }
    if (detached) pthread_detach(t);
    else joinable.push_back(t);
    return true;
}
}  // namespace

int main() {
    // Answers to a host that has gone must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    init_global_defines_host();
    if (host_settings.DEBUG_MSG == 1) std::printf("host_link: %s %s\n", __DATE__, __TIME__);
    init_bluetooth_settings();
    init_network_setup_variables();
    get_interface();
    get_hexdump_config();
    load_default_emulation(host_settings.IMAGE_CONFIG_FILEPATH);
    load_emulation_tables();
    set_emulation(default_emulation().c_str());

    start_thread(get_abort_and_get_return_data_pthrd, "get_abort_pthrd thread creation failed");
    start_thread(check_abort_pthrd, "check_abort_pthrd thread creation failed");
    start_thread(move_to_emulation_intake_pthrd, "move_to_emulation_intake_pthrd creation failed");
    sleep_ms(100);
    start_thread(resp_pipe_watch_pthrd, "host_resp_pipe_watch_pthrd thread creation failed");
    start_thread(read_USB_pthrd, "read_USB_pthrd creation failed", true);
    start_thread(recv_Bcast_pthrd, "recv_Bcast_pthrd");

    const std::string& iface = currentInterface;
    if (iface == "NSCBT") {
        start_thread(read_ZAD_Bluetooth_pthrd, "read_ZAD_Bluetooth_pthrd thread creation failed", true);
    } else if (iface == "BT") {
        start_thread(close_data_file, "close_data Thread creation failed", true);
        if (host_settings.BT_NETWORK == 1) {
            // The PAN bridge carries TCP like Wi-Fi: its connections are read by the same receiver.
            start_thread(receive_socket_data_pthrd, "receive_socket_data creation failed");
            start_thread(read_BT_PAN_pthrd, "read_BT_PAN Thread creation failed", true);
        } else {
            start_thread(read_BLUETOOTH_pthrd, "read_BT_SPP Thread creation failed", true);
        }
    } else if (iface == "WIFI") {
        start_thread(receive_socket_data_pthrd, "receive_socket_data creation failed");
        start_thread(close_data_file, "close_data Thread creation failed", true);
        start_thread(read_WIFI_pthrd, "read_WIFI_pthrd creation failed", true);
        read_WIFI_CUPS();  // the raster port server; it does not return
    }
    for (pthread_t t : joinable) pthread_join(t, nullptr);
    for (;;) sleep_ms(1000000);
}
