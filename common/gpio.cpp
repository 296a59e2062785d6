#include "gpio.h"

#include "files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {
constexpr long SYSFS_MAGIC_NUMBER = 0x62656572;

void write_text(const std::string& path, const char* text, size_t len) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    ssize_t r = ::write(fd, text, len);
    (void)r;
    ::close(fd);
}
}  // namespace

std::string gpio_pin_symbol(int n) {
    if (n < 0 || n >= 160) return {};
    char buf[8];
    std::snprintf(buf, sizeof buf, "%c%d", 'A' + n / 32, n % 32);
    return buf;
}

std::string gpio_line_path(int n, const char* attribute) {
    std::string sym = gpio_pin_symbol(n);
    if (sym.empty()) return {};
    return "/sys/class/gpio/pio" + sym + "/" + attribute;
}

std::string gpio_value_path(int n) { return gpio_line_path(n, "value"); }

void gpio_prepare_input(int n) {
    std::string num = std::to_string(n);
    write_text("/sys/class/gpio/export", num.c_str(), num.size());
    std::string dir = gpio_line_path(n, "direction");
    std::string edge = gpio_line_path(n, "edge");
    if (dir.empty()) return;
    write_text(dir, "in", 2);
    write_text(edge, "falling", sizeof "falling");  // with its terminating zero byte
}

int gpio_read_char(const std::string& value_path) {
    int fd = ::open(value_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char c = 0;
    ssize_t r = ::read(fd, &c, 1);
    ::close(fd);
    return r == 1 ? c : -1;
}

GpioEdgeWaiter::~GpioEdgeWaiter() {
    if (fd_ >= 0) ::close(fd_);
    if (inotify_ >= 0) ::close(inotify_);
}

bool GpioEdgeWaiter::open(const std::string& value_path) {
    path_ = value_path;
    fd_ = ::open(value_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct statfs sfs {};
    struct stat st {};
    regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && fstatfs(fd_, &sfs) == 0 &&
               static_cast<long>(sfs.f_type) != SYSFS_MAGIC_NUMBER;
    if (regular_) {
        // The stand-in is replaced by rename: watch its folder, not the (old) inode.
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        size_t slash = value_path.rfind('/');
        std::string dir(slash == std::string::npos || slash == 0 ? std::string_view("/")
                                                                  : std::string_view(value_path).substr(0, slash));
        if (inotify_ >= 0) inotify_add_watch(inotify_, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
    }
    return read_state(level_, count_);
}

bool GpioEdgeWaiter::read_state(int& level, long& count) {
    char buf[64];
    ssize_t n;
    if (regular_) {
        int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
    } else {
        if (lseek(fd_, 0, SEEK_SET) < 0) return false;
        n = ::read(fd_, buf, sizeof buf - 1);
    }
    if (n <= 0) return false;
    buf[n] = 0;
    level = buf[0];
    char* end = nullptr;
    const char* p = std::strchr(buf, '\n');
    count = -1;
    if (p) {
        long c = std::strtol(p + 1, &end, 10);
        if (end != p + 1) count = c;
    }
    return true;
}

int GpioEdgeWaiter::wait(int timeout_ms) {
    if (fd_ < 0) return -1;
    return regular_ ? wait_file(timeout_ms) : wait_sysfs(timeout_ms);
}

int GpioEdgeWaiter::wait_sysfs(int timeout_ms) {
    struct pollfd p { fd_, POLLPRI | POLLERR, 0 };
    int r = poll(&p, 1, timeout_ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    if (r == 0) return 0;
    long count;
    read_state(level_, count);
    return 1;
}

int GpioEdgeWaiter::wait_file(int timeout_ms) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        int level = -1;
        long count = -1;
        if (read_state(level, count)) {
            bool edge = (count >= 0 && count_ >= 0) ? count != count_ : (level_ == '1' && level == '0');
            level_ = level;
            count_ = count;
            if (edge) return 1;
        }
        // The folder's events wake the waiter; the bound is only a safety net should one be
        // missed (a full event queue), so an idle line costs one wake-up a second.
        int wait_ms = 1000;
        if (timeout_ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) return 0;
            if (left < wait_ms) wait_ms = static_cast<int>(left);
        }
        if (inotify_ >= 0) {
            struct pollfd p { inotify_, POLLIN, 0 };
            if (poll(&p, 1, wait_ms) > 0) {
                char ev[4096];
                while (::read(inotify_, ev, sizeof ev) > 0) {}
            }
        } else {
            usleep(static_cast<useconds_t>(wait_ms) * 1000);
        }
    }
}

bool gpio_write_standin(const std::string& value_path, int level, long edge_count) {
    return write_file_whole(value_path, std::string(level ? "1" : "0") + "\n" + std::to_string(edge_count) + "\n");
}
