#include "rfcomm_link.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
#ifdef PRINTER_RFCOMM_STANDIN
socklen_t standin_address(int channel, sockaddr_un& a) {
    a = {};
    a.sun_family = AF_UNIX;
    std::string name = rfcomm_standin_name(channel);
    // Abstract name: a leading zero byte, no file.
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

int standin_listen(int channel, int backlog) {
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_un a;
    socklen_t len = standin_address(channel, a);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(s, backlog) != 0) {
        int e = errno;
        close(s);
        errno = e;
        return -1;
    }
    return s;
}
#endif
}  // namespace

std::string rfcomm_standin_name(int channel) { return "rfcomm-standin/channel-" + std::to_string(channel); }

int rfcomm_listen(int channel, int backlog, bool* standin) {
    if (standin) *standin = false;
    int s = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
    if (s < 0) {
#ifdef PRINTER_RFCOMM_STANDIN
        if (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT || errno == ESOCKTNOSUPPORT) {
            if (standin) *standin = true;
            return standin_listen(channel, backlog);
        }
#endif
        return -1;
    }
    sockaddr_rc a{};
    a.rc_family = AF_BLUETOOTH;
    bdaddr_t any{};  // BDADDR_ANY: every local adapter
    a.rc_bdaddr = any;
    a.rc_channel = static_cast<uint8_t>(channel);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0) {
        int e = errno;
        close(s);
        errno = e;
        return -1;
    }
    return s;
}

int rfcomm_accept(int listener, std::string& peer) {
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    int c;
    do {
        c = accept4(listener, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    if (c < 0) return -1;
    char text[32] = "00:00:00:00:00:00";
    if (from.ss_family == AF_BLUETOOTH) {
        const auto* rc = reinterpret_cast<const sockaddr_rc*>(&from);
        // Most significant byte first, as BlueZ writes addresses.
        const uint8_t* b = rc->rc_bdaddr.b;
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[5], b[4], b[3], b[2], b[1], b[0]);
    }
    peer = text;
    return c;
}
