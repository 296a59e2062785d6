// slave_sim: the virtual printer's slave microcontroller.
//
//   slave_sim run [--fast]             the simulator (started by sim_boot before engine_watch)
//   slave_sim set KEY=VALUE...         change what the replies carry (see `slave_sim get`)
//   slave_sim get [KEY]
//   slave_sim attention [pulse|hold|release]
//   slave_sim abort on|off
//   slave_sim log [--clear]            command frames received, one a line: "A 02 41 00 00 00 00 03"
//   slave_sim stats                    rows, blocks, stalls, ... of the paper
//   slave_sim paper [reset]            write the paper files now / start a fresh paper
//   slave_sim wait-idle [--quiet MS] [--rows N] [--timeout S]
//   slave_sim wait-rows N [--timeout S]
//   slave_sim wait-frame LETTER|FRAME [--count N] [--timeout S]
//                                      FRAME: the start of a frames-log line ("B 02 42 31")
//
// Everything of the simulator lives under /sim: the control socket and pid files in /sim/run,
// logs in /sim/log, the paper (/sim/paper.pbm, /sim/paper.png), /sim/rows.log, /sim/profile.bin
// and /sim/state.
#include "files.h"
#include "folder.h"
#include "gpio.h"
#include "keyfile.h"
#include "paper.h"
#include "profile_decoder.h"
#include "settings.h"
#include "slave_firmware.h"
#include "slave_state.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* RUN_DIR = "/sim/run";
constexpr const char* LOG_DIR = "/sim/log";
constexpr const char* SOCKET_PATH = "/sim/run/slave_sim.sock";
constexpr const char* READY_PATH = "/sim/run/slave_sim.ready";
constexpr const char* FRAMES_LOG = "/sim/log/frames.log";
constexpr const char* REPLIES_LOG = "/sim/log/replies.log";
constexpr const char* STATE_PATH = "/sim/state";
constexpr const char* ROWS_LOG = "/sim/rows.log";
constexpr const char* PROFILE_BIN = "/sim/profile.bin";
constexpr const char* PAPER_PBM = "/sim/paper.pbm";
constexpr const char* PAPER_PNG = "/sim/paper.png";
constexpr const char* FIRMWARE_BIN = "/sim/firmware.bin";

using Clock = std::chrono::steady_clock;

long ms_between(Clock::time_point a, Clock::time_point b) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count());
}

bool file_exists(const std::string& p) {
    struct stat st {};
    return !p.empty() && stat(p.c_str(), &st) == 0;
}

// ---- the simulator's state ------------------------------------------------------------------

struct Line {
    std::string value_path;
    int level = 1;
    long count = 0;
    void write() const { gpio_write_standin(value_path, level, count); }
};

struct Sim {
    // ctl_mu: the settable state, the lines and the frame log (taken briefly, never while
    // waiting for anything). mu: the data port, the queue and the paper. Order: mu, then ctl_mu.
    std::mutex ctl_mu;
    SlaveState state;
    Line ready, attention, abort_line;
    std::mutex mu;

    int cmd_master = -1, cmd_slave = -1;
    int hss_master = -1, hss_slave = -1;

    std::array<int, RAMP_STEPS> steps{};

    // data port
    std::vector<uint8_t> rx;  // bytes of the block being received
    Clock::time_point last_rx{};
    ProfileStream stream;
    std::deque<DecodedRow> queue;
    int queued_job_ends = 0;
    bool moving = false;
    Clock::time_point next_due{};
    Clock::time_point last_activity = Clock::now();
    bool request_out = false;
    Clock::time_point request_time{};
    bool dirty = false;
    Paper paper;
    bool aborted = false;
    FirmwareReceiver firmware;  // a firmware image announced by G, arriving on the data port

