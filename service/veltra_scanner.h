// The service language's scanner: the raw bytes of a job against a fixed table of patterns.
//
// At each position the longest pattern that matches wins; of two that match equally long, the
// earlier one in the table. A pattern cut off by the end of the job does not match. Every byte that
// starts no pattern is copied to the echo stream, except a NUL byte, which is consumed silently.
#pragma once

#include "veltra_state.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class VeltraToken {
    EnterSetup,       // 1D 1A 1B 1C 1D "MODE" 01
    LeaveSetup,       // 1D 1A 1B 1C 1D "MODE" 02
    Identity,         // 1D 01 n, n 02..14
    ClearHeadLife,    // 1D 03 01 04
    Accepted1D1D,     // 1D 1D n, n 01..14
    InstallArchive,   // 1B "9" B1 B1
    TarEnable,        // "TAR_ENABLE"
    BtMac,            // "BTMAC" and 17 printable characters
    SlaveFirmware,    // 1B "@" A5 "["
    FactoryDefaults,  // 1D 02 02
    PaperSensing,     // 1D 06 n, n 01..14
    WifiMode,         // 1D 07 n, n 01..14
    Contrast,         // 1D 08 n, n 01..10
    Nul,              // 00
    Other,            // any other byte
};

struct VeltraMatch {
    VeltraToken token = VeltraToken::Other;
    size_t length = 1;  // bytes of the job taken
    int arg = 0;        // n of the patterns that carry one
};

// The longest pattern at p (avail bytes, at least 1).
VeltraMatch veltra_match(const uint8_t* p, size_t avail);
// Longest pattern of the table, in bytes: the look-ahead the scanner keeps.
size_t veltra_longest_pattern();
// Whether the pattern's action needs setup mode.
bool veltra_needs_setup(VeltraToken token);
const char* veltra_token_name(VeltraToken token);

// The bytes of a job file, read through a window that always holds the scanner's look-ahead.
class JobReader {
public:
    explicit JobReader(int fd);
    JobReader(const JobReader&) = delete;
    JobReader& operator=(const JobReader&) = delete;
    // Makes up to `want` bytes available at peek(); returns how many are (0 at the end).
    size_t fill(size_t want);
    const uint8_t* peek() const { return buf_.data() + pos_; }
    void consume(size_t n) {
        pos_ += n;
        offset_ += n;
    }
    uint64_t offset() const { return offset_; }  // bytes of the job consumed so far

private:
    int fd_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t offset_ = 0;
    bool eof_ = false;
};

// What a handler gets besides the match: the job and where the match ended in it.
struct VeltraJob {
    std::string path;
    uint64_t end_of_match = 0;
};

// Scans the job from the reader to its end (or until a handler stops the scan), dispatching each
// match to its handler.
void veltra_scan(VeltraState& s, JobReader& in, const std::string& job_path);
