// Control messages in what the readers receive.
//
// Every read is offered here before it is treated as print data. The host's mode switch, the
// sequence query and package check of packet mode, the status request and the clear request are
// recognised here (answering the host on the same connection); a read that matches none of them
// is print data. Plain mode with no control messages is what this build knows: every read is data.
#pragma once

#include <cstddef>
#include <cstdint>

// Package being put together in packet mode (header included).
inline constexpr size_t REASSEMBLY_BUFFER_SIZE = 9216;

struct Reassembly {
    uint8_t data[REASSEMBLY_BUFFER_SIZE];
    size_t length = 0;
    void clear() { length = 0; }
};

enum class ReadVerdict {
    data,              // print data: store the read
    end_of_read,       // answered and done (mode switch, sequence query, status or clear request)
    package_more,      // part of a package was kept; wait for the rest
    package_complete,  // a new package is complete in the reassembly buffer: store its payload
    package_rejected,  // header or length error, repeated package: nothing to store
};

// fd: the connection to answer on.
ReadVerdict offer_to_recognisers(int fd, const uint8_t* buffer, size_t length, Reassembly& reassembly);
