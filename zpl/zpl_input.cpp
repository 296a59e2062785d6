// Job intake thread, job-file conversion and the input ring buffer.
#include "zpl_input.h"

#include "image_builder.h"
#include "job_intake.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

InputRing char_buffter(RING_LOW_WATER, RING_RESUME);
uint8_t CurrentEncodingMode = 0;
std::string ENGINE_INTAKE_FOLDER = "/tmp/engine_intake";
std::string global_latest_job_path;
int (*zpl_shell)(const char* line) = [](const char* line) { return run_shell(line); };
bool zpl_stop_when_dry = false;
bool (*zpl_refill)() = nullptr;
int binary_data_wait_ms = 3000;

namespace {
bool dry_seen = false;  // test mode: the ring is empty and that has been reported
// Bytes put back in front of the ring by the command thread (its own; no lock), kept as a stack:
// the next byte to read is the last one. Putting bytes back costs their own length only, however
// much is still waiting (a replayed format of a megabyte puts single bytes back again and again).
std::string pushed_input;
}  // namespace

void init_data_inbuf() {
    char_buffter.clear();
    dry_seen = false;
    pushed_input.clear();
    pushed_input.shrink_to_fit();
}

size_t ring_free() { return char_buffter.free_space(); }

int get_char_num() { return int(char_buffter.unread()); }

void ring_put(const uint8_t* bytes, size_t n) { char_buffter.put(bytes, n); }

void push_input(const std::string& bytes) { pushed_input.append(bytes.rbegin(), bytes.rend()); }

void unget_char(int c) {
    if (c >= 0) pushed_input.push_back(static_cast<char>(c));
}

int get_datas() {
    if (!pushed_input.empty()) {
        int c = static_cast<uint8_t>(pushed_input.back());
        pushed_input.pop_back();
        return c;
    }
    return char_buffter.get();
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
        char_buffter.wait_readable();
        c = get_datas();
        if (c >= 0) return c;
        // Woken by a job that brought no bytes: the host announced it (B 1), so the input has run
        // dry once more.
        if (!init_get_newpbm()) zpl_shell("/root/engine_cmd B 0");
    }
}

int get_declared_byte() {
    int c = get_datas();
    if (c >= 0) {
        dry_seen = false;
        return c;
    }
    if (zpl_stop_when_dry) {
        while (zpl_refill && zpl_refill()) {
            c = get_datas();
            if (c >= 0) return c;
        }
        return -1;
    }
    if (!char_buffter.wait_readable(std::chrono::milliseconds(binary_data_wait_ms))) {
        std::fprintf(stderr, "input: declared data ended after waiting %d ms\n", binary_data_wait_ms);
        return -1;
    }
    return get_datas();
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
    size_t written = char_buffter.write_cursor();
    if (put_data_charbuf(path.c_str()) != 0) {
        std::fprintf(stderr, "ErrorOpeningFile %s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    unlink(path.c_str());
    // An empty job puts nothing into the ring, which would leave the command thread asleep and
    // the slave without its B 0.
    if (char_buffter.write_cursor() == written && char_buffter.empty()) char_buffter.wake_reader();
}

void* main_emulation_job_intake_pthrd(void*) {
    JobIntake intake(ENGINE_INTAKE_FOLDER, take_job_file);
    dbg("Watching:: %s\n", ENGINE_INTAKE_FOLDER.c_str());
    intake.run();
}
