// Discovery: a host finds the printer by a UDP broadcast to port 9999.
//
// A request is any datagram whose first 13 bytes hold "TELMARON-KVX" (so it starts at byte 0 or 1,
// and a zero byte before it hides it). The 256-byte answer goes back to the request's source:
//   0..15  "TELMARON-KVX" and 4 zero bytes     16..19  bytes 16..19 of the request
//   20..23 00 00 00 02    24..27 00 00 00 03   28..43  printer name   44..59  firmware version
//   60..75 zero           76..91 host name     92..95  IPv4 address   96..255 zero
// The host name is the first line of "/home/hostname.conf" (15 characters at most), else
// "H-<serial number>". Before each answer "/home/bcast.sh" brings the address up to date.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int DISCOVERY_PORT = 9999;
inline constexpr size_t DISCOVERY_SIZE = 256;
inline constexpr const char* DISCOVERY_SIGNATURE = "TELMARON-KVX";

struct PrinterIdentity {
    std::string printer_name;      // printerName, at most 20 characters kept
    std::string firmware_version;  // firmwareVersion, 16
    std::string wifi_name;         // ssid, 16
    std::string ip_address;        // ipAddress, 16
    std::string serial_number;     // configSN, 12
    std::string host_name;         // the host name field
};

bool is_discovery_request(const uint8_t* data, size_t length);
// Reads the identity from the key files (and the host name file) of host_paths.
PrinterIdentity read_printer_identity();
void build_discovery_answer(const uint8_t* request, size_t length, const PrinterIdentity& id,
                            uint8_t out[DISCOVERY_SIZE]);
// Dotted decimal text into four bytes in written order; anything that is not four numbers of
// 0..255 gives 0.0.0.0.
void ipStr2uc(const char* text, uint8_t out[4]);

void* recv_Bcast_pthrd(void*);
