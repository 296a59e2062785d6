// Root file system archives (checked whole before anything is touched, extracted with a backup of
// /package) and firmware images for the slave (bounded waits on the slave).
#include "veltra_firmware.h"

#include "veltra_handlers.h"

#include "keyfile.h"
#include "settings.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// ---- the tar stream ---------------------------------------------------------------------------

constexpr size_t BLOCK = 512;
constexpr uint64_t META_MAX = 1 << 20;  // long names and extended headers
constexpr size_t NAME_MAX_BYTES = 4096;

// A numeric field: octal digits (blanks and NULs around them), or base-256 when the top bit of the
// first byte is set. False for anything else.
bool parse_number(const uint8_t* f, size_t n, uint64_t& value) {
    value = 0;
    if (f[0] & 0x80) {
        if (f[0] == 0xff) return false;  // negative
        uint64_t v = f[0] & 0x7f;
        for (size_t i = 1; i < n; ++i) {
            if (v >> 55) return false;
            v = (v << 8) | f[i];
        }
        value = v;
        return true;
    }
    size_t i = 0;
    while (i < n && f[i] == ' ') ++i;
    bool digits = false;
    for (; i < n && f[i] >= '0' && f[i] <= '7'; ++i) {
        if (value >> 60) return false;
        value = value * 8 + uint64_t(f[i] - '0');
        digits = true;
    }
    for (; i < n; ++i)
        if (f[i] != ' ' && f[i] != '\0') return false;
    return digits;
}

std::string field(const uint8_t* f, size_t n) { return std::string(reinterpret_cast<const char*>(f), strnlen(reinterpret_cast<const char*>(f), n)); }

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// Why a member name cannot be extracted under the root ("" when it can).
std::string name_problem(const std::string& name) {
    if (name.empty()) return "a member without a name";
    if (name.size() > NAME_MAX_BYTES) return "a member name longer than 4096 bytes";
    if (name[0] == '/') return "the absolute member name " + name;
    for (const auto& c : components(name))
        if (c == "..") return "the member " + name + " with a \"..\" component";
    return "";
}

// Whether a relative symbolic link stored at `name` stays inside the root.
bool link_stays_inside(const std::string& name, const std::string& target) {
    int depth = 0;
    auto parts = components(name);
    parts.pop_back();  // the link itself
    for (const auto& c : parts)
        if (!c.empty() && c != ".") ++depth;
    for (const auto& c : components(target)) {
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (--depth < 0) return false;
        } else {
            ++depth;
        }
    }
    return true;
}

class TarChecker {
public:
    explicit TarChecker(std::vector<ArchiveMember>* out) : out_(out) {}

    bool feed(const uint8_t* p, size_t n) {
        while (n > 0 && why.empty()) {
            size_t take = std::min(n, BLOCK - have_);
            std::memcpy(block_ + have_, p, take);
            have_ += take;
            p += take;
            n -= take;
            if (have_ == BLOCK) {
                have_ = 0;
                block();
            }
        }
        return why.empty();
    }

    bool finish() {
        if (!why.empty()) return false;
        if (have_ != 0) why = "the tar stream is not a whole number of blocks (truncated archive)";
        else if (data_left_ > 0) why = "the archive ends inside the member " + current_;
        else if (meta_type_ != 0 || pending_name_ || pending_link_ || pax_size_set_)
            why = "the archive ends after an extended header";
        else if (members_ == 0) why = "the archive holds no member";
        return why.empty();
    }

    std::string why;

private:
    void block() {
        if (data_left_ > 0) {
            uint64_t part = std::min<uint64_t>(data_bytes_, BLOCK);
            if (meta_type_) meta_.append(reinterpret_cast<const char*>(block_), size_t(part));
            data_bytes_ -= part;
            if (--data_left_ == 0 && meta_type_) end_meta();
            return;
        }
        header();
    }

