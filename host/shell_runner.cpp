#include "shell_runner.h"

#include "host_spawn.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {
struct Runner {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;
    bool running = false;  // a line is being run
};

// Never destroyed: the runner thread waits on it until the process ends.
Runner& runner() {
    static Runner* r = new Runner;
    return *r;
}

void shell_command_pthrd() {
    Runner& r = runner();
    for (;;) {
        std::string line;
        {
            std::unique_lock<std::mutex> lock(r.mutex);
            r.changed.wait(lock, [&] { return !r.queue.empty(); });
            line = std::move(r.queue.front());
            r.queue.pop_front();
            r.running = true;
        }
        host_run_shell(line.c_str());
        {
            std::lock_guard<std::mutex> lock(r.mutex);
            r.running = false;
        }
        r.changed.notify_all();
    }
}
}  // namespace

void (*posted_shell_hook)(const char* line) = nullptr;

void post_shell_command(const char* line) {
    if (posted_shell_hook) {
        posted_shell_hook(line);
        return;
    }
    static std::once_flag started;
    std::call_once(started, [] { std::thread(shell_command_pthrd).detach(); });
    Runner& r = runner();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        // The same line waiting last in the queue would only repeat its effect: it is not queued again.
        if (!r.queue.empty() && r.queue.back() == line) return;
        r.queue.emplace_back(line);
    }
    r.changed.notify_all();
}

void drain_shell_commands() {
    Runner& r = runner();
    std::unique_lock<std::mutex> lock(r.mutex);
    r.changed.wait(lock, [&] { return r.queue.empty() && !r.running; });
}
