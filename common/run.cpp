#include "run.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
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

void sleep_us(long us) {
    struct timespec ts { us / 1000000, (us % 1000000) * 1000 };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

void sleep_ms(long ms) { sleep_us(ms * 1000); }
