#include "socket_reader.h"

#include "emulation.h"
#include "host_state.h"
#include "job_closer.h"
#include "recognisers.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The connection slot shared by the server and the receiver.
struct ConnectionSlot {
    std::mutex mutex;
    std::condition_variable changed;
    int fd = -1;
    in_addr address{};
    int status = SLOT_FREE;
} slot;

using clock = std::chrono::steady_clock;

// The receiver's side of one connection. Returns when the connection has ended.
void serve_connection(int fd, PackageLink& link, uint8_t* buf) {
    bool closed_by_size = false;
    clock::time_point last_data{};
    for (;;) {
        // Wait for input, error or hang-up; a poll that times out marks the connection as quiet
        // before its data (its job is then closed by idle time, not only by the connection's end).
        bool quiet = false;
        for (;;) {
            struct pollfd p {fd, POLLIN, 0};
            int rc = poll(&p, 1, SOCKET_POLL_MS);
            if (rc == 0) {
                quiet = true;
                continue;
            }
            if (rc < 0 && errno == EINTR) continue;
            break;
        }
        for (;;) {
            ssize_t n = read(fd, buf, SOCKET_READ_SIZE);
            if (n < 0 && errno == EINTR) continue;
            if (trace_reads()) std::printf("bytes_read:%d\n", static_cast<int>(n));
            if (n <= 0) {
                if (wireless_job.file_is_open()) {
                    wait_while_usb_connected();
                    wireless_job.close_now();
                }
                if (n < 0) link.reset_package();
                return;
            }
            size_t len = static_cast<size_t>(n);
            ReadVerdict verdict = offer_to_recognisers(link, buf, len);
            if (verdict == ReadVerdict::request_answered || verdict == ReadVerdict::package_more) continue;
            if (verdict != ReadVerdict::data && verdict != ReadVerdict::package_complete) break;

            auto now = clock::now();
            // A file closed by size goes on in the next one unless the host paused meanwhile.
            bool continues = closed_by_size && now - last_data < std::chrono::milliseconds(SOCKET_POLL_MS);
            last_data = now;
            closed_by_size = false;
            wireless_job.reset_timer();  // before looking at the file: the closer waits again
            if (wireless_job.needs_file()) {
                if (driver_print_flag == 1 && !continues) check_emulation_switch(buf, len);
                wireless_job.open_file(continues);
            }
            wireless_job.set_input(quiet ? WirelessJob::RECEIVING : WirelessJob::NOT_COUNTED);
            store_wireless_read(verdict, link, buf, len);
            if (wireless_job.file_is_open() && wireless_job.streaming()) {
                bool full = driver_print_flag == 1 ? wireless_job.count() > SOCKET_STREAMING_SPLIT_BYTES
                                                   : verdict == ReadVerdict::package_complete;
                if (full) {
                    wireless_job.close_now();
                    closed_by_size = true;
                }
            }
        }
    }
}
}  // namespace

void set_connection_options(int fd) {
    int on = 1, idle = 10, interval = 3, count = 3;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    struct timeval tv {2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int open_server_socket(const char* interface, int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        std::fprintf(stderr, "Error in socket() creation - %s\n", std::strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (interface && setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, interface, static_cast<socklen_t>(std::strlen(interface) + 1)) != 0) {
        std::perror("Server-setsockopt() error for SO_BINDTODEVICE");
        close(s);
        std::exit(255);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("ERROR on binding");
        std::exit(1);
    }
    listen(s, 1);
    return s;
}

void read_ip_socket(const char* interface) {
    dbg("Starting %s thread\n", interface);
    int server = open_server_socket(interface, currentPort);
    if (server < 0) return;
    for (;;) {
        run_index = 1;
        sockaddr_in peer{};
        socklen_t peer_len = sizeof peer;
        int c = accept4(server, reinterpret_cast<sockaddr*>(&peer), &peer_len, SOCK_CLOEXEC);
        if (c < 0) {
            if (errno != EINTR && errno != ECONNABORTED) {
                std::perror("accept");
                sleep_ms(100);
            }
            continue;
        }
        set_connection_options(c);
        std::unique_lock<std::mutex> lock(slot.mutex);
        if (slot.status == SLOT_HANDED && slot.address.s_addr == peer.sin_addr.s_addr) {
            // The same host again: its previous connection ends now (the receiver, blocked in
            // its read, sees the end and closes the job and the socket).
            shutdown(slot.fd, SHUT_RDWR);
            slot.status = SLOT_CLOSED_BY_SERVER;
            dbg("the same host connected again: the previous connection is closed\n");
        }
        slot.changed.wait(lock, [] { return slot.status == SLOT_FREE; });
        slot.fd = c;
        slot.address = peer.sin_addr;
        slot.status = SLOT_HANDED;
        lock.unlock();
        slot.changed.notify_all();
    }
}

void* read_WIFI_pthrd(void*) {
    name_thread("socket_server");
    read_ip_socket("wlan0");
    return nullptr;
}

void* read_BT_PAN_pthrd(void*) {
    name_thread("socket_server");
    read_ip_socket("bridge1");
    return nullptr;
}

void* receive_socket_data_pthrd(void*) {
    name_thread("socket_data");
    static uint8_t buf[SOCKET_READ_SIZE];
    // Package reassembly and the serial numbers of the socket (Wifi_Serial_Num, wifi_serial_temp).
    static PackageLink link;
    link.clear_serial();
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        slot.status = SLOT_FREE;
    }
    slot.changed.notify_all();
    for (;;) {
        int fd;
        {
            std::unique_lock<std::mutex> lock(slot.mutex);
            slot.changed.wait(lock, [] { return slot.status != SLOT_FREE; });
            fd = slot.fd;
        }
        set_host_resp_path('w');
        link.answer = [fd](const uint8_t* data, size_t len) { send_to_host(fd, data, len); };
        serve_connection(fd, link, buf);
        link.answer = nullptr;
        {
            std::lock_guard<std::mutex> lock(slot.mutex);
            close(fd);
            slot.fd = -1;
            slot.status = SLOT_FREE;
        }
        slot.changed.notify_all();
    }
}