    uint64_t blocks_received = 0, blocks_done = 0, bytes_received = 0, rows_printed = 0;
    uint64_t stalls = 0, jobs = 0, dropped = 0;
    uint64_t frames = 0;  // under ctl_mu
    Clock::time_point delay_end{};  // delay_for: when delay goes back to 0 (under ctl_mu)

    FILE* rows_log = nullptr;
    FILE* profile_bin = nullptr;
    FILE* frames_log = nullptr;
    FILE* replies_log = nullptr;  // under ctl_mu
};

Sim sim;

void log_msg(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_msg(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

void write_state_file() { write_file_whole(STATE_PATH, sim.state.text()); }

void flush_paper() {
    sim.paper.write_pbm(PAPER_PBM);
    sim.paper.write_png(PAPER_PNG);
    if (sim.rows_log) std::fflush(sim.rows_log);
    if (sim.profile_bin) std::fflush(sim.profile_bin);
    sim.dirty = false;
}

void reset_paper() {
    sim.paper.clear();
    sim.rows_printed = sim.stalls = sim.jobs = sim.dropped = 0;
    sim.blocks_received = sim.blocks_done = sim.bytes_received = 0;
    sim.stream.reset();
    sim.queue.clear();
    sim.queued_job_ends = 0;
    sim.rx.clear();
    sim.moving = false;
    if (sim.rows_log) std::fclose(sim.rows_log);
    if (sim.profile_bin) std::fclose(sim.profile_bin);
    sim.rows_log = std::fopen(ROWS_LOG, "w");
    sim.profile_bin = std::fopen(PROFILE_BIN, "wb");
    flush_paper();
}

std::string stats_text() {
    auto now = Clock::now();
    bool idle = sim.queue.empty() && sim.rx.empty() && !sim.stream.in_profile() && !sim.moving && !sim.dirty;
    uint64_t frames;
    {
        std::lock_guard<std::mutex> lock(sim.ctl_mu);
        frames = sim.frames;
    }
    std::ostringstream o;
    o << "rows=" << sim.rows_printed << " blocks=" << sim.blocks_received << " bytes=" << sim.bytes_received
      << " stalls=" << sim.stalls << " jobs=" << sim.jobs << " dropped=" << sim.dropped << " frames=" << frames
      << " idle=" << int(idle) << " idle_ms=" << ms_between(sim.last_activity, now) << "\n";
    return o.str();
}

// ---- set-up ---------------------------------------------------------------------------------

void write_small_file(const std::string& path, const char* text) {
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

// The line's folder with value, direction and edge files; the value starts high.
bool setup_line(int number, Line& line) {
    std::string sym = gpio_pin_symbol(number);
    if (sym.empty()) return false;
    std::string dir = "/sys/class/gpio/pio" + sym;
    mkdir("/sys/class/gpio", 0755);
    mkdir(dir.c_str(), 0755);
    if (!file_exists(dir + "/direction")) write_small_file(dir + "/direction", "in\n");
    if (!file_exists(dir + "/edge")) write_small_file(dir + "/edge", "none\n");
    line.value_path = dir + "/value";
    line.level = 1;
    line.count = 0;
    line.write();
    return file_exists(line.value_path);
}

// A pseudo-terminal whose terminal side is linked at `link`. The simulator keeps the terminal
// side open itself, so its settings (raw, and for the data port VMIN 0 / VTIME 0: a read with
// nothing waiting returns 0) survive every close and reopen by the programs.
bool open_pty(const std::string& link, bool data_port, int& master, int& slave) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) return false;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return false;
    struct termios t {};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = data_port ? 0 : 1;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B115200);
    if (tcsetattr(slave, TCSANOW, &t) != 0) return false;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    ::unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0) return false;
    return true;
}

void load_steps(const std::string& path) {
    KeyFile kf(path);
    int n = std::min(kf.get_int("Step Times", "RAMP_TABLE_SIZE"), RAMP_STEPS);
    for (int i = 0; i < RAMP_STEPS; ++i) {
        int v = 0;
        if (i < n) v = kf.get_int("Step Times", ("RAMP_STEP" + std::to_string(i)).c_str());
        sim.steps[size_t(i)] = v > 0 ? v : (i > 0 ? sim.steps[size_t(i - 1)] : 12315);
    }
}

