// engine_watch: owns the slave's serial command port. Sends every command file to the slave,
// waits for the acknowledgement on the ready line, reads the 4-byte reply and turns it into the
// status files; watches the attention line; restarts the print engine in the variant that fits
// the power source.
//
// A reply must never be taken for another command's: the protocol carries no tag, so after an
// acknowledgement that did not come in time the command thread waits for the late one (or a quiet
// line) and drains the port before the next frame goes out. Nothing polls: the command thread
// waits on inotify and on a condition variable the ready monitor signals.
#include "command_file.h"
#include "engine_watch_logic.h"
#include "folder.h"
#include "gpio.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Settings from /home/globalDefines.cfg.
std::string SLAVE_CMD_PORT_NAME;
std::string PATH_TO_COMMAND_INTAKE;
std::string SLAVE_VERSION_FILEPATH;
int ATTN_GPIO_NUMBER = 0;
int SLAVE_RTS_GPIO_NUMBER = 0;

int port_fd = -1;

// Shared with the ready monitor: the command thread sets reply_expected and notes ack_count
// before the frame goes out; on each edge the ready monitor fills reply_buf (when a reply is
// expected), then counts the edge under ack_m and wakes the command thread.
std::atomic<bool> reply_expected{false};
std::mutex ack_m;
std::condition_variable ack_cv;
uint64_t ack_count = 0;  // acknowledgement edges seen; under ack_m
ReplyBytes reply_buf{};

constexpr int ACK_WAIT_MS = 200;   // the acknowledgement of a command
constexpr int LATE_ACK_MS = 1000;  // after a missed one: how long a late acknowledgement is awaited
constexpr int QUIET_MS = 20;       // the port is drained until it has been quiet this long

// Waits up to ms for an acknowledgement edge after the one counted as `seen`.
bool wait_ack(uint64_t seen, int ms) {
    std::unique_lock<std::mutex> lock(ack_m);
    return ack_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return ack_count != seen; });
}

PrinterStatus printer_status;
CommandFrame last_frame{};

void write_status_file() { write_file_whole("/tmp/return.dat", printer_status.str()); }

// ---- serial port ----------------------------------------------------------------------------

void setup_port(int fd) {
    struct termios tty {};
    if (tcgetattr(fd, &tty) != 0) {
        dbg("error %d from tcgetattr\n", errno);
        return;
    }
    cfsetospeed(&tty, B115200);
    cfsetispeed(&tty, B115200);
    tty.c_cflag = (tty.c_cflag & ~CSIZE) | CS8;
    tty.c_cflag &= ~(PARENB | PARODD | CSTOPB | CRTSCTS);
    tty.c_cflag |= CLOCAL | CREAD;
    tty.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tty.c_lflag = 0;
    tty.c_oflag = 0;
    tty.c_cc[VMIN] = 1;   // a read returns after at least one byte
    tty.c_cc[VTIME] = 5;  // 0.5 s between bytes
    if (tcsetattr(fd, TCSANOW, &tty) != 0) dbg("error %d from tcsetattr\n", errno);
}

