// host_link's readers: the emulation switch at the start of a job and the job files a burst of
// host data becomes, driven through the USB reader's read_while_data with reads taken from the
// input. The job files are made below the fuzz root and checked after every burst: every byte the
// reader took as print data is in them, in order, and the switch happened exactly when the list says it should.
//
// Input: one setup byte (bits 0-1: the running emulation, bit 2: packet mode instead of plain
// mode, bit 3: reprint copies), then reads: a length byte L (0: the host pauses, the read finds
// nothing; else 2 L bytes follow, fewer at the end of the input).
#include "fuzz_support.h"

#include "emulation.h"
#include "host_state.h"
#include "job_files.h"
#include "shell_runner.h"
#include "usb_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
std::string engine, intake, reprint;

const char* const EMULATIONS[] = {"ZPL", "PDF", "ESCPOS", "VELTRA"};

// The reads of the current input.
const uint8_t* in_data = nullptr;
size_t in_size = 0, in_pos = 0;
std::string delivered;    // every byte the reader stored in this burst, in order
std::string first_read;   // the burst's first stored read
std::string last_switch;  // the emulation started by the last switch

ssize_t read_from_input(int, void* buf, size_t n) {
    if (in_pos >= in_size) return 0;
    size_t len = size_t(in_data[in_pos++]) * 2;
    len = std::min({len, n, in_size - in_pos});
    std::memcpy(buf, in_data + in_pos, len);
    in_pos += len;
    return ssize_t(len);
}

// What the reader stored: the reads it took as print data (plain reads, or the payloads of
// complete packages); mode switches, sequence queries, status and clear requests are not data.
void stored(const uint8_t* data, size_t len) {
    if (delivered.empty()) first_read.assign(reinterpret_cast<const char*>(data), len);
    delivered.append(reinterpret_cast<const char*>(data), len);
}

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The job files of the last burst, oldest first (streaming files by their number), removed as the
// interpreter or the job mover would take them.
std::string take_job_files() {
    std::vector<std::pair<long, fs::path>> files;
    std::error_code ec;
    for (const std::string& folder : {engine, intake})
        for (const auto& e : fs::directory_iterator(folder, ec)) {
            std::string name = e.path().filename().string();
            long n = folder == engine ? std::strtol(name.c_str() + std::strlen("printjob-"), nullptr, 10) : 0;
            files.emplace_back(n, e.path());
        }
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& [n, p] : files) {
        all += read_file(p);
        fs::remove(p, ec);
    }
    return all;
}

void fail(const char* what) {
    std::fprintf(stderr, "host_jobs: %s\n", what);
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    engine = fuzz_dir("engine_intake");
    intake = fuzz_dir("job_intake");
    reprint = fuzz_dir("reprint");
    host_paths.engine_intake = engine;
    host_settings.PATH_TO_JOB_INTAKE = intake;
    host_settings.PATH_TO_JOB_REPRINT = reprint;
    std::string list = fuzz_root() + "/emulation_list";
    std::ofstream(list) << "ESCPOS,escpos_interp,1\nZPL,zpl_interp,2\nCPCL,cpcl_interp,3\nVELTRA,veltra_interp,5\n"
                           "PDF,pdf_interp,10\nPDF,pdf_interp,27\n";
    load_emulation_tables(emulation_table, list);
    start_emulation_hook = [](const char* name) { last_switch = name; };
    emulation_switch_pause_ms = 0;
    usb_whole_job_retry_ms = 0;
    usb_read = read_from_input;
    usb_stored_hook = stored;
    posted_shell_hook = [](const char*) {};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t setup = data[0];
    set_emulation(EMULATIONS[setup & 3]);
    driver_print_flag = (setup & 4) ? 0 : 1;
    Hexconfig = (setup & 8) ? 1 : 0;
    in_data = data + 1;
    in_size = size - 1;
    in_pos = 0;
    UsbReader reader;
    std::error_code ec;
    fs::remove(reprint + "/printjob-1", ec);
    std::string last_streaming;
    while (in_pos < in_size) {
        delivered.clear();
        first_read.clear();
        last_switch.clear();
        std::string before = current_emulation();
        bool streaming_before = data_continually != 0;
        read_while_data(reader);
        // The host pauses between bursts: a job a control message left open ends.
        usb_reader_quiet(reader);
        std::string in_files = take_job_files();
        if (in_files != delivered) fail("the job files do not hold the bytes the host sent");
        // The switch: only plain mode, at the start of a job, a first stored read of ESC ESC and an
        // index of the list naming another emulation.
        std::string expected;
        EmulationName name;
        if (driver_print_flag == 1 && first_read.size() >= 3 && first_read[0] == 0x1B && first_read[1] == 0x1B &&
            get_indexed_emulation_name(emulation_table, uint8_t(first_read[2]), name) && before != name)
            expected = name;
        if (last_switch != expected) fail("the emulation switch did not follow the list");
        if (!expected.empty() && data_continually != emulation_style(expected.c_str()))
            fail("the style does not follow the switch");
        bool streaming = expected.empty() ? streaming_before : emulation_style(expected.c_str()) != 0;
        if (streaming && !delivered.empty()) last_streaming = delivered;
    }
    if (Hexconfig == 1 && !last_streaming.empty() && read_file(reprint + "/printjob-1") != last_streaming)
        fail("the reprint copy is not the last streaming job");
    return 0;
}