int input_queued(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// ---- firmware update ------------------------------------------------------------------------

// G: the next bytes on the data port are a firmware image. A block request still unread is
// withdrawn, so that the only byte the updater reads back is the answer to its image.
void start_firmware(const uint8_t data[4]) {
    std::lock_guard<std::mutex> lock(sim.mu);
    tcflush(sim.hss_slave, TCIFLUSH);
    sim.request_out = false;
    sim.rx.clear();
    sim.firmware.start(data);
    log_msg("firmware: %zu bytes announced\n", sim.firmware.expected());
}

// Bytes read from the data port: the firmware image takes what it still expects (called with mu
// held). Once the image is whole the slave takes its version and answers with one byte.
size_t take_firmware(const uint8_t* bytes, size_t n) {
    size_t used = sim.firmware.take(bytes, n);
    if (used == 0 || !sim.firmware.done()) return used;
    write_file_whole(FIRMWARE_BIN, std::string(sim.firmware.image().begin(), sim.firmware.image().end()));
    std::array<uint8_t, 4> v;
    {
        std::lock_guard<std::mutex> lock(sim.ctl_mu);
        v = sim.state.version = firmware_version(sim.firmware.image(), sim.state.version);
        write_state_file();
    }
    log_msg("firmware: %zu bytes received, version %d.%d.%d.%d\n", sim.firmware.image().size(), v[0], v[1], v[2], v[3]);
    uint8_t answer = 1;
    if (::write(sim.hss_master, &answer, 1) != 1) log_msg("firmware: answer not written\n");
    return used;
}

// ---- command port ---------------------------------------------------------------------------

void handle_frame(const uint8_t* f) {
    SlaveState s;
    char letter = char(f[1]);
    {
        std::lock_guard<std::mutex> lock(sim.ctl_mu);
        ++sim.frames;
        if (sim.frames_log) {
            std::fprintf(sim.frames_log, "%c %02x %02x %02x %02x %02x %02x %02x\n",
                         (letter >= 0x21 && letter < 0x7F) ? letter : '?', f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
            std::fflush(sim.frames_log);
        }
        if (sim.state.delay_for > 0 && Clock::now() >= sim.delay_end) {
            sim.state.delay = 0;
            sim.state.delay_for = 0;
            write_state_file();
        }
        s = sim.state;
    }
    if (s.silent) return;
    if (letter == 'G') start_firmware(f + 2);
    SimReply reply;
    bool has = slave_reply(s, letter, f + 2, reply);
    if (s.delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.delay));
    if (has) {
        int before = input_queued(sim.cmd_slave);
        if (::write(sim.cmd_master, reply.data(), reply.size()) != ssize_t(reply.size()))
            log_msg("reply to %c not written\n", letter);
        // The bytes reach the terminal side asynchronously: acknowledge once they are there.
        for (int i = 0; i < 500 && input_queued(sim.cmd_slave) < before + 4; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::lock_guard<std::mutex> lock(sim.ctl_mu);
    if (has && sim.replies_log) {
        // Which command each reply answered, and how late it came.
        std::fprintf(sim.replies_log, "%c %02x %02x %02x %02x delay=%d\n", (letter >= 0x21 && letter < 0x7F) ? letter : '?',
                     reply[0], reply[1], reply[2], reply[3], s.delay);
        std::fflush(sim.replies_log);
    }
    ++sim.ready.count;  // a falling edge and the line high again: one short pulse
    sim.ready.level = 1;
    sim.ready.write();
}

void cmd_port_thread() {
    std::vector<uint8_t> acc;
    uint8_t buf[256];
    for (;;) {
        struct pollfd p { sim.cmd_master, POLLIN, 0 };
        if (poll(&p, 1, -1) < 0) continue;
        ssize_t n = ::read(sim.cmd_master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        acc.insert(acc.end(), buf, buf + n);
        for (;;) {
            auto stx = std::find(acc.begin(), acc.end(), uint8_t(0x02));
            if (stx != acc.begin()) {
                log_msg("command port: %zd stray bytes\n", stx - acc.begin());
                acc.erase(acc.begin(), stx);
            }
            if (acc.size() < 7) break;
            if (acc[6] != 0x03) {
                log_msg("command port: frame without ETX\n");
                acc.erase(acc.begin());
                continue;
            }
            handle_frame(acc.data());
            acc.erase(acc.begin(), acc.begin() + 7);
        }
    }
}

// ---- data port ------------------------------------------------------------------------------

bool battery_engine_running() {
    bool found = false;
    int r = for_each_entry("/proc", [&](int, const char* name) {
        if (name[0] < '0' || name[0] > '9') return true;
        std::string path = std::string("/proc/") + name + "/comm";
        char comm[32] = {0};
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            if (std::fgets(comm, sizeof comm, f) && std::strncmp(comm, "dot_feeder_batt", 15) == 0) found = true;
            std::fclose(f);
        }
        return !found;
    });
    if (r != 0) report_folder_error("slave_sim", "/proc");
    return found;
}

ProfileLayout wanted_layout(const std::string& layout) {
    if (layout == "battery") return ProfileLayout::battery;
    if (layout == "normal") return ProfileLayout::normal;
    return battery_engine_running() ? ProfileLayout::battery : ProfileLayout::normal;
}

// One round of the print mechanism (called with mu held).
void data_step(Clock::time_point now) {
    bool abort_active, fast;
    int buffer;
    std::string layout;
    {
        std::lock_guard<std::mutex> lock(sim.ctl_mu);
        abort_active = sim.abort_line.level == 0;
        fast = sim.state.fast;
        buffer = sim.state.buffer;
        layout = sim.state.layout;
    }
    if (abort_active) {
        // Abort: whatever was received or queued is dropped; nothing is asked for.
        if (!sim.aborted) {
            if (sim.rows_log) std::fprintf(sim.rows_log, "abort after row=%llu\n", (unsigned long long)sim.rows_printed);
            sim.aborted = true;
        }
        sim.rx.clear();
        sim.stream.reset();
        sim.queue.clear();
        sim.queued_job_ends = 0;
        sim.blocks_done = sim.blocks_received;
        sim.request_out = false;
        sim.moving = false;
        return;
    }
    sim.aborted = false;

    while (sim.rx.size() >= HSS_BLOCK) {
        if (!sim.stream.in_profile()) sim.stream.set_layout(wanted_layout(layout));
        sim.stream.add_block(sim.rx.data());
        if (sim.profile_bin) std::fwrite(sim.rx.data(), 1, HSS_BLOCK, sim.profile_bin);
        sim.rx.erase(sim.rx.begin(), sim.rx.begin() + HSS_BLOCK);
        ++sim.blocks_received;
        sim.request_out = false;
        sim.dirty = true;
    }
    if (!sim.rx.empty() && ms_between(sim.last_rx, now) > 1000) {
        // A block cut short (its sender was stopped): drop it so the next one starts aligned.
        log_msg("data port: %zu bytes of an incomplete block dropped\n", sim.rx.size());
        sim.dropped += sim.rx.size();
        sim.rx.clear();
    }

    DecodedRow row;
    while (sim.stream.next_row(row)) {
        if (row.job_end()) ++sim.queued_job_ends;
        sim.queue.push_back(std::move(row));
    }
    if (sim.queue.empty() && !sim.stream.in_profile()) sim.blocks_done = sim.blocks_received;

    while (!sim.queue.empty()) {
        if (!sim.moving) {
            sim.moving = true;
            if (fast || sim.next_due < now) sim.next_due = now;
        }
        if (!fast && now < sim.next_due) break;
        DecodedRow& r = sim.queue.front();
        sim.paper.add_row(r.dots.data());
        ++sim.rows_printed;
        if (sim.rows_log)
            std::fprintf(sim.rows_log, "row=%llu %s\n", (unsigned long long)sim.rows_printed, r.describe().c_str());
        sim.blocks_done = std::max<uint64_t>(sim.blocks_done, r.end_offset / HSS_BLOCK);
        if (!fast) sim.next_due += std::chrono::microseconds(r.row_time_us(sim.steps));
        sim.last_activity = now;
        sim.dirty = true;
        bool end = r.job_end();
        sim.queue.pop_front();
        if (end) {
            --sim.queued_job_ends;
            ++sim.jobs;
            sim.moving = false;  // the paper stops after the last row of what was pending
        }
    }
    if (sim.queue.empty() && sim.moving && (fast || now >= sim.next_due)) {
        // The next row is due and none is there: the paper stops in the middle of a job.
        sim.moving = false;
        if (!fast) {
            ++sim.stalls;
            if (sim.rows_log) std::fprintf(sim.rows_log, "stall after row=%llu\n", (unsigned long long)sim.rows_printed);
        }
    }

    // Ask for the next block while there is room, but not past the end of what was pending
    // until it has printed (this holds the next sheet until the current one is out).
    uint64_t outstanding = sim.blocks_received - std::min(sim.blocks_done, sim.blocks_received);
    bool want = outstanding < uint64_t(buffer) && sim.queued_job_ends == 0 && !sim.firmware.active();
    if (want && !sim.request_out) {
        uint8_t one = 1;
        if (::write(sim.hss_master, &one, 1) == 1) {
            sim.request_out = true;
            sim.request_time = now;
        }
    } else if (sim.request_out && sim.rx.empty() && ms_between(sim.request_time, now) > 300 &&
               input_queued(sim.hss_slave) == 0) {
        // The request was read but no block followed (the sender stopped, or it was only
        // waiting for the sheet to finish): ask again.
        sim.request_out = false;
    }

    if (sim.dirty && !sim.moving && sim.queue.empty() && ms_between(sim.last_activity, now) >= 100) flush_paper();
}

void data_port_thread() {
    std::vector<uint8_t> buf(65536);
    for (;;) {
        int timeout = 20;
        bool fast;
        {
            std::lock_guard<std::mutex> lock(sim.ctl_mu);
            fast = sim.state.fast;
        }
        {
            std::lock_guard<std::mutex> lock(sim.mu);
            if (!sim.queue.empty()) {
                if (fast) {
                    timeout = 0;
                } else if (sim.moving) {
                    auto us = std::chrono::duration_cast<std::chrono::microseconds>(sim.next_due - Clock::now()).count();
                    timeout = int(std::clamp<long long>((us + 999) / 1000, 0, 20));
                } else {
                    timeout = 0;
                }
            }
        }
        struct pollfd p { sim.hss_master, POLLIN, 0 };
        poll(&p, 1, timeout);
        std::lock_guard<std::mutex> lock(sim.mu);
        auto now = Clock::now();
        for (;;) {
            ssize_t n = ::read(sim.hss_master, buf.data(), buf.size());
            if (n <= 0) break;
            size_t image = take_firmware(buf.data(), size_t(n));
            sim.rx.insert(sim.rx.end(), buf.begin() + long(image), buf.begin() + n);
            sim.bytes_received += uint64_t(n);
            sim.last_rx = now;
            sim.last_activity = now;
        }
        data_step(now);
    }
}

// ---- control socket -------------------------------------------------------------------------

std::string handle_control(const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    std::vector<std::string> args;
    for (std::string a; in >> a;) args.push_back(a);
    if (cmd == "stats" || cmd == "flush" || cmd == "reset") {
        std::lock_guard<std::mutex> lock(sim.mu);
        if (cmd == "flush") flush_paper();
        if (cmd == "reset") {
            reset_paper();
            return "ok\n";
        }
        return stats_text();
    }
    std::lock_guard<std::mutex> lock(sim.ctl_mu);
    if (cmd == "set") {
        for (const auto& a : args) {
            size_t eq = a.find('=');
            std::string err;
            if (eq == std::string::npos) return "error: expected KEY=VALUE, got " + a + "\n";
            if (!sim.state.set(a.substr(0, eq), a.substr(eq + 1), err)) return "error: " + err + "\n";
            if (a.substr(0, eq) == "delay_for") sim.delay_end = Clock::now() + std::chrono::seconds(sim.state.delay_for);
        }
        write_state_file();
        return "ok\n";
    }
    if (cmd == "get") {
        if (args.empty()) return sim.state.text();
        std::string v = sim.state.get(args[0]);
        return v.empty() ? "error: unknown key " + args[0] + "\n" : v + "\n";
    }
    if (cmd == "attention") {
        std::string how = args.empty() ? "pulse" : args[0];
        if (how == "pulse") {
            ++sim.attention.count;
            sim.attention.level = 1;
        } else if (how == "hold") {
            if (sim.attention.level == 1) ++sim.attention.count;
            sim.attention.level = 0;
        } else if (how == "release") {
            sim.attention.level = 1;
        } else {
            return "error: attention pulse|hold|release\n";
        }
        sim.attention.write();
        return "ok\n";
    }
    if (cmd == "abort") {
        if (args.empty() || (args[0] != "on" && args[0] != "off")) return "error: abort on|off\n";
        bool on = args[0] == "on";
        if (on && sim.abort_line.level == 1) ++sim.abort_line.count;
        sim.abort_line.level = on ? 0 : 1;
        sim.abort_line.write();
        return "ok\n";
    }
    if (cmd == "logclear") {
        if (sim.frames_log) std::fclose(sim.frames_log);
        sim.frames_log = std::fopen(FRAMES_LOG, "w");
        if (sim.replies_log) std::fclose(sim.replies_log);
        sim.replies_log = std::fopen(REPLIES_LOG, "w");
        return "ok\n";
    }
    return "error: unknown request " + cmd + "\n";
}

void control_thread(int listener) {
    for (;;) {
        int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        std::string line;
        char buf[1024];
        while (line.find('\n') == std::string::npos && line.size() < 65536) {
            ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            line.append(buf, size_t(n));
        }
        if (size_t nl = line.find('\n'); nl != std::string::npos) line.resize(nl);
        std::string reply = handle_control(line);
        size_t done = 0;
        while (done < reply.size()) {
            ssize_t n = ::write(c, reply.data() + done, reply.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        ::close(c);
    }
}

int run_daemon(bool fast) {
    mkdir("/sim", 0755);
    mkdir(RUN_DIR, 0755);
    mkdir(LOG_DIR, 0755);
    ::unlink(READY_PATH);
    sim.state.fast = fast;

    GlobalDefines g;
    init_global_defines(g);
    load_steps(g.PRINTHEAD_CONFIG_FILENAME.empty() ? "/home/printhead_config.cfg" : g.PRINTHEAD_CONFIG_FILENAME);

    // Signals are taken by the main thread only.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!file_exists("/sys/class/gpio/export")) write_small_file("/sys/class/gpio/export", "");
    if (!file_exists("/sys/class/gpio/unexport")) write_small_file("/sys/class/gpio/unexport", "");
    if (!setup_line(g.SLAVE_RTS_GPIO_NUMBER, sim.ready) || !setup_line(g.ATTN_GPIO_NUMBER, sim.attention) ||
        !setup_line(g.ABORT_GPIO_NUMBER, sim.abort_line)) {
        std::perror("slave_sim: GPIO lines");
        return 1;
    }
    if (!open_pty(g.SLAVE_CMD_PORT_NAME, false, sim.cmd_master, sim.cmd_slave) ||
        !open_pty(g.SLAVE_HSS_DEV_NAME, true, sim.hss_master, sim.hss_slave)) {
        std::perror("slave_sim: ports");
        return 1;
    }
    sim.frames_log = std::fopen(FRAMES_LOG, "w");
    sim.replies_log = std::fopen(REPLIES_LOG, "w");
    reset_paper();
    write_state_file();

    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", SOCKET_PATH);
    ::unlink(SOCKET_PATH);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("slave_sim: control socket");
        return 1;
    }

    std::thread(cmd_port_thread).detach();
    std::thread(data_port_thread).detach();
    std::thread(control_thread, listener).detach();

    write_file_whole(READY_PATH, std::to_string(getpid()) + "\n");
    log_msg("slave_sim: command port %s, data port %s, lines %s %s %s\n", g.SLAVE_CMD_PORT_NAME.c_str(),
            g.SLAVE_HSS_DEV_NAME.c_str(), sim.ready.value_path.c_str(), sim.attention.value_path.c_str(),
            sim.abort_line.value_path.c_str());

    int sig = 0;
    sigwait(&set, &sig);
    std::lock_guard<std::mutex> lock(sim.mu);
    std::lock_guard<std::mutex> lock2(sim.ctl_mu);
    flush_paper();
    ::unlink(READY_PATH);
    _exit(0);
}

// ---- client ---------------------------------------------------------------------------------

bool request(const std::string& line, std::string& reply) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", SOCKET_PATH);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::string msg = line + "\n";
    if (::write(fd, msg.data(), msg.size()) != ssize_t(msg.size())) {
        ::close(fd);
        return false;
    }
    reply.clear();
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        reply.append(buf, size_t(n));
    }
    ::close(fd);
    return true;
}

int call(const std::string& line, bool print = true) {
    std::string reply;
    if (!request(line, reply)) {
        std::fprintf(stderr, "slave_sim: the simulator is not running (%s)\n", SOCKET_PATH);
        return 1;
    }
    bool error = reply.rfind("error", 0) == 0;
    if (error) std::fprintf(stderr, "slave_sim: %s", reply.c_str());
    else if (print && reply != "ok\n") std::fputs(reply.c_str(), stdout);
    return error ? 1 : 0;
}

long stat_value(const std::string& stats, const char* key) {
    std::string k = std::string(" ") + key + "=";
    std::string s = " " + stats;
    size_t p = s.find(k);
    return p == std::string::npos ? -1 : std::atol(s.c_str() + p + k.size());
}

// The print engine still holds work: a dot image in its intake, a profile or its size file.
bool engine_busy(const GlobalDefines& g) {
    if (file_exists(g.PROFILER_OUTPUT_FILEPATH)) return true;
    if (FILE* f = std::fopen("/tmp/profilesize/prosize", "r")) {
        int size = 0;
        bool busy = std::fscanf(f, "%d", &size) == 1 && size != 0;
        std::fclose(f);
        if (busy) return true;
    }
    bool any = false;
    int r = for_each_entry(g.PATH_TO_DOTIMAGE_FILES, [&](int dfd, const char* name) {
        struct stat st {};
        if (name[0] != '.' && fstatat(dfd, name, &st, 0) == 0 && S_ISREG(st.st_mode)) any = true;
        return !any;
    });
    // An intake that cannot be read may still hold an image: busy, and said so.
    if (r != 0 && errno != ENOENT) {
        report_folder_error("slave_sim", g.PATH_TO_DOTIMAGE_FILES);
        return true;
    }
    return any;
}

// Frames-log lines of the letter, or that begin with the given frame text.
int count_frames(const std::string& what) {
    FILE* f = std::fopen(FRAMES_LOG, "r");
    if (!f) return 0;
    std::string prefix = what.size() == 1 ? what + " " : what;
    int n = 0;
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, prefix.c_str(), prefix.size()) == 0) ++n;
    }
    std::fclose(f);
    return n;
}