// Reads the 4 reply bytes. A slave that acknowledges without sending them does not hold the
// ready monitor for ever: each byte is awaited at most 0.5 s.
void read_reply(ReplyBytes& out) {
    uint8_t buf[4] = {0, 0, 0, 0};
    size_t got = 0;
    while (got < sizeof buf) {
        struct pollfd p { port_fd, POLLIN, 0 };
        int r = poll(&p, 1, 500);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        ssize_t n = ::read(port_fd, buf + got, sizeof buf - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    if (got < sizeof buf) dbg("short reply: %zu bytes\n", got);
    std::memcpy(out.data(), buf, sizeof buf);
}

// ---- replies --------------------------------------------------------------------------------

// Bit 0x2000: the follow-up commands go through engine_cmd, which waits until an earlier file
// of the same letter has been taken by this program's command thread. Run them on a thread of
// their own so the command thread never waits for itself.
void* usb_net_down_pthrd(void*) {
    run_shell("/root/engine_cmd X");
    sleep_ms(100);
    run_shell("/root/engine_cmd S 1");
    run_shell("/root/engine_cmd Y");
    return nullptr;
}

void handle_status(const ReplyBytes& d) {
    StatusActions act = printer_status.apply_status_word(reply_word(d));
    if (act.create_testpage) run_shell("/home/create_testpage.sh &");
    if (act.usb_net_up) {
        run_shell("php /home/ipoverusbUP.php &");
    } else if (act.usb_net_down) {
        run_shell("php /home/ipoverusbDOWN.php &");
        run_shell("rm -rf /tmp/check_im");
        pthread_t t;
        if (pthread_create(&t, nullptr, usb_net_down_pthrd, nullptr) == 0) pthread_detach(t);
    }
    if (act.record_headlife) run_shell("/home/recode_headlife.sh &");
    // The status string lives in /tmp: nothing persistent was written, so no "sync".
    write_status_file();
    if (act.wifi_log_start) run_shell("/home/recd_wifi_log.sh start");
    else if (act.wifi_log_stop) run_shell("/home/recd_wifi_log.sh stop");
}

void handle_version(const ReplyBytes& d) {
    write_file_whole(SLAVE_VERSION_FILEPATH, slave_version_text(d));
    run_shell("cat /home/oem_config.cfg | grep firmware | awk -F '=' '{print $2}' > /tmp/firmware_version.txt ");
    FILE* f = std::fopen("/tmp/firmware_version.txt", "rb");
    if (!f) return;
    char buf[11];
    size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    printer_status.set_firmware(buf, n);
}

void handle_headlife(const ReplyBytes& d) {
    uint32_t value = reply_word(d);
    dbg("labellen:%d\n", static_cast<int>(value));
    unsigned count = 0;
    if (FILE* f = std::fopen("/headlife/liferecode", "r")) {
        if (std::fscanf(f, "%u", &count) != 1) count = 0;
        std::fclose(f);
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u", headlife_sum(count, value));
    write_file_whole("/headlife/liferecode", buf);
    run_shell("sync");
}

void handle_label(const ReplyBytes& d) {
    LabelSettings l = label_settings(d);
    if (!l.store) return;
    const char* path = "/home/label_config.cfg";
    KeyFile kf(path);
    kf.set_string("LabelConfig", "LabelLength", std::to_string(l.LabelLength));
    kf.set_string("LabelConfig", "GapWidth", std::to_string(l.GapWidth));
    kf.set_string("LabelConfig", "Sensorthreshold", std::to_string(l.Sensorthreshold));
    kf.save(path);  // rewrites the whole file and runs "sync"
}

// ---- the print engine variant ----------------------------------------------------------------
// The Y reply chooses the print engine: dot_feeder on mains (d0 1), dot_feeder_battery for any
// other value. The switch runs on a thread of its own and loses nothing: the variant that must go
// is asked to end (SIGTERM: it takes no more images, which stay in the intake, and prints what it
// holds); the wanted one is started once the other has gone, and takes the waiting images first.
// When the wanted variant runs already, nothing is restarted.

constexpr int ENGINE_END_MS = 120000;  // an engine that has not printed what it holds by then is stopped

struct EngineProcess {
    pid_t pid;
    bool battery;
};

// The running print engines, by the name the kernel keeps (at most 15 characters).
std::vector<EngineProcess> running_engines() {
    std::vector<EngineProcess> found;
    DIR* d = opendir("/proc");
    if (!d) return found;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char comm[32] = {0}, state = 0;
        std::string path = std::string("/proc/") + e->d_name + "/stat";
        FILE* f = std::fopen(path.c_str(), "r");
        if (!f) continue;
        // "pid (comm) state ..."
        int n = std::fscanf(f, "%*d (%31[^)]) %c", comm, &state);
        std::fclose(f);
        if (n != 2 || state == 'Z') continue;
        pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        if (std::strcmp(comm, "dot_feeder") == 0) found.push_back({pid, false});
        else if (std::strcmp(comm, "dot_feeder_batt") == 0) found.push_back({pid, true});
    }
    closedir(d);
    return found;
}

bool process_alive(pid_t pid) {
    char path[64], state = 0;
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    int n = std::fscanf(f, "%*d (%*[^)]) %c", &state);
    std::fclose(f);
    return n == 1 && state != 'Z';
}

// Waits up to ms for the process to end (a pidfd where the kernel has them).
bool wait_process_end(pid_t pid, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        if (!process_alive(pid)) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        if (fd >= 0) {
            struct pollfd p {fd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        } else {
            sleep_ms(50);
        }
    }
    if (fd >= 0) close(fd);
    return !process_alive(pid);
}

void switch_engine(bool mains) {
    bool wanted_runs = false;
    std::vector<pid_t> other;
    for (const EngineProcess& p : running_engines()) {
        if (p.battery == !mains) wanted_runs = true;
        else other.push_back(p.pid);
    }
    if (wanted_runs && other.empty()) {
        dbg("print engine: %s runs already\n", mains ? "dot_feeder" : "dot_feeder_battery");
        return;
    }
    for (pid_t pid : other) kill(pid, SIGTERM);
    for (pid_t pid : other) {
        if (wait_process_end(pid, ENGINE_END_MS)) continue;
        std::fprintf(stderr, "engine_watch: the print engine (pid %d) did not end within %d s; stopped\n",
                     static_cast<int>(pid), ENGINE_END_MS / 1000);
        kill(pid, SIGKILL);
        wait_process_end(pid, 5000);
    }
    if (!wanted_runs) run_shell(mains ? "/root/dot_feeder &" : "/root/dot_feeder_battery &");
}

std::mutex switch_m;
std::condition_variable switch_cv;
int switch_wanted = -1;  // -1 none, 0 battery, 1 mains; under switch_m

void* engine_switch_pthrd(void*) {
    for (;;) {
        int mains;
        {
            std::unique_lock<std::mutex> lock(switch_m);
            switch_cv.wait(lock, [] { return switch_wanted >= 0; });
            mains = switch_wanted;
            switch_wanted = -1;
        }
        switch_engine(mains == 1);  // a Y reply meanwhile is served next, the latest one
    }
    return nullptr;
}

void handle_power_source(const ReplyBytes& d) {
    static std::once_flag started;
    std::call_once(started, [] {
        pthread_t t;
        if (pthread_create(&t, nullptr, engine_switch_pthrd, nullptr) == 0) pthread_detach(t);
        else std::printf("engine_switch_pthrd thread creation failed\n");
    });
    std::lock_guard<std::mutex> lock(switch_m);
    switch_wanted = d[0] == 1 ? 1 : 0;
    switch_cv.notify_all();
}

void handle_reply(char letter, const ReplyBytes& d) {
    switch (letter) {
        case 'A':
            handle_status(d);
            break;
        case 'D':
            handle_version(d);
            break;
        case 'H':
            handle_headlife(d);
            break;
        case 'L':
            write_file_whole("/tmp/sensor_response.cfg", sensor_text(d));
            break;
        case 'N':
            handle_label(d);
            break;
        case 'Q':
            write_file_whole("/tmp/query_response.txt",
                             printer_status.apply_query((d[0] << 8) | d[1], d[2], d[3]));
            break;
        case 'T':
            write_file_whole("/tmp/temperature.txt", printer_status.apply_temperature((d[0] << 8) | d[1], d[2]));
            write_status_file();
            break;
        case 'Y':
            handle_power_source(d);
            break;
        case 'Z':
            if (d[0] == 0) run_shell("rm /tmp/run_index.txt");
            else if (d[0] == 1) run_shell("touch /tmp/run_index.txt");
            else dbg("error\n");
            break;
        default:
            break;
    }
}

// ---- one command ----------------------------------------------------------------------------

// Reads and drops whatever the port holds until it has been quiet for QUIET_MS.
void drain_port() {
    uint8_t junk[64];
    size_t dropped = 0;
    for (;;) {
        struct pollfd p { port_fd, POLLIN, 0 };
        int r = poll(&p, 1, QUIET_MS);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        ssize_t n = ::read(port_fd, junk, sizeof junk);
        if (n <= 0) break;
        dropped += size_t(n);
    }
    tcflush(port_fd, TCIFLUSH);
    if (dropped) dbg("late reply: %zu bytes dropped\n", dropped);
}

// The acknowledgement did not come in time. A slave that is only slow still answers this
// command, and its answer must not be read as the next command's: wait for the late
// acknowledgement (or until the line has stayed quiet for LATE_ACK_MS), then drop what reached
// the port, so that the next frame starts on a clean line.
void settle_after_missed_ack(uint64_t seen) {
    if (wait_ack(seen, LATE_ACK_MS)) dbg("late acknowledgement\n");
    drain_port();
}

// Reads the command file and sends its frame. A file that vanished or holds fewer than 7 bytes
// sends nothing.
void process_command(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        dbg("command file %s vanished\n", path);
        return;
    }
    CommandFrame frame{};
    size_t n = std::fread(frame.data(), 1, frame.size(), f);
    std::fclose(f);
    if (n != frame.size()) {
        dbg("short command file %s\n", path);
        return;
    }
    last_frame = frame;
    bool has_reply = command_has_reply(frame);

    // Armed before the frame goes out, so an answer faster than this thread is never missed.
    uint64_t seen;
    {
        std::lock_guard<std::mutex> lock(ack_m);
        reply_expected.store(has_reply);
        seen = ack_count;
    }
    tcflush(port_fd, TCIFLUSH);
    ssize_t w = ::write(port_fd, frame.data(), frame.size());
    if (w != static_cast<ssize_t>(frame.size())) dbg("write to command port failed\n");

    if (!wait_ack(seen, ACK_WAIT_MS)) {
        reply_expected.store(false);
        dbg("Command reply fail\n");
        settle_after_missed_ack(seen);
        return;
    }
    char letter = static_cast<char>(frame[1]);
    if (letter == 'J' || letter == 'G') {
        run_shell("echo 0 > /tmp/ackfile");
        return;
    }
    if (has_reply) {
        dbg("reply %c %02x %02x %02x %02x\n", letter, reply_buf[0], reply_buf[1], reply_buf[2], reply_buf[3]);
        handle_reply(letter, reply_buf);
    }
}

void take_command(const char* name) {
    char path[128];
    std::snprintf(path, sizeof path, "%s/%s", PATH_TO_COMMAND_INTAKE.c_str(), name);
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) return;
    process_command(path);
    ::unlink(path);
}

