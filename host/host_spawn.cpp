#include "host_spawn.h"

#include <cerrno>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

std::function<int(const std::string&)> host_command_hook;

namespace {
std::mutex spawn_mutex;

int spawn_and_wait(const char* path, char* const argv[], bool search) {
    pid_t pid = -1;
    int rc;
    {
        std::lock_guard<std::mutex> lock(spawn_mutex);
        rc = search ? posix_spawnp(&pid, path, nullptr, nullptr, argv, environ)
                    : posix_spawn(&pid, path, nullptr, nullptr, argv, environ);
    }
    if (rc != 0) return -1;
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
}  // namespace

int host_run_shell(const char* line) {
    if (host_command_hook) return host_command_hook(line);
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(line), nullptr};
    return spawn_and_wait("/bin/sh", argv, false);
}

int host_run_argv(const std::vector<std::string>& args) {
    if (args.empty()) return -1;
    if (host_command_hook) {
        std::string joined;
        for (const auto& a : args) joined += (joined.empty() ? "" : " ") + a;
        return host_command_hook(joined);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return spawn_and_wait(argv[0], argv.data(), true);
}

int close_job_stream(FILE* f) {
    std::lock_guard<std::mutex> lock(spawn_mutex);
    return std::fclose(f);
}
