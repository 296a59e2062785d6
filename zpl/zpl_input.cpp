// Job intake thread, job-file conversion and the input ring buffer.
#include "zpl_input.h"

#include "image_builder.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

uint8_t char_buffter[RING_SIZE];
std::atomic<size_t> input_data{0};
std::atomic<size_t> printing_data{0};
uint8_t CurrentEncodingMode = 0;
std::string ENGINE_INTAKE_FOLDER = "/tmp/engine_intake";
std::string global_latest_job_path;
int (*zpl_shell)(const char* line) = [](const char* line) { return run_shell(line); };
bool zpl_stop_when_dry = false;
bool (*zpl_refill)() = nullptr;

namespace {
bool dry_seen = false;  // test mode: the ring is empty and that has been reported
// Bytes put back in front of the ring by the command thread (its own; no lock).
std::string pushed_input;
size_t pushed_pos = 0;

size_t free_between(size_t r, size_t w) {
    long d = long(r) - long(w);
    return d > 0 ? size_t(d) : size_t(d + long(RING_SIZE));
}
}  // namespace

void init_data_inbuf() {
    std::memset(char_buffter, 0, sizeof char_buffter);
    dry_seen = false;
    pushed_input.clear();
    pushed_pos = 0;
    input_data.store(0);
    printing_data.store(0);
}

size_t ring_free() { return free_between(printing_data.load(std::memory_order_acquire), input_data.load()); }

int get_char_num() { return int(RING_SIZE - ring_free()); }

void ring_put(const uint8_t* bytes, size_t n) {
    while (n > 0) {
        size_t piece = std::min(n, INTAKE_CHUNK);
        if (ring_free() <= RING_LOW_WATER) {
            while (ring_free() <= RING_RESUME) sleep_ms(10);
        }
        size_t w = input_data.load(std::memory_order_relaxed);
        size_t first = std::min(piece, RING_SIZE - w);
        std::memcpy(char_buffter + w, bytes, first);
        if (piece > first) std::memcpy(char_buffter, bytes + first, piece - first);
        // The bytes are in place before the cursor that exposes them moves.
        input_data.store((w + piece) % RING_SIZE, std::memory_order_release);
        bytes += piece;
        n -= piece;
    }
}

void push_input(const std::string& bytes) {
    pushed_input = bytes + pushed_input.substr(pushed_pos);
    pushed_pos = 0;
}

void unget_char(int c) {
    if (c >= 0) push_input(std::string(1, static_cast<char>(c)));
}

int get_datas() {
    if (pushed_pos < pushed_input.size()) {
        int c = static_cast<uint8_t>(pushed_input[pushed_pos++]);
        if (pushed_pos == pushed_input.size()) {
            pushed_input.clear();
            pushed_pos = 0;
        }
        return c;
    }
    size_t r = printing_data.load(std::memory_order_relaxed);
    if (r == input_data.load(std::memory_order_acquire)) return -1;
    int c = char_buffter[r];
    printing_data.store((r + 1) % RING_SIZE, std::memory_order_release);
    return c;
}

int get_one_char() {
    int c = get_datas();
    if (c >= 0) {
        dry_seen = false;
        return c;
    }
    if (zpl_stop_when_dry) {
        if (!dry_seen && !init_get_newpbm()) zpl_shell("/root/engine_cmd B 0");
        dry_seen = true;
        // What the intake thread would deliver while this thread waits.
        while (zpl_refill && zpl_refill()) {
            c = get_datas();
            if (c >= 0) {
                dry_seen = false;
                return c;
            }
        }
        return -1;
    }
    // The input ran dry without a label having been printed since the last time: tell the slave.
    if (!init_get_newpbm()) zpl_shell("/root/engine_cmd B 0");
    for (;;) {
        sleep_us(100);
        c = get_datas();
        if (c >= 0) return c;
    }
}

int gech() {
    for (;;) {
        int c = get_one_char();
        if (c < 0 || c >= 0x20) return c;
    }
}

