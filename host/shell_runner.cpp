#include "shell_runner.h"

#include "host_spawn.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {
std::mutex queue_mutex;
std::condition_variable queue_changed;
std::deque<std::string> queue;
bool running = false;  // a line is being run

void shell_command_pthrd() {
    for (;;) {
        std::string line;
        {
            std::unique_lock<std::mutex> lock(queue_mutex);
            queue_changed.wait(lock, [] { return !queue.empty(); });
            line = std::move(queue.front());
            queue.pop_front();
            running = true;
        }
        host_run_shell(line.c_str());
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            running = false;
        }
        queue_changed.notify_all();
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
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        queue.emplace_back(line);
    }
    queue_changed.notify_all();
}

void drain_shell_commands() {
    std::unique_lock<std::mutex> lock(queue_mutex);
    queue_changed.wait(lock, [] { return queue.empty() && !running; });
}
