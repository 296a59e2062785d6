#include "response_pipe.h"

#include "host_state.h"
#include "settings.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex resp_mutex;
std::condition_variable resp_taken;
uint8_t host_resp[HOST_RESP_SIZE];
bool host_resp_flag = false;

int event_fd() {
    static int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

void drain_event() {
    uint64_t v;
    while (read(event_fd(), &v, sizeof v) > 0) {}
}
}  // namespace

void post_host_resp(const char* text, size_t length) {
    std::unique_lock<std::mutex> lock(resp_mutex);
    resp_taken.wait(lock, [] { return !host_resp_flag; });
    if (length > HOST_RESP_TEXT_MAX) length = HOST_RESP_TEXT_MAX;
    std::memset(host_resp, 0, sizeof host_resp);
    std::memcpy(host_resp, text, length);
    host_resp_flag = true;
    uint64_t one = 1;
    if (write(event_fd(), &one, sizeof one) < 0) {}
}

bool take_host_resp(uint8_t out[HOST_RESP_SIZE]) {
    {
        std::lock_guard<std::mutex> lock(resp_mutex);
        if (!host_resp_flag) return false;
        std::memcpy(out, host_resp, HOST_RESP_SIZE);
        host_resp_flag = false;
        drain_event();
    }
    resp_taken.notify_all();
    return true;
}

bool host_resp_pending() {
    std::lock_guard<std::mutex> lock(resp_mutex);
    return host_resp_flag;
}

void clear_host_resp() {
    {
        std::lock_guard<std::mutex> lock(resp_mutex);
        host_resp_flag = false;
        drain_event();
    }
    resp_taken.notify_all();
}

int host_resp_event_fd() { return event_fd(); }

size_t read_pipe_answer(int fd, char out[HOST_RESP_SIZE]) {
    size_t kept = 0;
    char buf[512];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_t take = static_cast<size_t>(n);
        if (take > HOST_RESP_TEXT_MAX - kept) take = HOST_RESP_TEXT_MAX - kept;
        std::memcpy(out + kept, buf, take);
        kept += take;
    }
    out[kept] = '\0';
    return kept;
}

void* resp_pipe_watch_pthrd(void*) {
    name_thread("resp_pipe");
    const std::string& path = host_settings.HOST_RESPONSE_PIPE_FILEPATH;
    if (path.empty()) return nullptr;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && mkfifo(path.c_str(), 0666) != 0) {
        std::perror("host_resp_pipe");
        return nullptr;
    }
    if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "host_link: %s is not a named pipe; no answers are passed on\n", path.c_str());
        return nullptr;
    }
    chmod(path.c_str(), 0666);
    for (;;) {
        // Waits here until a writer opens the pipe.
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) continue;
            std::perror("host_resp_pipe");
            return nullptr;
        }
        char answer[HOST_RESP_SIZE];
        size_t n = read_pipe_answer(fd, answer);
        close(fd);
        dbg("response pipe: %zu bytes\n", n);
        post_host_resp(answer, n);
    }
}
