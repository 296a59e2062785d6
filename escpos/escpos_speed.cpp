#include "escpos_speed.h"

#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace escpos {

bool SpeedPauseWatch::start() {
    mkdir(folder_.c_str(), 0777);
    fd_ = inotify_init1(IN_CLOEXEC);
    if (fd_ < 0 || inotify_add_watch(fd_, folder_.c_str(), IN_DELETE) < 0) {
        dbg("Couldn't add watch to /tmp_speed_pause_pthrd/\n");
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

int SpeedPauseWatch::wait_events(int timeout_ms) {
    if (fd_ < 0) return -1;
    struct pollfd p {fd_, POLLIN, 0};
    int rc = poll(&p, 1, timeout_ms);
    if (rc < 0) return errno == EINTR ? 0 : -1;
    if (rc == 0) return 0;
    alignas(inotify_event) char buf[4096];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) return n < 0 && errno == EINTR ? 0 : -1;
    int deletions = 0;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
        if (ev->mask & IN_DELETE) ++deletions;
        at += ssize_t(sizeof(inotify_event)) + ssize_t(ev->len);
    }
    if (deletions) {
        dbg("speed pause file deleted\n");
        std::lock_guard<std::mutex> hold(m_);
        speed_switch_pause.store(0);
        cv_.notify_all();
    }
    return deletions;
}

void SpeedPauseWatch::run() {
    while (wait_events(-1) >= 0) {}
}

bool SpeedPauseWatch::wait_released(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_);
    bool released = cv_.wait_for(lock, limit, [&] { return speed_switch_pause.load() == 0; });
    if (released) speed_switch_pause.store(1);
    return released;
}

}  // namespace escpos