    void header() {
        if (std::all_of(block_, block_ + BLOCK, [](uint8_t b) { return b == 0; })) return;  // end marker
        uint64_t stored = 0;
        if (!parse_number(block_ + 148, 8, stored)) {
            why = "a header without a checksum (not a tar archive)";
            return;
        }
        uint64_t sum_unsigned = 0;
        int64_t sum_signed = 0;
        for (size_t i = 0; i < BLOCK; ++i) {
            uint8_t b = (i >= 148 && i < 156) ? uint8_t(' ') : block_[i];
            sum_unsigned += b;
            sum_signed += int8_t(b);
        }
        if (stored != sum_unsigned && int64_t(stored) != sum_signed) {
            why = "a header with a wrong checksum (corrupt or not a tar archive)";
            return;
        }
        bool posix = std::memcmp(block_ + 257, "ustar\0", 6) == 0;
        bool gnu = std::memcmp(block_ + 257, "ustar  \0", 8) == 0;
        if (!posix && !gnu) {
            why = "a header of an unknown tar format";
            return;
        }
        char type = char(block_[156]);
        uint64_t size = 0;
        if (!parse_number(block_ + 124, 12, size)) {
            why = "a header with a malformed size";
            return;
        }
        if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
            if (size > META_MAX) {
                why = "an extended header larger than 1 MiB";
                return;
            }
            meta_type_ = type;
            meta_.clear();
            start_data(size, "extended header");
            if (data_left_ == 0) end_meta();
            return;
        }
        ArchiveMember m;
        m.type = type == '\0' ? '0' : type;
        m.name = field(block_, 100);
        if (posix && block_[345] != 0) m.name = field(block_ + 345, 155) + "/" + m.name;
        m.link = field(block_ + 157, 100);
        m.size = size;
        if (pending_name_) m.name = name_;
        if (pending_link_) m.link = link_;
        if (pax_size_set_) m.size = pax_size_;
        pending_name_ = pending_link_ = pax_size_set_ = false;
        member(m);
    }

    void member(ArchiveMember& m) {
        std::string problem = name_problem(m.name);
        if (!problem.empty()) {
            why = problem;
            return;
        }
        switch (m.type) {
            case '0':
            case '7':
                break;
            case '5':
                break;
            case '1':
                if (!name_problem(m.link).empty()) {
                    why = "the hard link " + m.name + " to " + m.link + " outside the archive's root";
                    return;
                }
                break;
            case '2':
                if (m.link.empty()) {
                    why = "the symbolic link " + m.name + " without a target";
                    return;
                }
                if (m.link[0] == '/') {
                    why = "the absolute symbolic link " + m.name + " -> " + m.link;
                    return;
                }
                if (!link_stays_inside(m.name, m.link)) {
                    why = "the symbolic link " + m.name + " -> " + m.link + " leaving the root";
                    return;
                }
                break;
            case '3':
            case '4':
                why = "the device node " + m.name;
                return;
            case '6':
                why = "the FIFO " + m.name;
                return;
            default:
                why = std::string("the member ") + m.name + " of type '" + (m.type >= 0x20 && m.type < 0x7f ? m.type : '?') +
                      "' that this printer does not install";
                return;
        }
        // Only files carry data: a size on anything else would make tar and this check read the
        // stream differently.
        if (m.type != '0' && m.type != '7' && m.size != 0) {
            why = "the member " + m.name + " that is no file but carries data";
            return;
        }
        ++members_;
        current_ = m.name;
        start_data(m.size, m.name);
        if (out_) out_->push_back(m);
    }

    void start_data(uint64_t size, const std::string& what) {
        current_ = what;
        data_bytes_ = size;
        data_left_ = (size + BLOCK - 1) / BLOCK;
    }

    void end_meta() {
        char type = meta_type_;
        meta_type_ = 0;
        if (type == 'L' || type == 'K') {
            std::string value = meta_.substr(0, strnlen(meta_.c_str(), meta_.size()));
            if (type == 'L') {
                name_ = value;
                pending_name_ = true;
            } else {
                link_ = value;
                pending_link_ = true;
            }
            return;
        }
        // Extended header records: "<length> <key>=<value>\n".
        size_t pos = 0;
        while (pos < meta_.size() && why.empty()) {
            if (meta_[pos] == '\0') break;  // padding
            size_t space = meta_.find(' ', pos);
            if (space == std::string::npos || space == pos || space - pos > 8) {
                why = "a malformed extended header";
                return;
            }
            size_t len = 0;
            for (size_t i = pos; i < space; ++i) {
                if (meta_[i] < '0' || meta_[i] > '9') {
                    why = "a malformed extended header";
                    return;
                }
                len = len * 10 + size_t(meta_[i] - '0');
            }
            if (len < space - pos + 3 || pos + len > meta_.size() || meta_[pos + len - 1] != '\n') {
                why = "a malformed extended header";
                return;
            }
            std::string record = meta_.substr(space + 1, pos + len - 1 - (space + 1));
            pos += len;
            size_t eq = record.find('=');
            if (eq == std::string::npos) {
                why = "a malformed extended header";
                return;
            }
            std::string key = record.substr(0, eq), value = record.substr(eq + 1);
            if (key.rfind("GNU.sparse", 0) == 0) {
                why = "a sparse member";
                return;
            }
            bool names = key == "path" || key == "linkpath" || key == "size";
            if (names && type == 'g') {
                why = "a global extended header that renames members";
                return;
            }
            if (key == "path") {
                name_ = value;
                pending_name_ = true;
            } else if (key == "linkpath") {
                link_ = value;
                pending_link_ = true;
            } else if (key == "size") {
                uint64_t v = 0;
                if (value.empty() || value.size() > 18 ||
                    !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                    why = "an extended header with a malformed size";
                    return;
                }
                for (char c : value) v = v * 10 + uint64_t(c - '0');
                pax_size_ = v;
                pax_size_set_ = true;
            }
        }
    }

    std::vector<ArchiveMember>* out_;
    uint8_t block_[BLOCK] = {};
    size_t have_ = 0;
    uint64_t data_left_ = 0;   // blocks of the current member or header still to come
    uint64_t data_bytes_ = 0;  // bytes of them that are data
    char meta_type_ = 0;
    std::string meta_, current_;
    std::string name_, link_;
    bool pending_name_ = false, pending_link_ = false, pax_size_set_ = false;
    uint64_t pax_size_ = 0;
    size_t members_ = 0;
};

