#include "escpos_intake.h"

#include "input_ring.h"
#include "job_intake.h"
#include "settings.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace escpos {

namespace {
// UCS-2 to GB18030 in pieces: units split between two pieces wait for the next one.
class Ucs2Converter {
public:
    Ucs2Converter() : cd_(iconv_open("GB18030", "UCS-2")) {}
    ~Ucs2Converter() {
        if (ok()) iconv_close(cd_);
    }
    Ucs2Converter(const Ucs2Converter&) = delete;
    Ucs2Converter& operator=(const Ucs2Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    template <class Out>
    void feed(const uint8_t* in, size_t n, bool last, Out&& out) {
        pending_.insert(pending_.end(), in, in + n);
        char* src = reinterpret_cast<char*>(pending_.data());
        size_t left = pending_.size();
        char buf[8192];
        while (left > 0) {
            char* dst = buf;
            size_t room = sizeof buf;
            size_t r = iconv(cd_, &src, &left, &dst, &room);
            if (dst > buf) out(reinterpret_cast<const uint8_t*>(buf), size_t(dst - buf));
            if (r != size_t(-1) || errno == E2BIG) continue;
            if (errno == EINVAL && !last) break;  // a unit split over two pieces
            // An invalid unit, or the job's odd last byte.
            static const uint8_t question = '?';
            out(&question, 1);
            size_t skip = left < 2 ? left : 2;
            src += skip;
            left -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        pending_.assign(reinterpret_cast<uint8_t*>(src), reinterpret_cast<uint8_t*>(src) + left);
    }

private:
    iconv_t cd_;
    std::vector<uint8_t> pending_;
};
}  // namespace

std::string ucs2_to_gb18030(const std::string& job) {
    std::string out;
    Ucs2Converter conv;
    if (!conv.ok()) return job;
    auto put = [&](const uint8_t* b, size_t n) { out.append(reinterpret_cast<const char*>(b), n); };
    conv.feed(reinterpret_cast<const uint8_t*>(job.data()), job.size(), true, put);
    return out;
}

int put_data_charbuf(InputRing& ring, const std::string& path, int encoding_mode) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return -1;
    }
    std::unique_ptr<Ucs2Converter> conv;
    if (encoding_mode == 1) {
        conv = std::make_unique<Ucs2Converter>();
        if (!conv->ok()) {
            std::perror("iconv_open UCS-2");
            conv.reset();
        }
    }
    auto put = [&](const uint8_t* b, size_t n) { ring.put(b, n); };
    uint8_t chunk[InputRing::CHUNK];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (conv)
            conv->feed(chunk, size_t(n), false, put);
        else
            ring.put(chunk, size_t(n));
    }
    if (conv) conv->feed(nullptr, 0, true, put);
    close(fd);
    return 0;
}

void run_job_intake(InputRing& ring, const std::string& folder, int encoding_mode) {
    JobIntake intake(folder, [&](const std::string& path) {
        dbg("This Is A Normal Escpos Data File\n");
        if (put_data_charbuf(ring, path, encoding_mode) != 0) {
            std::fprintf(stderr, "escpos_interp: %s: %s\n", path.c_str(), std::strerror(errno));
            return;
        }
        unlink(path.c_str());
    });
    dbg("Watching:: %s\n", folder.c_str());
    intake.run();
}

}  // namespace escpos
