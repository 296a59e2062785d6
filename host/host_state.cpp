#include "host_state.h"

#include "gpio.h"
#include "keyfile.h"
#include "settings.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <pthread.h>
#include <cstring>

HostSettings host_settings;
std::string currentInterface;
int currentPort = 0;
int Hexconfig = 0;

std::atomic<int> data_continually{0};
std::atomic<uint8_t> driver_print_flag{1};
std::atomic<int> usb_connect{0}, bt_connect{0};
std::atomic<int> abort_flag{0};
std::atomic<int> run_index{1};
HostPaths host_paths;

namespace {
std::mutex resp_path_mutex;
char host_resp_path = 'u';

std::mutex turn_mutex;
std::condition_variable turn_changed;

std::mutex abort_mutex;
std::condition_variable abort_changed;
}  // namespace

void copy_emulation_name(EmulationName& dst, const char* src) {
    size_t n = 0;
    if (src) {
        while (n < EMULATION_NAME_MAX && src[n] != '\0') ++n;
        std::memcpy(dst, src, n);
    }
    dst[n] = '\0';
}

void init_global_defines_host(const std::string& path) {
    GlobalDefines g;
    init_global_defines(g, path);
    HostSettings& s = host_settings;
    s.PATH_TO_JOB_INTAKE = g.PATH_TO_JOB_INTAKE;
    s.PATH_TO_JOB_REPRINT = g.PATH_TO_JOB_REPRINT;
    s.PATH_TO_EMU_INTAKE = g.PATH_TO_EMU_INTAKE;
    s.IMAGE_CONFIG_FILEPATH = g.IMAGE_CONFIG_FILEPATH;
    s.EMULATION_LIST_FILEPATH = g.EMULATION_LIST_FILEPATH;
    s.HOST_RESPONSE_PIPE_FILEPATH = g.HOST_RESPONSE_PIPE_FILEPATH;
    s.PRINTER_GADGET_FILE = g.PRINTER_GADGET_FILE;
    s.ZAD_BLUETOOTH_DEV_FILE = g.ZAD_BLUETOOTH_DEV_FILE;
    s.ABORT_GPIO_NUMBER = g.ABORT_GPIO_NUMBER;
    s.SUCCESS = g.SUCCESS;
    s.DEBUG_MSG = g.DEBUG_MSG;
    g_debug_msg = g.DEBUG_MSG;
    s.abort_value_path = gpio_value_path(g.ABORT_GPIO_NUMBER);
}

void init_bluetooth_settings(const std::string& path) {
    KeyFile kf(path);
    const char* grp = "LocalBTSettings";
    HostSettings& s = host_settings;
    s.BT_TIMEOUT_TICKS = kf.get_int(grp, "BT_TIMEOUT_TICKS");
    s.NSCBT_TIMEOUT_TICKS = kf.get_int(grp, "NSCBT_TIMEOUT_TICKS");
    s.NSCBT_BAUD = kf.get_int(grp, "NSCBT_BAUD");
    s.MINIMUM_FILE_SIZE = kf.get_int(grp, "MINIMUM_FILE_SIZE");
    s.BT_ACCEPT_AFTER_JOB = kf.get_int(grp, "BT_ACCEPT_AFTER_JOB");
    s.BT_NETWORK = kf.get_int(grp, "BT_NETWORK");
}

void init_network_setup_variables(const std::string& path) {
    currentPort = key_int(path, "NetworkConfig", "configPort");
}

void get_interface(const std::string& path) {
    currentInterface = key_string(path, "Interface", "configInterface");
}

void get_hexdump_config(const std::string& path) {
    Hexconfig = key_int(path, "Hexconfig", "Hexconfig");
}

void set_host_resp_path(char path) {
    std::lock_guard<std::mutex> lock(resp_path_mutex);
    host_resp_path = path;
}

char get_host_resp_path() {
    std::lock_guard<std::mutex> lock(resp_path_mutex);
    return host_resp_path;
}

void usb_take_turn() {
    std::unique_lock<std::mutex> lock(turn_mutex);
    turn_changed.wait(lock, [] { return bt_connect == 0; });
    usb_connect = 1;
}

void usb_end_turn() {
    {
        std::lock_guard<std::mutex> lock(turn_mutex);
        usb_connect = 0;
    }
    turn_changed.notify_all();
}

void bt_take_turn() {
    std::unique_lock<std::mutex> lock(turn_mutex);
    turn_changed.wait(lock, [] { return usb_connect == 0; });
    bt_connect = 1;
}

void bt_end_turn() {
    {
        std::lock_guard<std::mutex> lock(turn_mutex);
        bt_connect = 0;
    }
    turn_changed.notify_all();
}

void wait_while_usb_connected() {
    std::unique_lock<std::mutex> lock(turn_mutex);
    turn_changed.wait(lock, [] { return usb_connect == 0; });
}

void set_abort_flag(int value) {
    {
        std::lock_guard<std::mutex> lock(abort_mutex);
        abort_flag = value;
    }
    abort_changed.notify_all();
}

bool wait_abort_flag(int value, long timeout_ms) {
    std::unique_lock<std::mutex> lock(abort_mutex);
    auto pred = [value] { return abort_flag == value; };
    if (timeout_ms < 0) {
        abort_changed.wait(lock, pred);
        return true;
    }
    return abort_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

int read_abort_pin() {
    static std::atomic<bool> reported{false};
    const std::string& path = host_settings.abort_value_path;
    int c = path.empty() ? -1 : gpio_read_char(path);
    if (c < 0) {
        if (!reported.exchange(true))
            std::fprintf(stderr, "host_link: the abort input %s cannot be read; taken as inactive\n",
                         path.empty() ? "(no pin)" : path.c_str());
        return '1';
    }
    reported = false;
    return c;
}

void name_thread(const char* name) { pthread_setname_np(pthread_self(), name); }

bool get_abort() { return read_abort_pin() != '1'; }