// ---- slave firmware -----------------------------------------------------------------------------

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The print engine (and, when the image came as a job, the USB gadget and host link) back after a
// firmware transfer.
void bring_back(VeltraState& s, bool from_job) {
    s.shell("/root/dot_feeder &");
    s.shell("/root/engine_cmd Y");
    if (from_job) {
        s.shell("modprobe g_printer");
        s.shell("/root/host_link > /dev/null 2>/dev/null &");
    }
}

// Writes the whole image to the block data port, each write bounded by the port's time-out.
bool write_image(VeltraState& s, int port, const std::string& image, std::string& why) {
    int in = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = image + ": " + std::strerror(errno);
        return false;
    }
    char buf[4096];
    bool ok = true;
    while (ok) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = image + ": " + std::strerror(errno);
            ok = false;
        }
        if (n <= 0) break;
        for (ssize_t done = 0; done < n && ok;) {
            struct pollfd p {port, POLLOUT, 0};
            int r = poll(&p, 1, s.data_port_timeout_ms);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                why = "the block data port took nothing for " + std::to_string(s.data_port_timeout_ms / 1000) + " s";
                ok = false;
                break;
            }
            ssize_t w = write(port, buf + done, size_t(n - done));
            if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (w <= 0) {
                why = s.files.data_port + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            done += w;
        }
    }
    close(in);
    return ok;
}

// Moves the first "*.fw" image of the slave firmware folder to the slave firmware path and sends
// it. False when the folder holds none or the slave did not take it.
bool send_firmware_from_folder(VeltraState& s) {
    DIR* d = opendir(s.files.slave_firmware_folder.c_str());
    if (!d) return false;
    std::vector<std::string> images;
    bool any = false;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        any = true;
        struct stat st {};
        std::string path = s.files.slave_firmware_folder + "/" + name;
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".fw") == 0 && stat(path.c_str(), &st) == 0 &&
            S_ISREG(st.st_mode))
            images.push_back(name);
    }
    closedir(d);
    if (!any) return false;
    if (images.empty()) {
        veltra_report(s, "%s holds no .fw image", s.files.slave_firmware_folder.c_str());
        return false;
    }
    std::sort(images.begin(), images.end());
    if (images.size() > 1) veltra_report(s, "%zu slave images; %s is sent", images.size(), images[0].c_str());
    std::string why;
    if (!move_file(s.files.slave_firmware_folder + "/" + images[0], s.files.slave_firmware, why)) {
        veltra_report(s, "slave image: %s", why.c_str());
        return false;
    }
    return send_slave_firmware(s, s.files.slave_firmware, false);
}

}  // namespace

