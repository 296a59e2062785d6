#include "serial_reader.h"

#include "emulation.h"
#include "host_spawn.h"
#include "host_state.h"
#include "job_files.h"
#include "response_pipe.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

speed_t nscbt_speed(int baud) {
    switch (baud) {
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        default: return B115200;
    }
}

int setup_serial_line(const std::string& device, int baud, int timeout_ticks) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        close(fd);
        return -1;
    }
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | CREAD | CLOCAL | CRTSCTS;
    t.c_cc[VMIN] = 0;
    if (timeout_ticks < 0) timeout_ticks = 0;
    if (timeout_ticks > 255) timeout_ticks = 255;
    t.c_cc[VTIME] = static_cast<cc_t>(timeout_ticks);
    speed_t speed = nscbt_speed(baud);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    int rc = tcsetattr(fd, TCSANOW, &t);
    if (rc == 0) rc = tcsetattr(fd, TCSAFLUSH, &t);
    close(fd);
    return rc == 0 ? 0 : -1;
}

namespace {
// Holds the data while the abort input is active; the first wait marks the abort once.
void wait_while_abort() {
    bool first = true;
    while (get_abort()) {
        if (first && run_index == 1) {
            host_run_shell("touch /tmp/run_index.txt");
            run_index = 0;
        }
        first = false;
        sleep_ms(10);
    }
    run_index = 1;
}

int open_line() {
    static bool reported = false;
    const std::string& path = host_paths.serial_line;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && !reported) {
        std::printf("Error %d opening %s\n", errno, path.c_str());
        std::fflush(stdout);
    }
    reported = fd < 0;
    return fd;
}

// Reads one job: until a read returns nothing (the line's read time-out).
void read_job(int fd, uint8_t* buf) {
    JobFile job;
    long size = 0;
    int blocks = 0;
    for (;;) {
        ssize_t n = read(fd, buf, NSCBT_READ_SIZE);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (!job.is_open()) {
            check_emulation_switch(buf, static_cast<size_t>(n));
            open_job_file(job, false);
        }
        if (job.is_open() && !abort_flag) {
            std::fwrite(buf, 1, static_cast<size_t>(n), job.fp);
            std::fflush(job.fp);
            job.count += static_cast<size_t>(n);
        }
        size += n;
        ++blocks;
    }
    if (job.is_open()) close_job_file(job);
    if (blocks > 0) dbg("fs=%ld blks=%d\n", size, blocks);
}
}  // namespace

void* read_ZAD_Bluetooth_pthrd(void*) {
    name_thread("serial_module");
    dbg("Starting ZAD Bluetooth thread\n");
    clear_host_resp();
    const std::string& setup_device =
        host_settings.ZAD_BLUETOOTH_DEV_FILE.empty() ? host_paths.serial_line : host_settings.ZAD_BLUETOOTH_DEV_FILE;
    if (setup_serial_line(setup_device, host_settings.NSCBT_BAUD, host_settings.NSCBT_TIMEOUT_TICKS) != 0)
        std::perror(setup_device.c_str());

    static uint8_t buf[NSCBT_READ_SIZE];
    int fd = open_line();
    if (fd < 0) return nullptr;
    // Whatever the module sent before host_link started is not a job.
    uint8_t c;
    while (read(fd, &c, 1) > 0) {
        if (host_settings.DEBUG_MSG == 1) std::putchar('@');
    }
    std::fflush(stdout);
    for (;;) {
        struct pollfd p {fd, POLLIN, 0};
        int rc = poll(&p, 1, -1);
        if (rc < 0) {
            if (errno != EINTR) sleep_ms(100);
            continue;
        }
        if (!(p.revents & POLLIN)) {
            // The line went away: open it again a little later.
            close(fd);
            sleep_ms(1000);
            fd = open_line();
            while (fd < 0) {
                sleep_ms(1000);
                fd = open_line();
            }
            continue;
        }
        set_host_resp_path('b');
        wait_while_abort();
        read_job(fd, buf);
    }
}
