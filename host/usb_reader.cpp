#include "usb_reader.h"

#include "emulation.h"
#include "host_state.h"
#include "job_files.h"
#include "recognisers.h"
#include "response_pipe.h"
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
void (*usb_stored_hook)(const uint8_t* data, size_t len) = nullptr;

namespace {
// Writes an answer to the gadget. The host side drains it; a full gadget is waited for a while.
void write_answer(int fd, const uint8_t* data, size_t len) {
    int waited = 0;
    while (len > 0) {
        ssize_t w = write(fd, data, len);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN && waited < 200) {
                struct pollfd p {fd, POLLOUT, 0};
                poll(&p, 1, 10);
                ++waited;
                continue;
            }
            if (trace_reads()) std::printf("return status error...\n");
            return;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
}

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

void usb_reader_quiet(UsbReader& r) {
    if (r.job.is_open()) close_job_file(r.job);
    r.closed_by_size = false;
    r.link.reset_package();
}

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
            verdict = offer_to_recognisers(r.link, buf, static_cast<size_t>(n));
            if (verdict != ReadVerdict::data && verdict != ReadVerdict::package_complete) return;
        }
        run_index = 1;

        if (n <= 0) {
            bool whole_job = r.job.is_open() ? !r.job.streaming : data_continually == 0;
            if (whole_job && !retried) {
                retried = true;
                sleep_ms(usb_whole_job_retry_ms);
                continue;
            }
            usb_reader_quiet(r);
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
            r.link.reset_package();
            continue;
        }

        const uint8_t* stored = buf;
        size_t written = static_cast<size_t>(n);
        if (verdict == ReadVerdict::package_complete) {
            stored = r.link.payload();
            written = r.link.payload_length();
        }
        std::fwrite(stored, 1, written, r.job.fp);
        std::fflush(r.job.fp);
        if (usb_stored_hook) usb_stored_hook(stored, written);
        if (verdict == ReadVerdict::package_complete) r.link.reset_package();

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
    name_thread("usb_reader");
    dbg("Starting USB thread\n");
    static UsbReader r;
    r.fd = open_gadget();
    r.link.clear_serial();
    r.link.answer = [](const uint8_t* data, size_t len) { write_answer(r.fd, data, len); };
    for (;;) {
        if (r.fd < 0) {
            // The gadget appears when its driver is loaded: look again now and then.
            sleep_ms(USB_POLL_MS);
            r.fd = open_gadget();
            continue;
        }
        // An answer from the response pipe goes out when the gadget is idle and the last data came
        // over USB; the pipe watcher's event wakes the reader for it instead of the next time-out.
        bool answer_route = get_host_resp_path() == 'u';
        struct pollfd p[2] = {{r.fd, POLLIN, 0}, {host_resp_event_fd(), POLLIN, 0}};
        int rc = poll(p, answer_route ? 2 : 1, USB_POLL_MS);
        if (rc < 0) {
            if (errno != EINTR) std::perror("poll");
            continue;
        }
        if (rc == 0 && r.job.is_open()) {
            // A control message in the middle of a job ended the last burst: the host has been
            // quiet since, so the job ends here instead of waiting for the next job's data.
            usb_reader_quiet(r);
            continue;
        }
        if (p[0].revents & POLLIN) {
            set_host_resp_path('u');
            usb_take_turn();
            read_while_data(r);
            usb_end_turn();
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The gadget went away (driver unloaded): reopen it later.
            close(r.fd);
            r.fd = -1;
        } else if (answer_route) {
            uint8_t block[HOST_RESP_SIZE];
            if (take_host_resp(block)) write_answer(r.fd, block, sizeof block);
        }
    }
}