bool check_archive(const std::string& path, std::string& why, std::vector<ArchiveMember>* members) {
    why.clear();
    if (members) members->clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
        close(fd);
        why = "cannot start the decompressor";
        return false;
    }
    TarChecker tar(members);
    std::vector<uint8_t> in(65536), out(65536);
    bool started = false, ended = false;
    for (;;) {
        ssize_t n = read(fd, in.data(), in.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = path + ": " + std::strerror(errno);
            break;
        }
        if (n == 0) {
            if (!started) why = "an empty file";
            else if (!ended) why = "the compressed stream is cut short (truncated archive)";
            break;
        }
        if (!started) {
            started = true;
            if (n < 2 || in[0] != 0x1f || in[1] != 0x8b) {
                why = "not a gzip file";
                break;
            }
        }
        if (ended) {
            // After the end of the compressed stream only zeros may follow.
            if (!std::all_of(in.begin(), in.begin() + n, [](uint8_t b) { return b == 0; })) {
                why = "data after the end of the compressed stream";
                break;
            }
            continue;
        }
        zs.next_in = in.data();
        zs.avail_in = uInt(n);
        while (zs.avail_in > 0 && !ended) {
            zs.next_out = out.data();
            zs.avail_out = uInt(out.size());
            int rc = inflate(&zs, Z_NO_FLUSH);
            size_t made = out.size() - zs.avail_out;
            if (made && !tar.feed(out.data(), made)) break;
            if (rc == Z_STREAM_END) {
                ended = true;
                if (!std::all_of(zs.next_in, zs.next_in + zs.avail_in, [](uint8_t b) { return b == 0; }))
                    why = "data after the end of the compressed stream";
                break;
            }
            if (rc != Z_OK) {
                why = std::string("corrupt compressed data") + (zs.msg ? std::string(" (") + zs.msg + ")" : "");
                break;
            }
        }
        if (!tar.why.empty() || !why.empty()) break;
    }
    inflateEnd(&zs);
    close(fd);
    if (why.empty() && !tar.finish()) why = tar.why;
    if (why.empty() && !tar.why.empty()) why = tar.why;
    if (!why.empty() && members) members->clear();
    return why.empty();
}

bool install_checked_archive(VeltraState& s, const std::function<void()>& before_extract) {
    std::error_code ec;
    bool had_package = exists(s.files.package);
    if (had_package) {
        if (exists(s.files.backup)) {
            veltra_report(s, "an old %s is replaced", s.files.backup.c_str());
            fs::remove_all(s.files.backup, ec);
        }
        if (rename(s.files.package.c_str(), s.files.backup.c_str()) != 0) {
            veltra_report(s, "archive not installed: %s cannot be backed up: %s", s.files.package.c_str(),
                          std::strerror(errno));
            unlink(s.files.archive.c_str());
            return false;
        }
    }
    s.shell("sync");
    if (before_extract) before_extract();
    chmod(s.files.archive.c_str(), 0777);
    int status = s.program({"tar", "xvpzf", s.files.archive, "-C", s.files.extract_root});
    unlink(s.files.archive.c_str());
    s.shell("sync");
    if (status != 0) {
        if (had_package) {
            fs::remove_all(s.files.package, ec);
            if (rename(s.files.backup.c_str(), s.files.package.c_str()) != 0)
                veltra_report(s, "%s could not be restored: %s", s.files.package.c_str(), std::strerror(errno));
        }
        s.shell("sync");
        veltra_report(s, "archive installation failed (tar ended with status %d)%s", status,
                      had_package ? "; the previous package was restored" : "");
        return false;
    }
    if (had_package) {
        if (!exists(s.files.package)) {
            // The archive brought no package: the old one stays.
            rename(s.files.backup.c_str(), s.files.package.c_str());
        } else {
            fs::remove_all(s.files.backup, ec);
        }
    }
    return true;
}

void install_archive_job(VeltraState& s, const std::string& job_path) {
    s.UPLOAD_TAR_FILE_FLAG = 0;
    std::string why;
    if (!copy_file_whole(job_path, s.files.archive, why)) {
        veltra_report(s, "archive not installed: %s", why.c_str());
        return;
    }
    if (!check_archive(s.files.archive, why)) {
        unlink(s.files.archive.c_str());
        veltra_report(s, "archive refused: %s", why.c_str());
        return;
    }
    s.shell("/root/engine_cmd S 0");
    if (install_checked_archive(s, {})) veltra_report(s, "archive installed; restarting");
    s.shell("sync");
    s.shell("reboot");
    s.parked = true;
}

void veltra_tar_enable(VeltraState& s, const VeltraMatch&, const VeltraJob&) {
    veltra_set_key(s, s.files.image_config, "Image", "configEmulation", std::string("VELTRA"));
    s.shell("sync");
    s.UPLOAD_TAR_FILE_FLAG = 1;
    veltra_draw_item(s, "upload_tar_file--OK", 0, "");
}

