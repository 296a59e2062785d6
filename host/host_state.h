// host_link's process-wide state: the settings read at start and the variables its threads share.
//
// Settings are loaded once by the init_* / load_* / get_* routines before any thread starts and
// only read afterwards. The shared flags are atomics; the emulation names and the response route
// have a mutex each.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Emulation names are at most 32 characters; the buffers keep room for the terminating zero.
inline constexpr size_t EMULATION_NAME_MAX = 32;
using EmulationName = char[EMULATION_NAME_MAX + 1];

// Copies at most EMULATION_NAME_MAX characters of src and always terminates dst.
void copy_emulation_name(EmulationName& dst, const char* src);

// ---- settings (loaded at start) ------------------------------------------------------------
struct HostSettings {
    // /home/globalDefines.cfg
    std::string PATH_TO_JOB_INTAKE, PATH_TO_JOB_REPRINT, PATH_TO_EMU_INTAKE;
    std::string IMAGE_CONFIG_FILEPATH, EMULATION_LIST_FILEPATH, HOST_RESPONSE_PIPE_FILEPATH;
    std::string PRINTER_GADGET_FILE, ZAD_BLUETOOTH_DEV_FILE;
    int ABORT_GPIO_NUMBER = 0;
    int SUCCESS = 0;
    int DEBUG_MSG = 0;
    // /btConfig/blueTooth.cfg
    int BT_TIMEOUT_TICKS = 0, NSCBT_TIMEOUT_TICKS = 0, NSCBT_BAUD = 0, MINIMUM_FILE_SIZE = 0;
    int BT_ACCEPT_AFTER_JOB = 0, BT_NETWORK = 0;
    // value file of the abort input ("" when the GPIO number has no pin name)
    std::string abort_value_path;
};
extern HostSettings host_settings;

extern std::string currentInterface;  // configInterface
extern int currentPort;               // configPort
extern int Hexconfig;                 // 1: keep a copy of the last job in the reprint folder

// Reading routines of the start-up, in the order host_link runs them.
void init_global_defines_host(const std::string& path = "/home/globalDefines.cfg");
void init_bluetooth_settings(const std::string& path = "/btConfig/blueTooth.cfg");
void init_network_setup_variables(const std::string& path = "/networkConfig/network_config.cfg");
void get_interface(const std::string& path = "/home/interface_config.cfg");
void get_hexdump_config(const std::string& path = "/home/hexdump_config.cfg");

// ---- shared between the threads -----------------------------------------------------------
extern std::atomic<int> data_continually;    // 1 streaming emulation, 0 whole-job emulation
extern std::atomic<uint8_t> driver_print_flag;  // 1 plain mode, 0 packet mode
extern std::atomic<int> usb_connect, bt_connect;
extern std::atomic<int> abort_flag;
extern std::atomic<int> run_index;

// The interface that last received data: 'u' USB, 'w' network socket, 'b' serial Bluetooth module.
void set_host_resp_path(char path);
char get_host_resp_path();

// The USB and Bluetooth readers take turns: each waits while the other's flag is set, then sets
// its own (usb_connect / bt_connect stay readable as plain flags).
void usb_take_turn();
void usb_end_turn();
void bt_take_turn();
void bt_end_turn();
void wait_while_usb_connected();

// abort_flag is written only by the status thread, through set_abort_flag, which wakes the
// threads waiting for a change.
void set_abort_flag(int value);
// Waits until abort_flag equals value or timeout_ms passed (negative: no limit). True when it does.
bool wait_abort_flag(int value, long timeout_ms);

// Single-shot look at the abort input: true while it is active (the value file reads anything but
// "1"). A value file that cannot be read at all counts as inactive (reported once), so that a
// printer without the line never holds its jobs back.
bool get_abort();
// The first character of the abort input's value file, '1' when it cannot be read.
int read_abort_pin();

// Device paths host_link uses; unit tests point them into a temporary folder.
struct HostPaths {
    std::string engine_intake = "/tmp/engine_intake";
    std::string return_dat = "/tmp/return.dat";
    std::string command_intake = "/tmp/command_intake";
    std::string check_im = "/tmp/check_im";
    std::string hostname_conf = "/home/hostname.conf";
    std::string oem_config = "/home/oem_config.cfg";
    std::string serial_number = "/home/serial_number.cfg";
    std::string raster_folder = "/tmp";                        // receive file "<folder>/printjob-1.pgm"
    std::string dot_feeder_intake = "/tmp/dot_feeder_intake";  // raster pages become "<folder>/imge.pbm"
    std::string serial_line = "/dev/ttyS2";
};
extern HostPaths host_paths;

// Names the calling thread (seen in /proc/<pid>/task/<tid>/comm); never the main thread, whose
// name is the process's.
void name_thread(const char* name);

// Trace of each read when DEBUG_MSG is 2.
inline bool trace_reads() { return host_settings.DEBUG_MSG == 2; }
