#include "run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

int run_shell(const char* line) {
    int st = std::system(line);
    if (st == -1) return -1;
    if (WIFEXITED(st)) {
        // 127: the shell itself could not be run.
        return WEXITSTATUS(st);
    }
    return -1;
}

int run_argv(const std::vector<std::string>& argv, bool wait) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execvp(args[0], args.data());
        _exit(127);
    }
    if (!wait) return pid;
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

namespace {
long long now_ms() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Reaps the child if it ends within limit_ms. Waits on a process descriptor where the kernel has
// them, else looks every 10 ms.
bool reap_within(pid_t pid, int pidfd, long limit_ms, int& status) {
    long long deadline = now_ms() + limit_ms;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) {  // not our child any more: no status to report
            status = -1;
            return true;
        }
        long long left = deadline - now_ms();
        if (left <= 0) return false;
        if (pidfd >= 0) {
            struct pollfd p {pidfd, POLLIN, 0};
            poll(&p, 1, int(left > 1000 ? 1000 : left));
        } else {
            sleep_ms(left > 10 ? 10 : left);
        }
    }
}
}  // namespace

int run_argv_limited(const std::vector<std::string>& argv, long limit_ms) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setpgid(0, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also here: the group exists before anything is sent to it
    int pidfd = -1;
#ifdef SYS_pidfd_open
    pidfd = int(syscall(SYS_pidfd_open, pid, 0));
#endif
    int st = 0;
    bool ended = reap_within(pid, pidfd, limit_ms, st);
    if (!ended) {
        std::fprintf(stderr, "%s: still running after %ld ms, stopped\n", argv[0].c_str(), limit_ms);
        kill(-pid, SIGTERM);
        if (!reap_within(pid, pidfd, 1000, st)) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
        }
        kill(-pid, SIGKILL);  // whatever the program started in its group
    }
    if (pidfd >= 0) close(pidfd);
    if (!ended) return RUN_TIMED_OUT;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void sleep_us(long us) {
    struct timespec ts { us / 1000000, (us % 1000000) * 1000 };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

void sleep_ms(long ms) { sleep_us(ms * 1000); }
