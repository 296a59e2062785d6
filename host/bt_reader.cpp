#include "bt_reader.h"

#include "emulation.h"
#include "host_state.h"
#include "job_closer.h"
#include "recognisers.h"
#include "rfcomm_link.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {
struct BtReader {
    uint8_t* buf = nullptr;
    // Package reassembly and the Bluetooth serial numbers (BlueT_Serial_Num, bluet_serial_temp).
    PackageLink link;
    bool first_stage = true;      // the file is the first after a quiet time
    bool closed_by_size = false;  // the last file ended at the size limit: the job goes on
    bool have_turn = false;       // bt_connect is ours
};

// Reads one connection until the host goes away.
void serve_connection(BtReader& r, int fd) {
    r.link.answer = [fd](const uint8_t* data, size_t len) { send_to_host(fd, data, len); };
    r.first_stage = true;
    r.closed_by_size = false;
    for (;;) {
        struct pollfd p {fd, POLLIN, 0};
        int rc = poll(&p, 1, BT_POLL_MS);
        if (rc < 0 && errno == EINTR) continue;
        if (rc == 0) {
            dbg("nothing ");
            r.first_stage = true;
            r.closed_by_size = false;
            continue;
        }
        ssize_t n = -1;
        if (rc > 0 && (p.revents & POLLIN)) {
            if (!r.have_turn) {
                bt_take_turn();
                r.have_turn = true;
            }
            do {
                n = read(fd, r.buf, BT_READ_SIZE);
            } while (n < 0 && errno == EINTR);
            dbg("** %d bytes returned from read().\n", static_cast<int>(n));
        }
        if (n <= 0) {
            // Hang-up, a read error or the end of the stream.
            wireless_job.hang_up();
            dbg("***The Host has disconnected...!\n");
            if (r.have_turn) {
                bt_end_turn();
                r.have_turn = false;
            }
            return;
        }
        size_t len = static_cast<size_t>(n);
        ReadVerdict verdict = offer_to_recognisers(r.link, r.buf, len);
        if (verdict == ReadVerdict::package_repeated) wireless_job.reset_timer();
        if (verdict != ReadVerdict::data && verdict != ReadVerdict::package_complete) continue;

        run_index = 1;
        bool continues = r.closed_by_size;
        r.closed_by_size = false;
        wireless_job.reset_timer();  // before looking at the file: the closer waits again
        if (wireless_job.needs_file()) {
            if (driver_print_flag == 1 && !continues) check_emulation_switch(r.buf, len);
            wireless_job.open_file(continues);
        }
        wireless_job.set_input(WirelessJob::RECEIVING);
        dbg("***writing %d bytes to file.\n", static_cast<int>(len));
        store_wireless_read(verdict, r.link, r.buf, len);
        if (wireless_job.file_is_open() && wireless_job.streaming()) {
            bool full;
            if (driver_print_flag == 1) {
                full = wireless_job.count() > (r.first_stage ? BT_FIRST_SPLIT_BYTES : BT_NEXT_SPLIT_BYTES);
            } else {
                full = verdict == ReadVerdict::package_complete;
            }
            if (full) {
                wireless_job.close_now();
                r.first_stage = false;
                r.closed_by_size = true;
            }
        }
        wireless_job.reset_timer();
    }
}
}  // namespace

void* read_BLUETOOTH_pthrd(void*) {
    name_thread("rfcomm");
    static BtReader r;
    static std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[BT_READ_SIZE]);
    if (!buffer) {
        std::perror("could not allocate BT input buffer");
        return nullptr;
    }
    r.buf = buffer.get();
    r.link.requests_after_repeat = true;

    bool standin = false;
    int listener = rfcomm_listen(1, 1, &standin);
    if (listener < 0) {
        std::perror("RFCOMM socket");
        return nullptr;
    }
    if (standin) std::printf("host_link: no Bluetooth sockets here; RFCOMM channel 1 is a stand-in socket\n");
    std::fflush(stdout);

    std::string peer;
    dbg("***Waiting for first connection...\n");
    int fd = rfcomm_accept(listener, peer);
    if (fd >= 0) dbg("***First connection accepted from %s\n", peer.c_str());
    r.link.clear_serial();
    for (;;) {
        if (fd < 0) {
            dbg("***Waiting for new connection...\n");
            fd = rfcomm_accept(listener, peer);
            if (fd < 0) {
                if (errno != EINTR && errno != ECONNABORTED) sleep_ms(100);
                continue;
            }
            dbg("***Connection accepted from %s\n", peer.c_str());
            continue;
        }
        dbg("***accept() above or below has made a connection.\n");
        // A job the previous host left open ends now, so the new host's data start a job of their own.
        if (wireless_job.file_is_open()) wireless_job.close_now();
        serve_connection(r, fd);
        close(fd);
        fd = -1;
    }
}
