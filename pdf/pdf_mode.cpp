// The mode request a job may carry and the type tests of the automatic mode, all in process.
//
// A job may begin with ESC ESC and a mode byte (0x09 automatic, 0x0A PDF, 0x0B PostScript, 0x0C
// picture; any other byte: automatic with the "%!" test). The mode stays for later jobs. The three
// bytes are taken out of the job (only those three: the same bytes further on belong to the
// document), unless nothing follows them.
#include "pdf.h"

#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {
constexpr int ESC = 0x1B;
constexpr size_t HEAD_BYTES = 64;  // twelve steps read at most 37 bytes

enum class Test { none, end_resource, postscript_magic };

// Copies the job without the three bytes at `offset`, then puts the copy in its place.
bool remove_request(const std::string& job, size_t offset) {
    std::string tmp = job + ".request";
    FILE* in = std::fopen(job.c_str(), "rb");
    if (!in) return false;
    FILE* out = std::fopen(tmp.c_str(), "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    // The bytes before the request, then everything after it.
    std::vector<char> head(offset + 3);
    bool ok = std::fread(head.data(), 1, head.size(), in) == head.size() &&
              std::fwrite(head.data(), 1, offset, out) == offset;
    char buf[65536];
    size_t n;
    while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
    ok = !std::ferror(in) && ok;
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (ok) ok = std::rename(tmp.c_str(), job.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

bool starts_with(const std::string& path, const char* magic) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[8] = {};
    size_t n = std::fread(buf, 1, std::strlen(magic), f);
    std::fclose(f);
    return n == std::strlen(magic) && std::memcmp(buf, magic, n) == 0;
}
}  // namespace

ModeRequest find_mode_request(const uint8_t* head, size_t n) {
    ModeRequest r;
    size_t i = 0;
    for (int step = 0; step < 12; ++step) {
        if (i >= n) break;
        if (head[i++] != ESC) continue;
        if (i >= n) break;
        if (head[i++] != ESC) continue;  // ESC and another byte: both read, go on
        if (i >= n) break;               // no mode byte
        r.found = true;
        r.offset = i - 2;
        r.mode_byte = head[i++];
        r.followed = i < n;
        break;
    }
    return r;
}

bool file_contains(const std::string& path, const std::string& needle) {
    if (needle.empty()) return true;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<char> buf(65536 + needle.size());
    size_t kept = 0;  // the end of the last chunk, for a needle that straddles two
    bool found = false;
    size_t n;
    while (!found && (n = std::fread(buf.data() + kept, 1, buf.size() - kept, f)) > 0) {
        size_t have = kept + n;
        found = memmem(buf.data(), have, needle.data(), needle.size()) != nullptr;
        kept = std::min(have, needle.size() - 1);
        std::memmove(buf.data(), buf.data() + have - kept, kept);
    }
    std::fclose(f);
    return found;
}

RenderMode choose_render_mode(PdfState& s, const std::string& job) {
    uint8_t head[HEAD_BYTES];
    size_t n = 0;
    if (FILE* f = std::fopen(job.c_str(), "rb")) {
        n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    } else {
        dbg("Error opening %s\n", job.c_str());
    }

    Test second = Test::end_resource;
    bool automatic = true;
    RenderMode mode = RenderMode::picture;
    ModeRequest req = find_mode_request(head, n);
    if (req.found) {
        switch (req.mode_byte) {
        case 0x09: s.defaultEmulation = "AUTOIMAGE"; break;
        case 0x0A: s.defaultEmulation = "PDF"; break;
        case 0x0B: s.defaultEmulation = "POSTSCRIPT"; break;
        case 0x0C: s.defaultEmulation = "IMAGE"; break;
        default:
            s.defaultEmulation = "AUTOIMAGE";
            second = Test::postscript_magic;
            break;
        }
        if (req.followed && !remove_request(job, req.offset))
            std::fprintf(stderr, "%s: the mode request could not be removed: %s\n", job.c_str(), std::strerror(errno));
    }
    if (s.defaultEmulation == "PDF") {
        mode = RenderMode::pdf;
        automatic = false;
    } else if (s.defaultEmulation == "POSTSCRIPT") {
        mode = RenderMode::postscript;
        automatic = false;
    } else if (s.defaultEmulation == "IMAGE") {
        mode = RenderMode::picture;
        automatic = false;
    }
    // AUTOIMAGE, and any other name: decided by the content.
    if (automatic) {
        if (file_contains(job, "%PDF"))
            mode = RenderMode::pdf;
        else if (second == Test::end_resource ? file_contains(job, "EndResource") : file_contains(job, "%!"))
            mode = RenderMode::postscript;
        else if (starts_with(job, "%!"))  // a PostScript program is never a picture
            mode = RenderMode::postscript;
        else
            mode = RenderMode::picture;
    }
    return mode;
}
