// veltra_interp's state: everything the service language keeps between bytes and between jobs, in
// one record that the process, a test or a fuzz target creates fresh.
//
// The device paths it touches are fields of `files`; the other programs it runs go through `shell`
// (fixed command lines only: no job byte and no file name taken from a folder is ever part of one)
// and `program` (argument vectors, no shell). Tests replace both, and `sleep`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The device paths of the service language.
struct VeltraFiles {
    std::string engine_intake = "/tmp/engine_intake";
    std::string return_dat = "/tmp/return.dat";
    std::string oem_config = "/home/oem_config.cfg";
    std::string serial_number = "/home/serial_number.cfg";
    std::string paper_config = "/home/paper_config.cfg";
    std::string network_config = "/networkConfig/network_config.cfg";
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string label_config = "/home/label_config.cfg";
    std::string headlife = "/headlife/liferecode";
    std::string emulation_list = "/home/emulation_list";
    std::string contrast_presets = "/home/contrast";    // "<folder>/<n>.cfg"
    std::string contrast_staging = "/paper_config.cfg";  // a preset on its way to the paper file
    std::string archive = "/rfs.tgz";                    // the root file system archive being installed
    std::string package = "/package";
    std::string backup = "/backup";
    std::string extract_root = "/";
    std::string slave_firmware_folder = "/slave_firmware";
    std::string slave_firmware = "/SAM3_FIRMWARE";
    std::string ackfile = "/tmp/ackfile";
    std::string data_port = "/dev/slave_hss";  // SLAVE_HSS_DEV_NAME
};

inline constexpr size_t VELTRA_EMULATIONS_MAX = 15;
inline constexpr size_t VELTRA_NAME_MAX = 32;  // bytes of an emulation or program name

struct VeltraEmulation {
    char name[VELTRA_NAME_MAX + 1] = {};
    char program[VELTRA_NAME_MAX + 1] = {};
    int index = 0;
};

struct VeltraState {
    VeltraFiles files;

    // Setup mode: most service commands act only while it is 1.
    int SETUP_ENABLE_FLAG = 0;
    // Set by TAR_ENABLE: the next job is a root file system archive.
    int UPLOAD_TAR_FILE_FLAG = 0;
    // Set by the first identity line drawn: while set, every job ends with a dot image.
    int print_out_enable_flag = 0;

    // Identity values, read on demand.
    std::string printer_model, manufacture_INFO, firmwareVersion, slaveVersion;
    std::string manufacture_SN, manufacture_DATE;

    // Text cursor in dots, (10, 0) at the start of every job.
    int x_loc = 10, y_loc = 0;

    VeltraEmulation emulations[VELTRA_EMULATIONS_MAX];
    size_t emulation_count = 0;

    // What the current job asked for: stop scanning (a firmware transfer took the job), and the
    // printer is to restart (the process then waits for it instead of taking more jobs).
    bool stop_scan = false;
    bool parked = false;

    // Bytes of a job that are no service sequence are copied here (nullptr: dropped).
    FILE* echo = stdout;
    // Drawing needs the rendering library's page; the fuzz target may run without fonts.
    bool draw = true;

    // Bounds of the waits on the slave (milliseconds).
    int ack_timeout_ms = 30000;         // the acknowledgement of a firmware transfer ("/tmp/ackfile")
    int data_port_timeout_ms = 30000;   // a firmware image block the port does not take
    int answer_timeout_ms = 10000;      // the slave's one-byte answer after the image

    std::function<int(const std::string& line)> shell;
    std::function<int(const std::vector<std::string>& argv)> program;
    std::function<void(long ms)> sleep;

    // The last failure reported (also printed on standard error).
    std::string last_report;

    VeltraState();  // the device's runners: run_shell, run_argv, sleep_ms
};

// Failures of the service language: printed on standard error as "veltra_interp: ...", always.
void veltra_report(VeltraState& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// "/root/engine_cmd A", 200 ms, then the first line of the status file: busy when its fourth
// character is "1".
bool check_printing_not_busy(VeltraState& s);

// The emulation list (at most 15 entries, names cut to 32 bytes).
void load_emulation_tables(VeltraState& s);

// The identity values of both identity files, each read skipped while the printer is busy.
void read_identity(VeltraState& s);

// The writing routine of key files: loads the file (comments kept), sets the value, writes the
// whole text back and runs "sync".
void veltra_set_key(VeltraState& s, const std::string& path, const char* group, const char* key, const std::string& value);
void veltra_set_key(VeltraState& s, const std::string& path, const char* group, const char* key, int value);

// Copies a file byte for byte (a temporary file next to the target, renamed over it).
bool copy_file_whole(const std::string& from, const std::string& to, std::string& why, uint64_t skip = 0);
// Renames, or copies and deletes when the two lie on different file systems.
bool move_file(const std::string& from, const std::string& to, std::string& why);