// ---- threads --------------------------------------------------------------------------------

void* command_intake_pthrd(void*) {
    struct stat st {};
    if (stat(PATH_TO_COMMAND_INTAKE.c_str(), &st) != 0) run_shell("mkdir " + PATH_TO_COMMAND_INTAKE);
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("Couldn't initialize inotify");
        return nullptr;
    }
    if (inotify_add_watch(fd, PATH_TO_COMMAND_INTAKE.c_str(), IN_CLOSE_WRITE) < 0)
        dbg("Couldn't add watch to %s\n", PATH_TO_COMMAND_INTAKE.c_str());

    // Files left from before the watch began would otherwise hold their writers for ever.
    std::vector<std::string> names;
    if (for_each_entry(PATH_TO_COMMAND_INTAKE, [&](int, const char* name) {
            if (name[0] != '.') names.emplace_back(name);
            return true;
        }) != 0)
        report_folder_error("engine_watch", PATH_TO_COMMAND_INTAKE);  // the watch still takes new files
    for (const auto& name : names) take_command(name.c_str());

    alignas(struct inotify_event) char buf[4096 + sizeof(struct inotify_event) + 256];
    for (;;) {
        ssize_t len = ::read(fd, buf, sizeof buf);
        if (len <= 0) {
            if (len < 0 && errno != EINTR) std::perror("read");
            sleep_ms(10);
            continue;
        }
        for (char* p = buf; p < buf + len;) {
            auto* ev = reinterpret_cast<struct inotify_event*>(p);
            if (ev->len > 0 && !(ev->mask & IN_ISDIR)) take_command(ev->name);
            p += sizeof(struct inotify_event) + ev->len;
        }
    }
    return nullptr;
}