void veltra_install_archive_in_job(VeltraState& s, const VeltraMatch&, const VeltraJob& job) {
    s.stop_scan = true;
    // The archive starts after the line that carried the trigger.
    uint64_t start = 0;
    bool found = false;
    if (FILE* f = std::fopen(job.path.c_str(), "rb")) {
        if (fseeko(f, off_t(job.end_of_match), SEEK_SET) == 0) {
            uint64_t at = job.end_of_match;
            for (int c; (c = std::fgetc(f)) != EOF; ++at) {
                if (c == '\n') {
                    start = at + 1;
                    found = true;
                    break;
                }
            }
        }
        std::fclose(f);
    }
    if (!found) {
        veltra_report(s, "archive refused: nothing follows the line of the trigger");
        return;
    }
    std::string why;
    if (!copy_file_whole(job.path, s.files.archive, why, start)) {
        veltra_report(s, "archive not installed: %s", why.c_str());
        return;
    }
    if (!check_archive(s.files.archive, why)) {
        unlink(s.files.archive.c_str());
        veltra_report(s, "archive refused: %s", why.c_str());
        return;
    }
    bool installed = install_checked_archive(s, [&s] {
        s.shell("/root/engine_cmd R 2");
        s.shell("killall host_link");
        s.shell("killall dot_feeder");
        s.shell("killall dot_feeder_battery");
        s.shell("modprobe -r g_printer");
    });
    if (installed) {
        s.shell("cp /package/etc/init.d/S80-mystartup /etc/init.d/S80-mystartup\n");
        s.shell("sync");
        s.shell("killall engine_watch");
        s.shell("rm /command_intake/*");
        s.shell("rm /tmp/command_intake/*");
        s.sleep(200);
        s.shell("/root/engine_watch &");
        s.sleep(800);
        bool sent = send_firmware_from_folder(s);
        s.shell("sync");
        s.sleep(2000);
        if (!sent) s.shell("/root/engine_cmd S 3");
        veltra_report(s, "archive installed; restarting");
    }
    // Either way the printer starts afresh: with the new programs, or with the old ones restored.
    s.shell("reboot");
    s.parked = true;
}

void veltra_slave_firmware_job(VeltraState& s, const VeltraMatch&, const VeltraJob& job) {
    s.stop_scan = true;
    send_slave_firmware(s, job.path, true);
}

bool send_slave_firmware(VeltraState& s, const std::string& image, bool from_job) {
    s.print_out_enable_flag = 0;
    unlink(s.files.ackfile.c_str());
    s.shell("killall dot_feeder && killall dot_feeder_battery\n");
    if (from_job) {
        s.shell("killall host_link\n");
        s.shell("modprobe -r g_printer\n");
    }
    struct stat st {};
    if (stat(image.c_str(), &st) != 0 || st.st_size <= 0 || st.st_size > 0xffffff) {
        veltra_report(s, "slave firmware refused: %s is %s", image.c_str(),
                      st.st_size > 0xffffff ? "larger than 16 MiB" : "missing or empty");
        bring_back(s, from_job);
        return false;
    }
    char line[64];
    std::snprintf(line, sizeof line, "/root/engine_cmd G %x", unsigned(st.st_size));
    s.shell(line);
    long long deadline = now_ms() + s.ack_timeout_ms;
    while (!exists(s.files.ackfile)) {
        if (now_ms() >= deadline) {
            veltra_report(s, "slave firmware not sent: the slave did not acknowledge the transfer within %g s",
                          s.ack_timeout_ms / 1000.0);
            bring_back(s, from_job);
            return false;
        }
        s.sleep(10);
    }
    unlink(s.files.ackfile.c_str());
    int port = open(s.files.data_port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port < 0) {
        veltra_report(s, "slave firmware not sent: %s: %s", s.files.data_port.c_str(), std::strerror(errno));
        bring_back(s, from_job);
        return false;
    }
    std::string why;
    bool ok = write_image(s, port, image, why);
    if (ok) {
        // The slave's answer: one byte once it has the whole image.
        uint8_t answer = 0;
        bool answered = false;
        long long until = now_ms() + s.answer_timeout_ms;
        while (!answered) {
            int left = int(std::max<long long>(0, until - now_ms()));
            struct pollfd p {port, POLLIN, 0};
            int r = poll(&p, 1, left);
            if (r < 0 && errno == EINTR) continue;
            if (r > 0 && read(port, &answer, 1) == 1) answered = true;
            else if (now_ms() >= until) break;
        }
        if (answered) dbg("slave firmware: the slave answered %d\n", answer);
        else veltra_report(s, "slave firmware sent; the slave gave no answer within %d s", s.answer_timeout_ms / 1000);
    } else {
        veltra_report(s, "slave firmware not sent: %s", why.c_str());
    }
    close(port);
    if (image == s.files.slave_firmware) unlink(image.c_str());
    if (ok) veltra_report(s, "slave firmware of %lld bytes sent", (long long)st.st_size);
    if (from_job || !ok) {
        if (ok) s.shell("/root/engine_cmd D");
        bring_back(s, from_job);
    }
    return ok;
}
