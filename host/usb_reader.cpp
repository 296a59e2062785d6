#include "usb_reader.h"

#include "emulation.h"
#include "host_state.h"
#include "job_files.h"
#include "recognisers.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

ssize_t (*usb_read)(int fd, void* buf, size_t n) = ::read;
long usb_whole_job_retry_ms = 10;

namespace {
int open_gadget() {
    static bool reported = false;
    const std::string& path = host_settings.PRINTER_GADGET_FILE;
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && !reported && host_settings.DEBUG_MSG == 1) {
        std::printf("Error %d opening %s\n", errno, path.c_str());
        std::fflush(stdout);
    }
    reported = fd < 0;
    return fd;
}

void trace_read(ssize_t n, const uint8_t* buf) {
    std::printf("read: %d bytes --- ", static_cast<int>(n));
    for (int i = 0; i < 10; ++i) std::printf(" %x ", buf[i]);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

void read_while_data(UsbReader& r) {
    uint8_t buf[USB_READ_SIZE];
    bool retried = false;
    for (;;) {
        std::memset(buf, 0, sizeof buf);
        ssize_t n = usb_read(r.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (trace_reads()) trace_read(n, buf);

        ReadVerdict verdict = ReadVerdict::data;
        if (n > 0) {
            verdict = offer_to_recognisers(r.fd, buf, static_cast<size_t>(n), r.reassembly);
            if (verdict == ReadVerdict::end_of_read || verdict == ReadVerdict::package_rejected) {
                r.reassembly.clear();
                return;
            }
            if (verdict == ReadVerdict::package_more) return;
        }
        run_index = 1;

        if (n <= 0) {
            bool whole_job = r.job.is_open() ? !r.job.streaming : data_continually == 0;
            if (whole_job && !retried) {
                retried = true;
                sleep_ms(usb_whole_job_retry_ms);
                continue;
            }
            if (r.job.is_open()) close_job_file(r.job);
            r.closed_by_size = false;
            r.reassembly.clear();
            return;
        }
        retried = false;

        if (!r.job.is_open()) {
            bool continues = r.closed_by_size;
            if (driver_print_flag == 1 && !continues) check_emulation_switch(buf, static_cast<size_t>(n));
            open_job_file(r.job, continues);
            r.closed_by_size = false;
        }
        if (abort_flag || !r.job.is_open()) {
            r.reassembly.clear();
            continue;
        }

        size_t written;
        if (verdict == ReadVerdict::package_complete) {
            written = r.reassembly.length > 6 ? r.reassembly.length - 6 : 0;
            std::fwrite(r.reassembly.data + 6, 1, written, r.job.fp);
            r.reassembly.clear();
        } else {
            written = static_cast<size_t>(n);
            std::fwrite(buf, 1, written, r.job.fp);
        }
        std::fflush(r.job.fp);

        if (r.job.streaming) {
            r.job.count += written;
            bool full = verdict == ReadVerdict::package_complete || r.job.count > STREAMING_SPLIT_BYTES;
            if (full) {
                close_job_file(r.job);
                r.closed_by_size = true;
            }
        }
    }
}

void* read_USB_pthrd(void*) {
    dbg("Starting USB thread\n");
    static UsbReader r;
    r.fd = open_gadget();
    std::memset(r.Usb_Serial_Num, 0, sizeof r.Usb_Serial_Num);
    for (;;) {
        if (r.fd < 0) {
            // The gadget appears when its driver is loaded: look again now and then.
            sleep_ms(USB_POLL_MS);
            r.fd = open_gadget();
            continue;
        }
        struct pollfd p {r.fd, POLLIN, 0};
        int rc = poll(&p, 1, USB_POLL_MS);
        if (rc < 0) {
            if (errno != EINTR) std::perror("poll");
            continue;
        }
        if (rc == 0) continue;
        if (p.revents & POLLIN) {
            set_host_resp_path('u');
            while (bt_connect) sleep_ms(10);
            usb_connect = 1;
            read_while_data(r);
            usb_connect = 0;
        } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The gadget went away (driver unloaded): reopen it later.
            close(r.fd);
            r.fd = -1;
        }
    }
}
