#include "raster_intake.h"

#include "host_spawn.h"
#include "host_state.h"
#include "job_files.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int HEADER_LINE_MAX = 256;
constexpr int ROW_BYTES = RASTER_HEAD_WIDTH / 8;

void log_refusal(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "host_link: raster page %s refused: %s\n", path.c_str(), why.c_str());
}

// Decimal digits (at least one, at most nine) into value; the first character after them in next.
bool read_number(FILE* f, long& value, int& next) {
    int c = std::fgetc(f);
    int digits = 0;
    value = 0;
    while (c >= '0' && c <= '9') {
        if (++digits > 9) return false;
        value = value * 10 + (c - '0');
        c = std::fgetc(f);
    }
    next = c;
    return digits > 0;
}

// Skips to the end of the line; false when none comes within HEADER_LINE_MAX characters.
bool skip_line(FILE* f) {
    for (int i = 0; i < HEADER_LINE_MAX; ++i) {
        int c = std::fgetc(f);
        if (c == '\n') return true;
        if (c == EOF) return false;
    }
    return false;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Removes the PGM files directly in folder (the receive file and any other left over).
void remove_pgm_files(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        size_t len = std::strlen(e->d_name);
        if (len < 4 || std::strcmp(e->d_name + len - 4, ".pgm") != 0 || !valid_entry_name(e->d_name)) continue;
        struct stat st {};
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(dirfd(d), e->d_name, 0);
    }
    closedir(d);
}
}  // namespace

bool parse_pgm_header(FILE* f, PgmPage& page, std::string& why) {
    page = PgmPage{};
    if (!skip_line(f)) {
        why = "no first line";
        return false;
    }
    long width = 0, height = 0, maxval = 0;
    int next = 0;
    if (!read_number(f, width, next) || next != ' ') {
        why = "the width is not a number followed by a blank";
        return false;
    }
    if (!read_number(f, height, next)) {
        why = "the height is not a number";
        return false;
    }
    if (next == ' ') {
        if (!skip_line(f)) {
            why = "the size line does not end";
            return false;
        }
    } else if (next == '\n') {
        if (!read_number(f, maxval, next) || next != '\n') {
            why = "no maximum grey value line";
            return false;
        }
    } else {
        why = "the height is not followed by a blank or a line end";
        return false;
    }
    if (width < 1 || width > RASTER_HEAD_WIDTH) {
        why = "width " + std::to_string(width) + " is not 1.." + std::to_string(RASTER_HEAD_WIDTH);
        return false;
    }
    if (height < 1 || height > RASTER_MAX_HEIGHT) {
        why = "height " + std::to_string(height) + " is not 1.." + std::to_string(RASTER_MAX_HEIGHT);
        return false;
    }
    page.width = static_cast<int>(width);
    page.height = static_cast<int>(height);
    page.data_offset = std::ftell(f);
    return page.data_offset > 0;
}

int raster_threshold(int m) {
    if (m > 240) return m - 20;
    if (m > 200) return m - 25;
    if (m > 50) return m - 35;
    return m;
}

void raster_margins(int width, int& left, int& right) {
    int d = RASTER_HEAD_WIDTH - width;
    left = d / 16;
    right = d / 8 - d / 16;
}

bool wait_until_gone(const std::string& path, long wait_ms, int report_s) {
    using clock = std::chrono::steady_clock;
    auto start = clock::now();
    auto next_report = start + std::chrono::seconds(report_s);
    int in = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (in >= 0) inotify_add_watch(in, folder_of(path).c_str(), IN_DELETE | IN_MOVED_FROM);
    bool gone = false;
    for (;;) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            gone = true;
            break;
        }
        auto now = clock::now();
        if (wait_ms >= 0 && now - start >= std::chrono::milliseconds(wait_ms)) break;
        if (now >= next_report) {
            std::fprintf(stderr, "host_link: still waiting for %s to be taken\n", path.c_str());
            next_report = now + std::chrono::seconds(report_s);
        }
        // The folder's removal events wake the wait; a slow look covers a watch that failed.
        struct pollfd p {in, POLLIN, 0};
        if (in >= 0 && poll(&p, 1, 1000) > 0) {
            char buf[4096];
            while (read(in, buf, sizeof buf) > 0) {}
        } else if (in < 0) {
            sleep_ms(50);
        }
    }
    if (in >= 0) close(in);
    return gone;
}