// Waits for falling edges on the ready line; each one acknowledges the command in flight.
// Opened by main before the command thread starts; reopened here should it fail.
std::unique_ptr<GpioEdgeWaiter> ready_line;

std::unique_ptr<GpioEdgeWaiter> open_line(const std::string& path) {
    auto w = std::make_unique<GpioEdgeWaiter>();
    if (!w->open(path)) w.reset();
    return w;
}

void* rts_monitor_pthrd(void*) {
    std::string path = gpio_value_path(SLAVE_RTS_GPIO_NUMBER);
    for (;;) {
        while (!ready_line) {
            ready_line = open_line(path);
            if (!ready_line) sleep_ms(100);
        }
        int r = ready_line->wait(-1);
        if (r < 0) {
            ready_line.reset();
            sleep_ms(100);
            continue;
        }
        if (r == 0) continue;
        if (reply_expected.load()) read_reply(reply_buf);
        std::lock_guard<std::mutex> lock(ack_m);
        ++ack_count;
        ack_cv.notify_all();
    }
    return nullptr;
}

// Waits for falling edges on the attention line: a short pulse (line back at "1") asks for the
// status, a line held low is an abort.
void* atn_monitor_pthrd(void*) {
    sleep_ms(2000);
    std::string path = gpio_value_path(ATTN_GPIO_NUMBER);
    for (;;) {
        std::unique_ptr<GpioEdgeWaiter> attention;
        while (!(attention = open_line(path))) sleep_ms(100);
        for (;;) {
            int r = attention->wait(-1);
            if (r < 0) break;
            if (r == 0) continue;
            if (gpio_read_char(path) == '1') {
                run_shell("/root/engine_cmd A");
            } else {
                run_shell("sync");
                dbg("abort\n");
            }
        }
        sleep_ms(100);
    }
    return nullptr;
}

}  // namespace

