#include "status.h"

#include "command_file.h"
#include "emulation.h"
#include "host_spawn.h"
#include "host_state.h"
#include "run.h"
#include "settings.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

long abort_command_pause_ms = 80;
long abort_delay_ms = ABORT_DELAY_MS;

namespace {
std::mutex status_mutex;
char status_text[STATUS_STRING_LENGTH + 1] = "00000500002501.05.00.00";

// End of the abort delay on the steady clock in nanoseconds: 0 none, LLONG_MAX while an abort lasts.
std::atomic<long long> abort_delay_until{0};

long long steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int digit(char c) { return c - '0'; }

// Sleeps until an absolute point of the monotonic clock.
void sleep_until(timespec& next, long period_ms) {
    next.tv_nsec += period_ms * 1000000L;
    while (next.tv_nsec >= 1000000000L) {
        next.tv_nsec -= 1000000000L;
        ++next.tv_sec;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // After a long stall (the machine was suspended, the thread starved) start afresh from now.
    if (now.tv_sec > next.tv_sec + 1) next = now;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {}
}
}  // namespace

// ---- status string ---------------------------------------------------------------------------

std::string status_string() {
    std::lock_guard<std::mutex> lock(status_mutex);
    return std::string(status_text, STATUS_STRING_LENGTH);
}

void reset_status_string() {
    std::lock_guard<std::mutex> lock(status_mutex);
    std::memcpy(status_text, INITIAL_STATUS_STRING, STATUS_STRING_LENGTH + 1);
}

bool refresh_status_string(const std::string& path) {
    // engine_watch replaces the file by rename: one open sees one whole version of it.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[STATUS_STRING_LENGTH + 1];
    size_t got = 0;
    while (got < sizeof buf) {
        ssize_t n = read(fd, buf + got, sizeof buf - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got < STATUS_STRING_LENGTH) return false;  // empty or cut short: the last good copy stays
    std::lock_guard<std::mutex> lock(status_mutex);
    std::memcpy(status_text, buf, STATUS_STRING_LENGTH);
    status_text[STATUS_STRING_LENGTH] = '\0';
    return true;
}

// ---- answers ---------------------------------------------------------------------------------

std::string answered_status_string() {
    std::string s = status_string();
    if (abort_delay_active()) {
        s[7] = '0';
        s[8] = '1';
    }
    return s;
}

size_t status_answer(uint8_t selector, uint8_t* out) {
    std::string s = answered_status_string();
    if (selector == 1) {
        std::memcpy(out, s.data(), 12);
        return 12;
    }
    if (selector == 0) {
        std::memcpy(out, s.data() + 12, 11);
        return 11;
    }
    return 0;
}

void package_answer(const uint8_t serial[2], uint8_t out[4]) {
    std::string s = answered_status_string();
    int bits = 0;
    for (int k = 0; k <= 4; ++k) bits += digit(s[static_cast<size_t>(k)]) * (1 << k);
    bits += digit(s[9]) * 32;
    out[0] = serial[0];
    out[1] = serial[1];
    out[2] = static_cast<uint8_t>(bits & 0xFF);
    out[3] = static_cast<uint8_t>((10 * digit(s[10]) + digit(s[11])) & 0xFF);
}

// ---- abort -----------------------------------------------------------------------------------

bool AbortDebounce::wants_pin() {
    if (pause > 0) {
        --pause;
        return false;
    }
    return true;
}

int AbortDebounce::reading(int pin, int flag) {
    if (pin == '0') {
        ones = 0;
        if (++zeros >= 3) {
            zeros = 0;
            pause = 21;
            return 1;
        }
        return flag;
    }
    zeros = 0;
    if (++ones >= 3) {
        ones = 0;
        pause = 1;
        return 0;
    }
    return flag;
}

bool abort_delay_active() {
    long long until = abort_delay_until.load();
    return until != 0 && steady_ns() < until;
}

void set_abort_delay(long ms_from_now) {
    abort_delay_until = ms_from_now < 0 ? LLONG_MAX : steady_ns() + static_cast<long long>(ms_from_now) * 1000000LL;
}

void clear_abort_delay() { abort_delay_until = 0; }

void run_abort_deal(const std::string& emulation, const char* phase) {
    // "/home/abort_deal.sh NAME PHASE &": the shell starts the script in the background and returns.
    host_run_argv({"/bin/sh", "-c", "\"$0\" \"$@\" &", "/home/abort_deal.sh", emulation, phase});
}

bool write_command_now(char letter) {
    CommandFrame frame = command_frame(letter, {0, 0, 0, 0});
    std::string path = command_file_path(host_paths.command_intake, letter);
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
    return std::fclose(f) == 0 && ok;
}

void* get_abort_and_get_return_data_pthrd(void*) {
    name_thread("status");
    static const std::atomic<bool> never{false};
    status_loop(never);
    return nullptr;
}

void status_loop(const std::atomic<bool>& stop) {
    AbortDebounce debounce;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop) {
        if (debounce.wants_pin()) {
            int flag = debounce.reading(read_abort_pin(), abort_flag);
            if (flag != abort_flag) {
                dbg("abort input %s\n", flag ? "active" : "released");
                set_abort_flag(flag);
            }
        }
        refresh_status_string(host_paths.return_dat);
        sleep_until(next, STATUS_PERIOD_MS);
    }
}

void* check_abort_pthrd(void*) {
    name_thread("abort");
    static const std::atomic<bool> never{false};
    check_abort_loop(never);
    return nullptr;
}

void check_abort_loop(const std::atomic<bool>& stop) {
    bool clear_pending = true;
    while (!stop) {
        if (abort_flag == 1) {
            host_run_shell("/root/engine_cmd A");
            run_abort_deal(current_emulation(), "s");
            clear_pending = true;
            while (abort_flag == 1 && !stop) {
                set_abort_delay(-1);
                for (char letter : {'A', 'Q', 'T'}) {
                    write_command_now(letter);
                    if (wait_abort_flag(0, abort_command_pause_ms)) break;
                }
                if (abort_flag == 0) break;
                std::string s = status_string();
                bool slave_ready = (s[7] == '0' && s[8] == '0') || (s[7] == '0' && s[8] == '3');
                if (clear_pending && slave_ready) {
                    host_run_shell("/root/engine_cmd X");
                    sleep_ms(100);
                    host_run_shell("/root/engine_cmd S 1");
                    clear_pending = false;
                }
            }
        } else {
            struct stat st {};
            if (stat(host_paths.check_im.c_str(), &st) != 0) {
                // The first pass after start only marks that host_link has run.
                if (FILE* f = std::fopen(host_paths.check_im.c_str(), "w")) {
                    std::fputs("1\n", f);
                    std::fclose(f);
                }
            } else {
                run_abort_deal(current_emulation(), "e");
                set_abort_delay(abort_delay_ms);
            }
            // The delay counts down from the end of the abort either way.
            if (abort_delay_until.load() == LLONG_MAX) set_abort_delay(abort_delay_ms);
            while (!stop && !wait_abort_flag(1, 1000)) {}
        }
    }
}