namespace {
// Converts a job's bytes to GB18030 in this process. An invalid input sequence becomes "?" and
// the conversion goes on with the next character, so a stray byte never costs the rest of a job.
class JobConverter {
public:
    explicit JobConverter(uint8_t mode) : unit_(mode == 1 ? 2 : 1) {
        cd_ = iconv_open("GB18030", mode == 1 ? "UCS-2" : "UTF-8");
    }
    ~JobConverter() {
        if (ok()) iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts `in` (with any bytes held back from the last chunk) into the ring.
    void feed(const uint8_t* in, size_t n, bool last) {
        pending_.insert(pending_.end(), in, in + n);
        char* src = reinterpret_cast<char*>(pending_.data());
        size_t left = pending_.size();
        uint8_t out[4 * INTAKE_CHUNK + 16];
        while (left > 0) {
            char* dst = reinterpret_cast<char*>(out);
            size_t room = sizeof out;
            size_t r = iconv(cd_, &src, &left, &dst, &room);
            size_t made = sizeof out - room;
            if (made) ring_put(out, made);
            if (r != size_t(-1)) break;
            if (errno == E2BIG) continue;
            if (errno == EINVAL && !last) break;  // a character split over two chunks
            if (errno == EINVAL && unit_ == 2 && left < 2) {  // odd last byte of a UCS-2 job
                left = 0;
                break;
            }
            if (errno == EINVAL) {  // the job ends inside a character
                static const uint8_t question = '?';
                ring_put(&question, 1);
                left = 0;
                break;
            }
            // Invalid sequence.
            static const uint8_t question = '?';
            ring_put(&question, 1);
            size_t skip = std::min(left, unit_);
            src += skip;
            left -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            dbg("job conversion: invalid input replaced\n");
        }
        std::vector<uint8_t> rest(reinterpret_cast<uint8_t*>(src), reinterpret_cast<uint8_t*>(src) + left);
        pending_.swap(rest);
    }

private:
    iconv_t cd_;
    size_t unit_;
    std::vector<uint8_t> pending_;
};
}  // namespace

int put_data_charbuf(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return -1;
    }
    std::unique_ptr<JobConverter> conv;
    if (CurrentEncodingMode == 1 || CurrentEncodingMode == 2) {
        conv = std::make_unique<JobConverter>(CurrentEncodingMode);
        if (!conv->ok()) {
            std::perror("iconv_open");
            conv.reset();
        }
    }
    uint8_t chunk[INTAKE_CHUNK];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (conv)
            conv->feed(chunk, size_t(n), false);
        else
            ring_put(chunk, size_t(n));
    }
    if (conv) conv->feed(nullptr, 0, true);
    close(fd);
    return 0;
}

void load_image_config(const std::string& image_config_path) {
    int mode = key_int(image_config_path, "Image", "configEncoding");
    CurrentEncodingMode = (mode == 1 || mode == 2) ? uint8_t(mode) : 0;
}

void take_job_file(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        dbg("intake: %s is gone or not a file; skipped\n", path.c_str());
        return;
    }
    // Idle interpreter: leave the busy marker for whoever watches /command_intake.
    if (get_char_num() == 0) zpl_shell("echo \002B1 > /command_intake/commd-B  \n");
    set_current_contrast(get_default_contrast());
    global_latest_job_path = path;
    if (put_data_charbuf(path.c_str()) != 0) {
        std::fprintf(stderr, "ErrorOpeningFile %s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    unlink(path.c_str());
}

void* main_emulation_job_intake_pthrd(void*) {
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("Couldn't initialize inotify");
        return nullptr;
    }
    mkdir(ENGINE_INTAKE_FOLDER.c_str(), 0777);
    int wd = inotify_add_watch(fd, ENGINE_INTAKE_FOLDER.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    if (wd < 0)
        dbg("Couldn't add watch to emuIntake");
    else
        dbg("Watching:: %s\n", ENGINE_INTAKE_FOLDER.c_str());

    alignas(struct inotify_event) char buf[32768];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno != EINTR) {
                std::perror("read");
                sleep_ms(100);
            }
            continue;
        }
        for (ssize_t off = 0; off + ssize_t(sizeof(struct inotify_event)) <= n;) {
            auto* ev = reinterpret_cast<struct inotify_event*>(buf + off);
            off += ssize_t(sizeof(struct inotify_event) + ev->len);
            if (off > n) break;
            if (ev->len == 0 || ev->name[0] == '\0') continue;
            if (!(ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) || (ev->mask & IN_ISDIR)) {
                dbg("intake: event 0x%x on %s skipped\n", ev->mask, ev->name);
                continue;
            }
            take_job_file(ENGINE_INTAKE_FOLDER + "/" + ev->name);
        }
    }
    return nullptr;
}