int main() {
    GlobalDefines g;
    init_global_defines(g);
    SLAVE_CMD_PORT_NAME = g.SLAVE_CMD_PORT_NAME;
    PATH_TO_COMMAND_INTAKE = g.PATH_TO_COMMAND_INTAKE.empty() ? COMMAND_INTAKE : g.PATH_TO_COMMAND_INTAKE;
    SLAVE_VERSION_FILEPATH = g.SLAVE_VERSION_FILEPATH;
    ATTN_GPIO_NUMBER = g.ATTN_GPIO_NUMBER;
    SLAVE_RTS_GPIO_NUMBER = g.SLAVE_RTS_GPIO_NUMBER;
    g_debug_msg = g.DEBUG_MSG;

    gpio_prepare_input(ATTN_GPIO_NUMBER);
    gpio_prepare_input(SLAVE_RTS_GPIO_NUMBER);
    dbg("Engine Watch: %s %s\n", __DATE__, __TIME__);

    port_fd = ::open(SLAVE_CMD_PORT_NAME.c_str(), O_RDWR | O_NOCTTY | O_SYNC | O_CLOEXEC);
    if (port_fd < 0) {
        std::perror("error opening command port");
        return 1;
    }
    setup_port(port_fd);

    // Armed before any command can go out, so the first acknowledgement is not missed.
    ready_line = open_line(gpio_value_path(SLAVE_RTS_GPIO_NUMBER));

    pthread_t intake, atn, rts;
    if (pthread_create(&rts, nullptr, rts_monitor_pthrd, nullptr) != 0)
        std::printf("rts_monitor_pthrd thread creation failed\n");
    if (pthread_create(&atn, nullptr, atn_monitor_pthrd, nullptr) != 0)
        std::printf("atn_monitor_pthrd thread creation failed\n");
    if (pthread_create(&intake, nullptr, command_intake_pthrd, nullptr) != 0) {
        std::printf("command_intake_pthrd thread creation failed\n");
        return 1;
    }
    pthread_join(intake, nullptr);
    return 0;
}