int pgm_to_pbm(const std::string& pgm_path, const std::string& pbm_path) {
    FILE* in = std::fopen(pgm_path.c_str(), "rb");
    if (!in) {
        log_refusal(pgm_path, std::strerror(errno));
        return -1;
    }
    PgmPage page;
    std::string why;
    if (!parse_pgm_header(in, page, why)) {
        std::fclose(in);
        log_refusal(pgm_path, why);
        return -1;
    }
    struct stat st {};
    long long need = static_cast<long long>(page.width) * page.height;
    if (fstat(fileno(in), &st) != 0 || st.st_size - page.data_offset < need) {
        std::fclose(in);
        log_refusal(pgm_path, "the pixel data are shorter than " + std::to_string(page.width) + " x " +
                                  std::to_string(page.height));
        return -1;
    }

    // Threshold from the mean grey of the whole page.
    std::vector<uint8_t> row(static_cast<size_t>(page.width));
    unsigned long long sum = 0;
    for (int y = 0; y < page.height; ++y) {
        if (std::fread(row.data(), 1, row.size(), in) != row.size()) {
            std::fclose(in);
            log_refusal(pgm_path, "read error");
            return -1;
        }
        for (uint8_t v : row) sum += v;
    }
    int mean = static_cast<int>(sum / static_cast<unsigned long long>(need));
    int t = raster_threshold(mean);
    int left = 0, right = 0;
    raster_margins(page.width, left, right);

    // One image of this name at a time: the previous one must have been taken.
    wait_until_gone(pbm_path, -1);
    std::string tmp = folder_of(pbm_path) + "/.imge.XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        std::fclose(in);
        log_refusal(pgm_path, "cannot create " + tmp + ": " + std::strerror(errno));
        return -1;
    }
    fchmod(fd, 0666);
    FILE* out = fdopen(fd, "wb");
    if (!out) {
        close(fd);
        unlink(tmp.c_str());
        std::fclose(in);
        return -1;
    }
    std::fprintf(out, "P4\n%04d %05d\n", RASTER_HEAD_WIDTH, page.height);
    std::fseek(in, page.data_offset, SEEK_SET);
    uint8_t line[ROW_BYTES];
    bool ok = true;
    for (int y = 0; y < page.height && ok; ++y) {
        ok = std::fread(row.data(), 1, row.size(), in) == row.size();
        std::memset(line, 0, sizeof line);
        for (int x = 0; x < page.width; ++x) {
            if (row[static_cast<size_t>(x)] < t) line[left + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        ok = ok && std::fwrite(line, 1, sizeof line, out) == sizeof line;
    }
    ok = std::fflush(out) == 0 && ok;
    std::fclose(in);
    (void)right;  // the right margin is what remains of the row: already zero
    if (!ok) {
        std::fclose(out);
        unlink(tmp.c_str());
        log_refusal(pgm_path, "the dot image could not be written");
        return -1;
    }
    // Renamed while still open: the engine's close-after-write event then names the finished image.
    // Never over an image that has not been taken.
    for (;;) {
        if (renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, pbm_path.c_str(), RENAME_NOREPLACE) == 0) break;
        if (errno == EEXIST) {
            wait_until_gone(pbm_path, -1);
            continue;
        }
        if (errno == EINVAL && std::rename(tmp.c_str(), pbm_path.c_str()) == 0) break;
        std::fclose(out);
        unlink(tmp.c_str());
        log_refusal(pgm_path, "cannot rename to " + pbm_path + ": " + std::strerror(errno));
        return -1;
    }
    std::fclose(out);
    dbg("raster page %dx%d (mean %d, threshold %d) -> %s\n", page.width, page.height, mean, t, pbm_path.c_str());
    return 0;
}

void read_WIFI_CUPS() {
    dbg("Starting %s thread, port %d\n", "wlan0", RASTER_PORT);
    chmod(host_paths.dot_feeder_intake.c_str(), 0777);
    chmod("/var/spool/cups", 0777);
    host_run_shell("lprm -P print");

    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        dbg("Error in socket() creation - %s\n", std::strerror(errno));
        return;
    }
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(RASTER_PORT);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("ERROR on binding");
        std::exit(1);
    }
    listen(s, 1);
    const std::string receive = host_paths.raster_folder + "/printjob-1.pgm";
    const std::string image = host_paths.dot_feeder_intake + "/imge.pbm";
    std::vector<char> buf(4096);
    for (;;) {
        int c = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        // A host that stops sending without closing ends its page after a minute.
        struct timeval tv {60, 0};
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        wait_until_gone(receive, -1);
        FILE* f = std::fopen(receive.c_str(), "wb");
        if (!f) {
            std::perror(receive.c_str());
            close(c);
            continue;
        }
        for (;;) {
            ssize_t n = read(c, buf.data(), buf.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            std::fwrite(buf.data(), 1, static_cast<size_t>(n), f);
            std::fflush(f);
        }
        close(c);
        std::fclose(f);
        pgm_to_pbm(receive, image);
        remove_pgm_files(host_paths.raster_folder);
    }
}

void* read_WIFI_CUPS_pthrd(void*) {
    read_WIFI_CUPS();
    return nullptr;
}
