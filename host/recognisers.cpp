#include "recognisers.h"

#include "host_spawn.h"
#include "host_state.h"
#include "job_files.h"
#include "run.h"
#include "settings.h"
#include "status.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

long clear_request_pause_ms = 500;

namespace {
constexpr uint8_t PACKET_MODE_ON[4] = {0x1F, 0x44, 0x50, 0x54};
constexpr uint8_t PLAIN_MODE_ON[4] = {0x1F, 0x50, 0x50, 0x54};
constexpr uint8_t SEQUENCE_QUERY[2] = {0x1F, 0x51};
constexpr uint8_t STATUS_REQUEST[3] = {0x1F, 0x52, 0x5F};
constexpr uint8_t CLEAR_REQUEST[5] = {0x1F, 0x08, 0x43, 0x4C, 0x52};

void answer(PackageLink& link, const uint8_t* data, size_t length) {
    if (link.answer) link.answer(data, length);
}

void answer_byte(PackageLink& link, char c) {
    uint8_t b = static_cast<uint8_t>(c);
    answer(link, &b, 1);
}

bool is_packet_mode() { return driver_print_flag == 0; }

// Mode switch: a 4-byte read.
bool mode_switch(PackageLink& link, const uint8_t* buf, size_t len) {
    if (len != 4) return false;
    if (std::memcmp(buf, PACKET_MODE_ON, 4) == 0) {
        driver_print_flag = 0;
        answer_byte(link, '0');
        return true;
    }
    if (std::memcmp(buf, PLAIN_MODE_ON, 4) == 0) {
        driver_print_flag = 1;
        answer_byte(link, '1');
        return true;
    }
    return false;
}

// Status request: a 10-byte read.
bool status_request(PackageLink& link, const uint8_t* buf, size_t len) {
    if (len != 10 || std::memcmp(buf + 6, STATUS_REQUEST, 3) != 0) return false;
    uint8_t out[12];
    size_t n = status_answer(buf[9], out);
    if (n == 0) return false;  // another selector: not a request
    if (buf[9] == 0) dbg("Return printer info\n");
    answer(link, out, n);
    if (trace_reads()) std::printf("return status: %.*s\n", static_cast<int>(n), reinterpret_cast<const char*>(out));
    return true;
}

// Clear request: 5 bytes in plain mode, 11 in packet mode.
bool clear_request(PackageLink& link, const uint8_t* buf, size_t len) {
    bool packet = is_packet_mode();
    bool match;
    if (packet) {
        if (len != 11) return false;
        match = std::memcmp(buf + 6, CLEAR_REQUEST, 5) == 0;
        if (!match) {
            answer_byte(link, '0');  // any other 11-byte package: answered "0", and it is data
            return false;
        }
    } else {
        match = len == 5 && std::memcmp(buf, CLEAR_REQUEST, 5) == 0;
        if (!match) return false;
    }
    host_run_shell("/root/engine_cmd X");
    sleep_ms(clear_request_pause_ms);
    host_run_shell("/root/engine_cmd S 1");
    if (packet) answer_byte(link, '1');
    // Every job waiting in the engine intake is dropped (in process, never through a shell).
    empty_folder_tree(host_paths.engine_intake);
    return true;
}
}  // namespace

void send_to_host(int fd, const uint8_t* data, size_t len) {
    while (len > 0) {
        ssize_t w = send(fd, data, len, MSG_NOSIGNAL);
        if (w < 0 && errno == ENOTSOCK) w = write(fd, data, len);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (trace_reads()) std::printf("return status error...\n");
            return;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
}

PackageCheck check_package(PackageLink& link, const uint8_t* buf, size_t r) {
    if (r < 1) return PACK_EMPTY;
    if (!link.in_progress) {
        link.reset_package();
        if (r < 2 || buf[0] != 0x1F || buf[1] != 0x48) {
            link.reset_package();
            return NO_PACK_HEAD;
        }
        if (r < PACKAGE_HEADER_SIZE) {
            link.reset_package();
            return DATA_LEN_ERROR;
        }
        link.serial_temp[0] = buf[2];
        link.serial_temp[1] = buf[3];
        link.remaining = static_cast<size_t>(buf[4]) | (static_cast<size_t>(buf[5]) << 8);
        // The whole package, header included, must fit the reassembly buffer.
        if (link.remaining + PACKAGE_HEADER_SIZE > REASSEMBLY_BUFFER_SIZE) {
            link.reset_package();
            return DATA_LEN_ERROR;
        }
    }
    if (r < link.remaining) {
        // Part of the package: r < remaining <= buffer size minus what is held, so it fits.
        std::memcpy(link.data + link.length, buf, r);
        link.length += r;
        link.remaining -= r;
        link.in_progress = true;
        return LONG_PACK;
    }
    if (r != link.remaining + PACKAGE_HEADER_SIZE) {
        link.reset_package();
        return DATA_LEN_ERROR;
    }
    std::memcpy(link.data + link.length, buf, r);
    link.length += r;
    link.remaining = 0;
    link.in_progress = false;
    PackageCheck result;
    if (link.serial_temp[0] == link.serial_num[0] && link.serial_temp[1] == link.serial_num[1]) {
        result = OLD_SEQ;
    } else {
        link.serial_num[0] = link.serial_temp[0];
        link.serial_num[1] = link.serial_temp[1];
        result = PACK_PRINT;
    }
    uint8_t out[4];
    package_answer(link.serial_temp, out);
    answer(link, out, sizeof out);
    if (trace_reads()) std::printf("return package : %x %x %x %x\n", out[0], out[1], out[2], out[3]);
    return result;
}

ReadVerdict offer_to_recognisers(PackageLink& link, const uint8_t* buf, size_t len) {
    if (mode_switch(link, buf, len)) return ReadVerdict::end_of_read;
    ReadVerdict verdict = ReadVerdict::data;
    if (is_packet_mode()) {
        if (len == 2 && std::memcmp(buf, SEQUENCE_QUERY, 2) == 0) {
            answer(link, link.serial_num, 2);
            if (trace_reads()) std::printf("return ask: %x %x\n", link.serial_num[0], link.serial_num[1]);
            return ReadVerdict::end_of_read;
        }
        switch (check_package(link, buf, len)) {
            case PACK_EMPTY: return ReadVerdict::data;
            case LONG_PACK: return ReadVerdict::package_more;
            case NO_PACK_HEAD:
            case DATA_LEN_ERROR: link.reset_package(); return ReadVerdict::package_rejected;
            case OLD_SEQ:
                if (!link.requests_after_repeat) {
                    link.reset_package();
                    return ReadVerdict::package_repeated;
                }
                verdict = ReadVerdict::package_repeated;
                break;
            case PACK_PRINT: verdict = ReadVerdict::package_complete; break;
        }
    }
    if (status_request(link, buf, len) || clear_request(link, buf, len)) {
        link.reset_package();
        return ReadVerdict::request_answered;
    }
    if (verdict == ReadVerdict::package_repeated) link.reset_package();
    return verdict;
}
