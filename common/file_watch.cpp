#include "file_watch.h"

#include <cerrno>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

FolderWatch::~FolderWatch() {
    if (fd_ >= 0) close(fd_);
}

bool FolderWatch::open(const std::string& folder, uint32_t mask) {
    if (fd_ >= 0) close(fd_);
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return false;
    if (inotify_add_watch(fd_, folder.c_str(), mask) < 0) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool FolderWatch::wait(int timeout_ms) {
    if (fd_ < 0) {
        if (timeout_ms > 0) usleep(useconds_t(timeout_ms) * 1000);
        return false;
    }
    struct pollfd p {fd_, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r <= 0) return false;
    drain();
    return true;
}

void FolderWatch::drain() {
    if (fd_ < 0) return;
    alignas(struct inotify_event) char buf[4096];
    while (read(fd_, buf, sizeof buf) > 0) {}
}

bool wait_while_exists(const std::string& path, int check_ms, const std::function<bool()>& stop) {
    if (access(path.c_str(), F_OK) != 0) return true;
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    // The watch is in place before each look, so a removal between the look and the wait is
    // still an event.
    FolderWatch w(folder, IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF);
    for (;;) {
        if (access(path.c_str(), F_OK) != 0) return true;
        if (stop && stop()) return false;
        w.wait(w.ok() ? check_ms : (check_ms < 5 ? check_ms : 5));
    }
}
