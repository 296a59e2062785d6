// The pattern table of the service language, the longest-match scanner and its dispatch.
#include "veltra_scanner.h"

#include "veltra_handlers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// One byte position of a pattern: any byte from lo to hi.
struct ByteRange {
    uint8_t lo, hi;
};

using Handler = void (*)(VeltraState&, const VeltraMatch&, const VeltraJob&);

struct Pattern {
    VeltraToken token;
    const char* name;
    bool needs_setup;
    std::vector<ByteRange> bytes;
    int arg_at;  // index of the byte that is the pattern's n, or -1
    Handler handler;
};

std::vector<ByteRange> literal(const char* text, size_t n) {
    std::vector<ByteRange> v;
    for (size_t i = 0; i < n; ++i) v.push_back({uint8_t(text[i]), uint8_t(text[i])});
    return v;
}

std::vector<ByteRange> operator+(std::vector<ByteRange> a, const std::vector<ByteRange>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<ByteRange> range(uint8_t lo, uint8_t hi, size_t count = 1) {
    return std::vector<ByteRange>(count, ByteRange{lo, hi});
}

const std::vector<Pattern>& table() {
    // In priority order: of two matches of the same length the earlier one wins.
    static const std::vector<Pattern> patterns = {
        {VeltraToken::EnterSetup, "enter setup", false, literal("\x1d\x1a\x1b\x1c\x1dMODE\x01", 10), -1,
         veltra_enter_setup},
        {VeltraToken::LeaveSetup, "leave setup", false, literal("\x1d\x1a\x1b\x1c\x1dMODE\x02", 10), -1,
         veltra_leave_setup},
        {VeltraToken::Identity, "identity line", true, literal("\x1d\x01", 2) + range(0x02, 0x14), 2,
         veltra_identity_line},
        {VeltraToken::ClearHeadLife, "clear head life", true, literal("\x1d\x03\x01\x04", 4), -1,
         veltra_clear_head_life},
        {VeltraToken::Accepted1D1D, "1D 1D n", false, literal("\x1d\x1d", 2) + range(0x01, 0x14), 2, veltra_accept},
        {VeltraToken::InstallArchive, "install archive", false, literal("\x1b" "9\xb1\xb1", 4), -1,
         veltra_install_archive_in_job},
        {VeltraToken::TarEnable, "TAR_ENABLE", false, literal("TAR_ENABLE", 10), -1, veltra_tar_enable},
        {VeltraToken::BtMac, "BTMAC", false, literal("BTMAC", 5) + range(0x20, 0x7e, 17), -1, veltra_accept},
        {VeltraToken::SlaveFirmware, "slave firmware", false, literal("\x1b@\xa5[", 4), -1,
         veltra_slave_firmware_job},
        {VeltraToken::FactoryDefaults, "factory defaults", true, literal("\x1d\x02\x02", 3), -1,
         veltra_factory_defaults},
        {VeltraToken::PaperSensing, "paper sensing", true, literal("\x1d\x06", 2) + range(0x01, 0x14), 2,
         veltra_paper_sensing},
        {VeltraToken::WifiMode, "Wi-Fi mode", true, literal("\x1d\x07", 2) + range(0x01, 0x14), 2, veltra_wifi_mode},
        {VeltraToken::Contrast, "contrast", true, literal("\x1d\x08", 2) + range(0x01, 0x10), 2, veltra_contrast},
        {VeltraToken::Nul, "NUL", false, range(0x00, 0x00), -1, nullptr},
        {VeltraToken::Other, "byte", false, range(0x00, 0xff), -1, nullptr},
    };
    return patterns;
}

const Pattern& pattern_of(VeltraToken token) {
    for (const auto& p : table())
        if (p.token == token) return p;
    return table().back();
}

bool matches(const Pattern& p, const uint8_t* bytes, size_t avail) {
    if (p.bytes.size() > avail) return false;
    for (size_t i = 0; i < p.bytes.size(); ++i)
        if (bytes[i] < p.bytes[i].lo || bytes[i] > p.bytes[i].hi) return false;
    return true;
}

}  // namespace

VeltraMatch veltra_match(const uint8_t* p, size_t avail) {
    const Pattern* best = nullptr;
    for (const auto& pattern : table()) {
        if (!matches(pattern, p, avail)) continue;
        if (!best || pattern.bytes.size() > best->bytes.size()) best = &pattern;
    }
    VeltraMatch m;
    if (!best) return m;  // avail was 0
    m.token = best->token;
    m.length = best->bytes.size();
    m.arg = best->arg_at >= 0 ? p[best->arg_at] : 0;
    return m;
}

size_t veltra_longest_pattern() {
    size_t n = 0;
    for (const auto& p : table()) n = std::max(n, p.bytes.size());
    return n;
}

bool veltra_needs_setup(VeltraToken token) { return pattern_of(token).needs_setup; }
const char* veltra_token_name(VeltraToken token) { return pattern_of(token).name; }

JobReader::JobReader(int fd) : fd_(fd), buf_(65536) {}

size_t JobReader::fill(size_t want) {
    if (end_ - pos_ < want && !eof_) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
        while (end_ < buf_.size() && end_ < want && !eof_) {
            ssize_t n = read(fd_, buf_.data() + end_, buf_.size() - end_);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                eof_ = true;
                break;
            }
            end_ += size_t(n);
        }
    }
    return std::min(want, end_ - pos_);
}

void veltra_scan(VeltraState& s, JobReader& in, const std::string& job_path) {
    const size_t lookahead = veltra_longest_pattern();
    s.stop_scan = false;
    for (;;) {
        size_t avail = in.fill(lookahead);
        if (avail == 0) break;
        VeltraMatch m = veltra_match(in.peek(), avail);
        if (m.token == VeltraToken::Other) {
            if (s.echo) std::fputc(in.peek()[0], s.echo);
            in.consume(1);
            continue;
        }
        in.consume(m.length);
        const Pattern& p = pattern_of(m.token);
        if (!p.handler) continue;                        // NUL
        if (p.needs_setup && s.SETUP_ENABLE_FLAG != 1) continue;  // ignored outside setup mode
        VeltraJob job{job_path, in.offset()};
        p.handler(s, m, job);
        if (s.stop_scan) break;
    }
    if (s.echo) std::fflush(s.echo);
}
