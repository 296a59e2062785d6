// host_link's package recognisers: one input is a series of reads from hosts on three interfaces
// (a USB-like, a socket-like and an RFCOMM-like link), each offered to the recognisers as the
// readers do. Every input starts from a fresh state: plain mode, the status string of the start,
// empty reassembly buffers and serial numbers.
//
// Input: records of [link selector][read length, two bytes, low first][that many bytes]; a record
// cut short by the end of the input takes what is left.
#include "host_spawn.h"
#include "host_state.h"
#include "recognisers.h"
#include "status.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
struct Link {
    PackageLink link;
    size_t answered = 0;
};
Link links[3];

// The engine intake a clear request empties: a folder of this process, removed at exit.
struct IntakeFolder {
    std::string path;
    IntakeFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "host_packages_fuzz.XXXXXX").string();
        if (mkdtemp(tmpl.data())) path = tmpl;
    }
    ~IntakeFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
} intake;

[[noreturn]] void broken() { std::abort(); }

void check_link(const PackageLink& l) {
    if (l.length > REASSEMBLY_BUFFER_SIZE) broken();
    if (l.in_progress && l.length + l.remaining > REASSEMBLY_BUFFER_SIZE - PACKAGE_HEADER_SIZE) broken();
    if (!l.in_progress && l.remaining != 0) broken();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (intake.path.empty()) std::abort();
    host_paths.engine_intake = intake.path;
    host_command_hook = [](const std::string&) { return 0; };
    clear_request_pause_ms = 0;
    for (Link& l : links) {
        l.link.answer = [&l](const uint8_t*, size_t n) { l.answered += n; };
    }
    links[2].link.requests_after_repeat = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    driver_print_flag = 1;
    reset_status_string();
    clear_abort_delay();
    for (Link& l : links) {
        l.link.reset_package();
        l.link.clear_serial();
        l.answered = 0;
    }
    size_t pos = 0;
    while (pos < size) {
        Link& l = links[data[pos] % 3];
        ++pos;
        size_t len = 0;
        if (pos < size) len = data[pos++];
        if (pos < size) len |= static_cast<size_t>(data[pos++]) << 8;
        if (len > size - pos) len = size - pos;
        if (len == 0) continue;
        size_t before = l.answered;
        ReadVerdict v = offer_to_recognisers(l.link, data + pos, len);
        size_t answer = l.answered - before;
        pos += len;
        check_link(l.link);
        // Answers: nothing, a mode or clear byte, a serial number, a package answer, a status or
        // printer information, and their sums with a package answer (and the "0" of a 5-byte payload).
        switch (answer) {
            case 0: case 1: case 2: case 4: case 5: case 11: case 12: case 15: case 16: break;
            default: broken();
        }
        if (v == ReadVerdict::package_complete &&
            (l.link.length < PACKAGE_HEADER_SIZE || l.link.payload_length() + PACKAGE_HEADER_SIZE != l.link.length))
            broken();
        if (v == ReadVerdict::package_complete) l.link.reset_package();  // the reader stores and empties it
    }
    return 0;
}
