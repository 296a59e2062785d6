#include "discovery.h"

#include "host_spawn.h"
#include "host_state.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::string cut(std::string s, size_t max) {
    if (s.size() > max) s.resize(max);
    return s;
}

void put_field(uint8_t* out, size_t field, const std::string& text) {
    std::memcpy(out, text.data(), std::min(field, text.size()));
}
}  // namespace

bool is_discovery_request(const uint8_t* data, size_t length) {
    // The first 13 bytes, as a zero-terminated text.
    char head[14] = {};
    std::memcpy(head, data, std::min<size_t>(length, 13));
    return std::strstr(head, DISCOVERY_SIGNATURE) != nullptr;
}

void ipStr2uc(const char* text, uint8_t out[4]) {
    std::memset(out, 0, 4);
    if (!text) return;
    uint8_t parts[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') return;
        int v = 0, digits = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (*p - '0');
            if (++digits > 3 || v > 255) return;
            ++p;
        }
        parts[i] = static_cast<uint8_t>(v);
        if (i < 3) {
            if (*p != '.') return;
            ++p;
        }
    }
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    if (*p != '\0') return;
    std::memcpy(out, parts, 4);
}

PrinterIdentity read_printer_identity() {
    PrinterIdentity id;
    KeyFile oem(host_paths.oem_config);
    id.printer_name = cut(oem.get_string("PrinterInfo", "printerName"), 20);
    id.firmware_version = cut(oem.get_string("PrinterInfo", "firmwareVersion"), 16);
    id.wifi_name = cut(oem.get_string("WifiInfo", "ssid"), 16);
    id.ip_address = cut(oem.get_string("WifiInfo", "ipAddress"), 16);
    id.serial_number = cut(key_string(host_paths.serial_number, "Serial Number", "configSN"), 12);
    std::ifstream f(host_paths.hostname_conf);
    std::string line;
    if (f && std::getline(f, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    }
    id.host_name = line.empty() ? "H-" + id.serial_number : cut(line, 15);
    return id;
}

void build_discovery_answer(const uint8_t* request, size_t length, const PrinterIdentity& id,
                            uint8_t out[DISCOVERY_SIZE]) {
    std::memset(out, 0, DISCOVERY_SIZE);
    std::memcpy(out, DISCOVERY_SIGNATURE, std::strlen(DISCOVERY_SIGNATURE));
    for (size_t i = 16; i < 20 && i < length; ++i) out[i] = request[i];
    out[23] = 0x02;
    out[27] = 0x03;
    put_field(out + 28, 16, id.printer_name);
    put_field(out + 44, 16, id.firmware_version);
    put_field(out + 76, 16, id.host_name);
    ipStr2uc(id.ip_address.c_str(), out + 92);
}

void* recv_Bcast_pthrd(void*) {
    name_thread("discovery");
    dbg("Broadcast pthrd begin...\n");
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        std::perror("sock error");
        return nullptr;
    }
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(DISCOVERY_PORT);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("bind error");
        close(s);
        return nullptr;
    }
    uint8_t request[DISCOVERY_SIZE];
    uint8_t answer[DISCOVERY_SIZE];
    for (;;) {
        struct pollfd p {s, POLLIN, 0};
        int rc = poll(&p, 1, 100000);
        if (rc < 0) {
            if (errno != EINTR) {
                std::perror("select error:");
                sleep_ms(100);
            }
            continue;
        }
        if (rc == 0) {
            dbg("select timeout\n");
            continue;
        }
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(s, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n <= 0 || !is_discovery_request(request, static_cast<size_t>(n))) continue;
        host_run_shell("/home/bcast.sh");
        build_discovery_answer(request, static_cast<size_t>(n), read_printer_identity(), answer);
        sendto(s, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), from_len);
    }
}
