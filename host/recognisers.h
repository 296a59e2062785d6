// Control messages in what the readers receive.
//
// Every read of the USB, RFCOMM and socket readers is offered here before it counts as print
// data. A message is recognised only when one read returns exactly its number of bytes:
//
//   packet mode on     4 bytes  1F 44 50 54 ("\x1fDPT")   answer "0"; from now on reads are packages
//   plain mode on      4 bytes  1F 50 50 54 ("\x1fPPT")   answer "1"
//   sequence query     2 bytes  1F 51, packet mode        answer: the last accepted serial number
//   package            1F 48, serial (2), length n (2, low byte first), n bytes of payload;
//                      packet mode; answered when complete (4 bytes, see package_answer)
//   status request     10 bytes, bytes 6..8 1F 52 5F, byte 9 selects: 1 the 12-byte status,
//                      0 the 11-byte printer information
//   clear request      plain mode: 5 bytes 1F 08 43 4C 52; packet mode: 11 bytes whose bytes 6..10
//                      are those (answer "1"; any other 11-byte package is answered "0" and is data)
//
// The mode is one for all interfaces (driver_print_flag); the package under reassembly and the
// serial numbers are kept per interface (PackageLink).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Package being put together in packet mode (header included); the largest package a host may send.
inline constexpr size_t REASSEMBLY_BUFFER_SIZE = 9216;
inline constexpr size_t PACKAGE_HEADER_SIZE = 6;

// Results of the package check.
enum PackageCheck : int {
    PACK_EMPTY = 0,      // an empty read
    PACK_PRINT = 1,      // complete, new serial number
    NO_PACK_HEAD = 2,    // no header where one was expected
    DATA_LEN_ERROR = 3,  // the reads do not add up to the declared length, or it cannot fit
    LONG_PACK = 5,       // more to come
    OLD_SEQ = 6,         // complete, the same serial number as the last accepted package
};

// One interface's side of the package protocol.
struct PackageLink {
    // Package under reassembly, header included.
    uint8_t data[REASSEMBLY_BUFFER_SIZE];
    size_t length = 0;
    size_t remaining = 0;      // payload bytes still expected (the header counts against it)
    bool in_progress = false;
    uint8_t serial_num[2] = {0, 0};   // last accepted package serial number
    uint8_t serial_temp[2] = {0, 0};  // serial number of the package being received
    // The RFCOMM reader goes on to the status and clear requests after a repeated package.
    bool requests_after_repeat = false;
    // Writes an answer to the host on this interface's connection.
    std::function<void(const uint8_t*, size_t)> answer;

    void reset_package() {
        length = 0;
        remaining = 0;
        in_progress = false;
    }
    void clear_serial() {
        serial_num[0] = serial_num[1] = 0;
        serial_temp[0] = serial_temp[1] = 0;
    }
    const uint8_t* payload() const { return data + PACKAGE_HEADER_SIZE; }
    size_t payload_length() const { return length > PACKAGE_HEADER_SIZE ? length - PACKAGE_HEADER_SIZE : 0; }
};

enum class ReadVerdict {
    data,              // print data: store the read
    end_of_read,       // answered and done (mode switch, sequence query)
    request_answered,  // a status or clear request was answered; the reassembly is emptied
    package_more,      // part of a package was kept; wait for the rest
    package_complete,  // a new package is complete in the link's buffer: store its payload
    package_rejected,  // header or length error: nothing to store, the reassembly is emptied
    package_repeated,  // complete, but the same serial number again: answered, nothing to store
};

// The package check for one read in packet mode. Appends the read to the link's buffer when it
// belongs to the package (LONG_PACK, PACK_PRINT, OLD_SEQ) and sends the package answer when the
// package is complete. A package that cannot fit the buffer is a length error; every error empties
// the reassembly.
PackageCheck check_package(PackageLink& link, const uint8_t* buffer, size_t length);

// Offers one read to the recognisers in the readers' order: mode switch; in packet mode the
// sequence query and the package check; the status request; the clear request.
ReadVerdict offer_to_recognisers(PackageLink& link, const uint8_t* buffer, size_t length);

// Writes an answer on a socket or device descriptor; a peer that does not take it in time (the
// socket's send time-out) or has gone loses it.
void send_to_host(int fd, const uint8_t* data, size_t length);

// A clear request sends "/root/engine_cmd X", waits this long, sends "/root/engine_cmd S 1", answers
// (packet mode) and removes every job waiting in the engine intake (in process).
extern long clear_request_pause_ms;  // 500