// Options: --quiet MS, --rows N, --timeout S, --count N.
struct WaitOptions {
    long quiet_ms = 500;
    long rows = 0;
    long count = 1;
    double timeout_s = 60;
};

bool parse_wait_options(int argc, char** argv, int first, WaitOptions& o) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return false;
        if (a == "--quiet") o.quiet_ms = std::atol(argv[++i]);
        else if (a == "--rows") o.rows = std::atol(argv[++i]);
        else if (a == "--count") o.count = std::atol(argv[++i]);
        else if (a == "--timeout") o.timeout_s = std::atof(argv[++i]);
        else return false;
    }
    return true;
}

int wait_loop(const WaitOptions& o, bool for_idle) {
    GlobalDefines g;
    init_global_defines(g);
    auto start = Clock::now();
    std::string stats;
    for (;;) {
        if (!request("stats", stats)) {
            std::fprintf(stderr, "slave_sim: the simulator is not running\n");
            return 1;
        }
        long rows = stat_value(stats, "rows");
        bool done = rows >= o.rows;
        if (for_idle)
            done = done && stat_value(stats, "idle") == 1 && stat_value(stats, "idle_ms") >= o.quiet_ms && !engine_busy(g);
        if (done) return 0;
        if (ms_between(start, Clock::now()) > long(o.timeout_s * 1000)) {
            std::fprintf(stderr, "slave_sim: timed out waiting (%s)\n", stats.substr(0, stats.size() - 1).c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int usage() {
    std::fputs(
        "usage: slave_sim run [--fast] | set KEY=VALUE... | get [KEY] | attention [pulse|hold|release]\n"
        "       | abort on|off | log [--clear] | stats | paper [reset]\n"
        "       | wait-idle [--quiet MS] [--rows N] [--timeout S] | wait-rows N [--timeout S]\n"
        "       | wait-frame LETTER|FRAME [--count N] [--timeout S]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "run") return run_daemon(argc > 2 && std::string(argv[2]) == "--fast");
    if (cmd == "set" || cmd == "get" || cmd == "attention" || cmd == "abort") {
        std::string line = cmd;
        for (int i = 2; i < argc; ++i) line += std::string(" ") + argv[i];
        return call(line);
    }
    if (cmd == "stats") return call("stats");
    if (cmd == "paper") {
        if (argc > 2 && std::string(argv[2]) == "reset") return call("reset");
        return call("flush");
    }
    if (cmd == "log") {
        if (argc > 2 && std::string(argv[2]) == "--clear") return call("logclear");
        FILE* f = std::fopen(FRAMES_LOG, "r");
        if (!f) return 1;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) std::fwrite(buf, 1, n, stdout);
        std::fclose(f);
        return 0;
    }
    if (cmd == "wait-idle") {
        WaitOptions o;
        if (!parse_wait_options(argc, argv, 2, o)) return usage();
        return wait_loop(o, true);
    }
    if (cmd == "wait-rows") {
        WaitOptions o;
        if (argc < 3 || !parse_wait_options(argc, argv, 3, o)) return usage();
        o.rows = std::atol(argv[2]);
        return wait_loop(o, false);
    }
    if (cmd == "wait-frame") {
        WaitOptions o;
        if (argc < 3 || argv[2][0] == '\0' || !parse_wait_options(argc, argv, 3, o)) return usage();
        auto start = Clock::now();
        while (count_frames(argv[2]) < o.count) {
            if (ms_between(start, Clock::now()) > long(o.timeout_s * 1000)) {
                std::fprintf(stderr, "slave_sim: no frame %s within %.1f s\n", argv[2], o.timeout_s);
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }
    return usage();
}
