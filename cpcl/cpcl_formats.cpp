// Stored formats: "! DF name" keeps the rest of the job as a format in a folder of its own;
// "! UF name" fills the format's "\\" placeholders with the lines that follow it and prints the
// result as if it had been sent. Names are checked; nothing outside the formats folder is read or
// written, and the filling is done here, not by other programs.
#include "cpcl_commands.h"
#include "cpcl_input.h"

#include "files.h"
#include "settings.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace cpcl {

bool valid_format_name(std::string_view name) {
    if (name.empty() || name.size() > FORMAT_NAME_MAX || name[0] == '.') return false;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string fill_format(const std::string& format, const std::string& data) {
    std::string out = format;
    size_t search = 0;
    auto fill = [&](std::string value) {
        gchar* trimmed = g_strstrip(g_strdup(value.c_str()));
        value = trimmed;
        g_free(trimmed);
        size_t at = out.find("\\\\", search);
        if (at == std::string::npos) return;
        out.replace(at, 2, value);
        search = at + value.size();  // what was put in is never a placeholder
    };
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            fill(data.substr(start));
            break;
        }
        fill(data.substr(start, end - start));
        start = end + 1;
    }
    // Placeholders without data are left blank.
    for (size_t at = out.find("\\\\", search); at != std::string::npos; at = out.find("\\\\", at)) out.erase(at, 2);
    return out;
}

namespace {
std::string format_name(const Words& w) { return w.has(2) ? w[2] : std::string(); }

// A name as it may be shown in a message.
std::string printable(const std::string& name) {
    std::string out;
    for (char c : name.substr(0, 40)) out.push_back(c >= 0x20 && c < 0x7f ? c : '?');
    return out;
}
}  // namespace

void define_format(CpclState& s, const Words& w) {
    std::string name = format_name(w);
    bool overflow = false;
    std::string format = read_rest_of_job(s, FORMAT_MAX, overflow);
    if (!valid_format_name(name)) {
        std::fprintf(stderr, "cpcl_interp: format name \"%s\" refused\n", printable(name).c_str());
        return;
    }
    if (overflow) {
        std::fprintf(stderr, "cpcl_interp: format %s is longer than %zu bytes; not stored\n", name.c_str(), FORMAT_MAX);
        return;
    }
    g_mkdir_with_parents(s.formats_dir.c_str(), 0755);
    if (!write_file_whole(s.formats_dir + "/" + name, format))
        std::fprintf(stderr, "cpcl_interp: format %s could not be stored\n", name.c_str());
}

void use_format(CpclState& s, const Words& w) {
    std::string name = format_name(w);
    bool overflow = false;
    std::string data = read_rest_of_job(s, FORMAT_MAX, overflow);
    if (!valid_format_name(name)) {
        std::fprintf(stderr, "cpcl_interp: format name \"%s\" refused\n", printable(name).c_str());
        return;
    }
    std::string path = s.formats_dir + "/" + name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > off_t(FORMAT_MAX)) {
        std::fprintf(stderr, "cpcl_interp: no format %s\n", name.c_str());
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (++s.expansions > EXPANSIONS_MAX) {
        std::fprintf(stderr, "cpcl_interp: format %s uses formats without end; not printed\n", name.c_str());
        return;
    }
    std::string job = fill_format(text.str(), data);
    if (job.size() > 4 * FORMAT_MAX) return;
    // The filled format is read next, as if the host had sent it.
    push_source(s, std::move(job), false);
}

}  // namespace cpcl
