// Job intake, the byte source of the command thread and the line reader.
#include "cpcl_input.h"

#include "image_builder.h"
#include "job_intake.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cpcl {

// ---- intake thread ---------------------------------------------------------------------------

void put_job_bytes(CpclInput& in, const uint8_t* bytes, size_t n) {
    in.ring.put(bytes, n);
    in.put_total += n;
}

void end_of_job(CpclInput& in) {
    {
        std::lock_guard<std::mutex> hold(in.marks_lock);
        // Boundaries the reader has passed are of no more use.
        uint64_t read = in.read_total.load();
        while (!in.job_ends.empty() && in.job_ends.front() < read) in.job_ends.pop_front();
        if ((in.job_ends.empty() || in.job_ends.back() != in.put_total) && in.job_ends.size() < 4096)
            in.job_ends.push_back(in.put_total);
    }
    in.jobs_total.store(in.put_total);
}

namespace {
// Converts a job to GB18030 in this process (iconv(3)). An invalid sequence becomes "?" and the
// conversion goes on after it, so one stray byte never costs the rest of a job.
class JobConverter {
public:
    explicit JobConverter(uint8_t mode) : unit_(mode == 1 ? 2 : 1) {
        cd_ = iconv_open("GB18030", mode == 1 ? "UCS-2" : "UTF-8");
    }
    ~JobConverter() {
        if (ok()) iconv_close(cd_);
    }
    JobConverter(const JobConverter&) = delete;
    JobConverter& operator=(const JobConverter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    void feed(CpclInput& in, const uint8_t* bytes, size_t n, bool last) {
        pending_.insert(pending_.end(), bytes, bytes + n);
        char* src = reinterpret_cast<char*>(pending_.data());
        size_t left = pending_.size();
        static const uint8_t question = '?';
        while (left > 0) {
            uint8_t out[8192];
            char* dst = reinterpret_cast<char*>(out);
            size_t room = sizeof out;
            size_t r = iconv(cd_, &src, &left, &dst, &room);
            if (room < sizeof out) put_job_bytes(in, out, sizeof out - room);
            if (r != size_t(-1)) break;
            if (errno == E2BIG) continue;
            if (errno == EINVAL && !last) break;  // a character split between two reads
            if (errno == EINVAL) {                // the job ends inside a character
                put_job_bytes(in, &question, 1);
                left = 0;
                break;
            }
            put_job_bytes(in, &question, 1);  // invalid sequence
            size_t skip = std::min(left, unit_);
            src += skip;
            left -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
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

bool feed_job_file(CpclState& s, const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return false;
    }
    std::unique_ptr<JobConverter> conv;
    if (s.encoding_mode == 1 || s.encoding_mode == 2) {
        conv = std::make_unique<JobConverter>(s.encoding_mode);
        if (!conv->ok()) {
            std::perror("iconv_open");
            conv.reset();
        }
    }
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (conv)
            conv->feed(s.in, chunk.data(), size_t(n), false);
        else
            put_job_bytes(s.in, chunk.data(), size_t(n));
    }
    if (conv) conv->feed(s.in, nullptr, 0, true);
    close(fd);
    end_of_job(s.in);
    return true;
}

void take_job_file(CpclState& s, const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        dbg("intake: %s is gone or not a file; skipped\n", path.c_str());
        return;
    }
    // An idle interpreter leaves the busy marker for whoever watches /command_intake.
    if (s.in.ring.empty() && s.shell) s.shell("echo \002B1 > /command_intake/commd-B  \n");
    if (s.set_contrast && s.default_contrast) s.set_contrast(s.default_contrast());
    if (!feed_job_file(s, path)) {
        std::fprintf(stderr, "ErrorOpeningFile %s: %s\n", path.c_str(), std::strerror(errno));
        std::fflush(stderr);
        unlink(path.c_str());  // it would only be tried again at the next start
        return;
    }
    unlink(path.c_str());
}

void run_intake(CpclState& s, const std::string& folder) {
    JobIntake intake(folder, [&s](const std::string& path) { take_job_file(s, path); });
    dbg("Watching:: %s\n", folder.c_str());
    intake.run();
}

// ---- command thread --------------------------------------------------------------------------

void reset_input(CpclState& s) {
    CpclInput& in = s.in;
    in.ring.clear();
    in.sources.clear();
    {
        std::lock_guard<std::mutex> hold(in.marks_lock);
        in.job_ends.clear();
    }
    in.put_total = 0;
    in.jobs_total.store(0);
    in.read_total.store(0);
    in.dry_signalled = false;
    in.dry_reported = false;
    s.data_start = true;
}

void push_source(CpclState& s, std::string bytes, bool sealed) {
    s.in.sources.push_back(CpclInput::Source{std::move(bytes), 0, sealed});
}

void pop_source(CpclState& s) {
    if (!s.in.sources.empty()) s.in.sources.pop_back();
}

void unget_byte(CpclState& s, int c) {
    if (c >= 0) push_source(s, std::string(1, static_cast<char>(c)), false);
}

namespace {
// Every job put into the ring has been read: the interpreter has nothing left to do.
bool all_jobs_read(const CpclInput& in) { return in.read_total.load() == in.jobs_total.load(); }

// Tells the slave once per dry spell that the input ran dry, unless a label was printed since the
// last time.
void signal_dry(CpclState& s) {
    if (s.in.dry_signalled) return;
    s.in.dry_signalled = true;
    if (!init_get_newpbm() && s.shell) s.shell("/root/engine_cmd B 0");
}

// Waits up to the idle limit for a byte (test mode: asks the ring's refill, never sleeps).
bool wait_a_while(CpclInput& in) {
    if (in.stop_when_dry) return in.ring.refill ? in.ring.wait_readable(in.idle_limit) : false;
    return in.ring.wait_readable(in.idle_limit);
}
}  // namespace

int next_byte(CpclState& s) {
    CpclInput& in = s.in;
    while (!in.sources.empty()) {
        CpclInput::Source& src = in.sources.back();
        if (src.pos < src.bytes.size()) return static_cast<uint8_t>(src.bytes[src.pos++]);
        if (src.sealed) return SOURCE_END;
        in.sources.pop_back();
    }
    for (;;) {
        int c = in.ring.get();
        if (c >= 0) {
            in.read_total.store(in.read_total.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            in.dry_signalled = false;
            in.dry_reported = false;
            s.expansions = 0;
            return c;
        }
        if (all_jobs_read(in)) signal_dry(s);
        if (in.dry_reported) {
            // Already reported: wait for the next job without a limit.
            if (in.stop_when_dry) {
                if (!(in.ring.refill && in.ring.wait_readable(in.idle_limit))) return INPUT_END;
            } else {
                in.ring.wait_readable();
            }
            continue;
        }
        if (wait_a_while(in)) continue;
        signal_dry(s);
        in.dry_reported = true;
        s.data_start = true;
        return INPUT_DRY;
    }
}

namespace {
// A line that a picture's bytes follow on: "PCX " and two numbers, "CG " or
// "COMPRESSED-GRAPHICS " and four.
int picture_fields(const std::string& line) {
    if (line == "PCX ") return 2;
    if (line == "CG " || line == "COMPRESSED-GRAPHICS ") return 4;
    return 0;
}

// Reads the numbers of a picture line: each ends at a blank, a carriage return (with the line feed
// after it) or a line feed; the picture's bytes start right after. False when the input ran out.
bool read_picture_fields(CpclState& s, int fields) {
    for (int f = 0; f < fields; ++f) {
        bool started = false;
        for (;;) {
            int c = next_byte(s);
            if (c < 0) return false;
            if (c == ' ' && !started) continue;  // blanks before a number
            if (s.line.size() < LINE_CHARS) s.line.push_back(static_cast<char>(c));
            if (c == ' ') break;
            if (c == '\n') return true;  // fewer numbers than wanted: the line ends here
            if (c == '\r') {
                int next = next_byte(s);
                if (next == '\n') {
                    if (s.line.size() < LINE_CHARS) s.line.push_back('\n');
                } else {
                    unget_byte(s, next);
                }
                return true;
            }
            started = true;
        }
    }
    return true;
}
}  // namespace

LineResult read_line(CpclState& s) {
    s.line.clear();
    s.binary_follows = false;
    if (s.data_start) {
        for (;;) {
            int c = next_byte(s);
            if (c == INPUT_DRY) return LineResult::Dry;
            if (c < 0) return LineResult::End;
            if (c == '!') break;
        }
        s.data_start = false;
        s.line.push_back('!');
    }
    while (s.line.size() < LINE_CHARS) {
        int c = next_byte(s);
        if (c < 0) {
            if (!s.line.empty()) return LineResult::Line;
            return c == INPUT_DRY ? LineResult::Dry : LineResult::End;
        }
        s.line.push_back(static_cast<char>(c));
        if (c == '\n') break;
        if (int fields = picture_fields(s.line)) {
            s.binary_follows = read_picture_fields(s, fields);
            break;
        }
    }
    return LineResult::Line;
}

std::string read_rest_of_job(CpclState& s, size_t limit, bool& overflow) {
    CpclInput& in = s.in;
    std::string out;
    overflow = false;
    auto keep = [&](char c) {
        if (out.size() < limit)
            out.push_back(c);
        else
            overflow = true;
    };
    // Reading a stored format, or the data of a replayed line: the rest of it is the job.
    while (!in.sources.empty()) {
        CpclInput::Source& src = in.sources.back();
        if (src.pos < src.bytes.size()) {
            for (; src.pos < src.bytes.size(); ++src.pos) keep(src.bytes[src.pos]);
            if (!src.sealed) in.sources.pop_back();
            return out;
        }
        if (src.sealed) return out;
        in.sources.pop_back();
    }
    for (;;) {
        {
            // The end of the job file being read.
            std::lock_guard<std::mutex> hold(in.marks_lock);
            uint64_t read = in.read_total.load();
            while (!in.job_ends.empty() && in.job_ends.front() < read) in.job_ends.pop_front();
            if (!in.job_ends.empty() && in.job_ends.front() == read) break;
        }
        int c = in.ring.get();
        if (c < 0) {
            if (wait_a_while(in)) continue;
            break;
        }
        in.read_total.store(in.read_total.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        in.dry_signalled = false;
        in.dry_reported = false;
        keep(static_cast<char>(c));
    }
    return out;
}

}  // namespace cpcl
