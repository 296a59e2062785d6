#include "job_intake.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

bool file_being_written(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // A read lease is refused while any descriptor of the file is open for writing. Where leases
    // are not available (EINVAL, or a file of another owner without the capability) the file is
    // taken as complete.
    bool writing = fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN;
    if (!writing) fcntl(fd, F_SETLEASE, F_UNLCK);
    close(fd);
    return writing;
}

std::vector<std::string> waiting_job_files(const std::string& folder) {
    struct Entry {
        struct timespec mtime;
        std::string path;
    };
    std::vector<Entry> found;
    DIR* d = opendir(folder.c_str());
    if (!d) {
        if (errno != ENOENT) std::fprintf(stderr, "intake: cannot read %s: %s\n", folder.c_str(), std::strerror(errno));
        return {};
    }
    for (;;) {
        errno = 0;
        struct dirent* e = readdir(d);
        if (!e) {
            if (errno != 0) std::fprintf(stderr, "intake: reading %s failed: %s\n", folder.c_str(), std::strerror(errno));
            break;
        }
        if (e->d_name[0] == '.') continue;
        std::string path = folder + "/" + e->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (file_being_written(path)) continue;
        found.push_back({st.st_mtim, path});
    }
    closedir(d);
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        if (a.mtime.tv_sec != b.mtime.tv_sec) return a.mtime.tv_sec < b.mtime.tv_sec;
        if (a.mtime.tv_nsec != b.mtime.tv_nsec) return a.mtime.tv_nsec < b.mtime.tv_nsec;
        return a.path < b.path;
    });
    std::vector<std::string> paths;
    for (auto& e : found) paths.push_back(std::move(e.path));
    return paths;
}

JobIntake::JobIntake(std::string folder, Take take) : folder_(std::move(folder)), take_(std::move(take)) {}

JobIntake::~JobIntake() {
    if (fd_ >= 0) close(fd_);
}

void JobIntake::take_if_ready(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;  // taken already, or not a job
    if (file_being_written(path)) return;  // a new file of the same name: its own close comes later
    take_(path);
}

bool JobIntake::start() {
    fd_ = inotify_init1(IN_CLOEXEC);
    if (fd_ < 0) {
        std::perror("Couldn't initialize inotify");
        return false;
    }
    mkdir(folder_.c_str(), 0777);
    if (inotify_add_watch(fd_, folder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        std::fprintf(stderr, "Couldn't add watch to %s: %s\n", folder_.c_str(), std::strerror(errno));
        close(fd_);
        fd_ = -1;
        return false;
    }
    // The watch is in place before the folder is listed: a job that arrives meanwhile is either
    // listed or reported, and one that is both is gone when its event is read.
    for (const std::string& path : waiting_job_files(folder_)) take_if_ready(path);
    return true;
}

int JobIntake::wait_and_take(int timeout_ms) {
    if (fd_ < 0) return -1;
    struct pollfd p {fd_, POLLIN, 0};
    int rc = poll(&p, 1, timeout_ms);
    if (rc < 0) return errno == EINTR ? 0 : -1;
    if (rc == 0) return 0;
    alignas(struct inotify_event) char buf[32768];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
    int taken = 0;
    for (ssize_t off = 0; off + ssize_t(sizeof(struct inotify_event)) <= n;) {
        auto* ev = reinterpret_cast<struct inotify_event*>(buf + off);
        off += ssize_t(sizeof(struct inotify_event) + ev->len);
        if (off > n) break;
        if (ev->len == 0 || ev->name[0] == '\0' || (ev->mask & IN_ISDIR)) continue;
        if (!(ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))) continue;
        take_if_ready(folder_ + "/" + ev->name);
        ++taken;
    }
    return taken;
}

void JobIntake::run() {
    while (!start()) sleep(1);  // reported; tried again rather than never taking a job
    for (;;) {
        if (wait_and_take(-1) < 0) {
            std::perror("intake: read");
            sleep(1);
        }
    }
}
