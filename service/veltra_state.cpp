// The service language's state, its busy check, identity and emulation tables, and file copies.
#include "veltra_state.h"

#include "keyfile.h"
#include "run.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

VeltraState::VeltraState()
    : shell([](const std::string& line) { return run_shell(line); }),
      program([](const std::vector<std::string>& argv) { return run_argv(argv); }),
      sleep([](long ms) { sleep_ms(ms); }) {}

void veltra_report(VeltraState& s, const char* fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    s.last_report = text;
    std::fprintf(stderr, "veltra_interp: %s\n", text);
    std::fflush(stderr);
}

bool check_printing_not_busy(VeltraState& s) {
    s.shell("/root/engine_cmd A");
    s.sleep(200);
    char line[24] = {};
    if (FILE* f = std::fopen(s.files.return_dat.c_str(), "r")) {
        if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
        std::fclose(f);
    }
    return !(std::strlen(line) >= 4 && line[3] == '1');
}

void load_emulation_tables(VeltraState& s) {
    s.emulation_count = 0;
    FILE* f = std::fopen(s.files.emulation_list.c_str(), "r");
    if (!f) return;
    char line[128];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] != '\n' && !std::feof(f)) {
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {}  // an over-long line is one entry
        }
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
        if (len == 0) break;  // an empty line ends the list
        if (s.emulation_count >= VELTRA_EMULATIONS_MAX) continue;
        char* first = std::strchr(line, ',');
        if (!first) continue;
        char* second = std::strchr(first + 1, ',');
        if (!second) continue;
        VeltraEmulation& e = s.emulations[s.emulation_count];
        size_t n = std::min(size_t(first - line), VELTRA_NAME_MAX);
        std::memcpy(e.name, line, n);
        e.name[n] = '\0';
        n = std::min(size_t(second - first - 1), VELTRA_NAME_MAX);
        std::memcpy(e.program, first + 1, n);
        e.program[n] = '\0';
        e.index = std::atoi(second + 1);
        ++s.emulation_count;
    }
    std::fclose(f);
}

void read_identity(VeltraState& s) {
    if (check_printing_not_busy(s)) {
        KeyFile oem(s.files.oem_config);
        s.printer_model = oem.get_string("PrinterInfo", "printerName");
        s.manufacture_INFO = oem.get_string("CompanyInfo", "companyUSBManufactuer");
        s.firmwareVersion = oem.get_string("PrinterInfo", "firmwareVersion");
        s.slaveVersion = oem.get_string("PrinterInfo", "slaveVersion");
    }
    if (check_printing_not_busy(s)) {
        KeyFile serial(s.files.serial_number);
        s.manufacture_SN = serial.get_string("Serial Number", "configSN");
        s.manufacture_DATE = serial.get_string("MANUFACTURE_DATE", "MF_DATE");
    }
}

namespace {
void save_key_file(VeltraState& s, const KeyFile& kf, const std::string& path) {
    std::string text = kf.to_data();
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fflush(f) == 0 && ok;
        if (std::fclose(f) != 0 || !ok) veltra_report(s, "%s: %s", path.c_str(), std::strerror(errno));
    }
    s.shell("sync");
}
}  // namespace

void veltra_set_key(VeltraState& s, const std::string& path, const char* group, const char* key, const std::string& value) {
    KeyFile kf(path);
    kf.set_string(group, key, value);
    save_key_file(s, kf, path);
}

void veltra_set_key(VeltraState& s, const std::string& path, const char* group, const char* key, int value) {
    KeyFile kf(path);
    kf.set_int(group, key, value);
    save_key_file(s, kf, path);
}

bool copy_file_whole(const std::string& from, const std::string& to, std::string& why, uint64_t skip) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = from + ": " + std::strerror(errno);
        return false;
    }
    if (skip > 0 && lseek(in, off_t(skip), SEEK_SET) < 0) {
        why = from + ": " + std::strerror(errno);
        close(in);
        return false;
    }
    std::string tmp = to + ".part";
    int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        why = tmp + ": " + std::strerror(errno);
        close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = from + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                why = tmp + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0 && ok) {
        why = tmp + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && rename(tmp.c_str(), to.c_str()) != 0) {
        why = to + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) unlink(tmp.c_str());
    return ok;
}

bool move_file(const std::string& from, const std::string& to, std::string& why) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) {
        why = from + ": " + std::strerror(errno);
        return false;
    }
    if (!copy_file_whole(from, to, why)) return false;
    unlink(from.c_str());
    return true;
}
