// Settings of the line-printer interpreter: the font map, the image settings, the named fonts and
// the logo table.
#include "quorvel.h"

#include "files.h"
#include "keyfile.h"
#include "letter_table.h"

#include <glib.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
void take(std::string& into, const std::string& value) {
    if (!value.empty()) into = value;
}

const char NAMED_FONT_LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// A logo file name as the table may hold it: a plain name inside the logo folder.
bool usable_logo_name(const std::string& name) {
    return !name.empty() && name.size() <= QUORVEL_LOGO_NAME_MAX && name.find('/') == std::string::npos &&
           name != "." && name != ".." && name.find('\0') == std::string::npos;
}

std::string trimmed(const std::string& s) {
    gchar* t = g_strstrip(g_strdup(s.c_str()));
    std::string out = t;
    g_free(t);
    return out;
}

// The logo list file as a table (entries that are not "%c=<name>" with a logo prefix are dropped).
std::array<std::string, QUORVEL_LOGOS> read_logo_list(const std::string& path) {
    std::array<std::string, QUORVEL_LOGOS> table{};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return table;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) {
        size_t n = std::strlen(buf);
        bool whole = n > 0 && buf[n - 1] == '\n';
        if (!whole && !std::feof(f)) {  // an overlong line: skip the rest of it
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {}
            continue;
        }
        int index = logo_index(static_cast<unsigned char>(buf[0]));
        if (index < 0 || n < 2 || buf[1] != '=') continue;
        std::string name = trimmed(std::string(buf + 2, n - 2));
        if (usable_logo_name(name)) table[size_t(index)] = name;
    }
    std::fclose(f);
    return table;
}
}  // namespace

void quorvel_take_global_defines(QuorvelState& q, const GlobalDefines& g) {
    take(q.paths.font_map, g.PATH_TO_QUORVEL_FONT_MAP);
    take(q.paths.logo_list, g.PATH_TO_LOGO_LIST);
    take(q.paths.font_names, g.PATH_TO_FONT_NAMES);
    take(q.paths.font_web_table, g.PATH_TO_FONT_WEB_TABLE);
    take(q.paths.image_config, g.IMAGE_CONFIG_FILEPATH);
    if (g.MAGIC_CPI_NUMERATOR > 0 && std::isfinite(g.MAGIC_CPI_NUMERATOR)) q.MAGIC_CPI_NUMERATOR = g.MAGIC_CPI_NUMERATOR;
    if (g.POINT_TO_PRINTHEAD_PIXEL > 0 && std::isfinite(g.POINT_TO_PRINTHEAD_PIXEL))
        q.POINT_TO_PRINTHEAD_PIXEL = g.POINT_TO_PRINTHEAD_PIXEL;
}

void load_font_map(QuorvelState& q) {
    KeyFile kf(q.paths.font_map);
    for (int i = 0; i < QUORVEL_PITCHES; ++i) {
        char group[16];
        std::snprintf(group, sizeof group, "FONT%d", i);
        QuorvelPitch p;  // built-in values for whatever the file lacks
        double pitch = kf.get_double(group, "PITCH");
        if (std::isfinite(pitch) && pitch >= 0.5 && pitch <= 100) p.PITCH = pitch;
        double xs = kf.get_double(group, "XSCALE"), ys = kf.get_double(group, "YSCALE");
        if (std::isfinite(xs) && xs > 0 && xs <= 10) p.XSCALE = xs;
        if (std::isfinite(ys) && ys > 0 && ys <= 10) p.YSCALE = ys;
        int weight = kf.get_int(group, "WEIGHT");
        if (weight >= 100 && weight <= 1000) p.WEIGHT = weight;
        q.mappedFonts[size_t(i)] = p;
    }
}

void load_image_settings(QuorvelState& q) {
    KeyFile kf(q.paths.image_config);
    std::string family = kf.get_string("Image", "configFontFamily");
    if (!family.empty()) q.currentFontFamily = family;
    double cpi = kf.get_double("Image", "configCPI");
    if (std::isfinite(cpi) && cpi > 0) q.configCPI = cpi;
    if (kf.has("Image", "configLineSpacing")) {
        int spacing = kf.get_int("Image", "configLineSpacing");
        if (spacing >= 0 && spacing <= 200) q.currentLineSpacing = spacing;
    }
    q.configEncoding = kf.get_int("Image", "configEncoding");
}

void load_font_table(QuorvelState& q) {
    q.font_table.clear();
    for (const std::string& line : read_letter_lines(q.paths.font_names, QUORVEL_NAMED_FONTS))
        q.font_table.push_back(trimmed(line));
    if (!q.paths.font_web_table.empty())
        rebuild_letter_table(q.paths.font_names, q.paths.font_web_table, NAMED_FONT_LETTERS);
}

void load_logo_table(QuorvelState& q) { q.logo_filenames = read_logo_list(q.paths.logo_list); }

int logo_index(int prefix) {
    if (prefix >= '0' && prefix <= '9') return prefix - '0';
    if (prefix >= 'A' && prefix <= 'L') return 10 + prefix - 'A';
    if (prefix == 'h') return 22;
    if (prefix == 'f') return 23;
    return -1;
}

int logo_prefix(int index) {
    if (index >= 0 && index <= 9) return '0' + index;
    if (index >= 10 && index <= 21) return 'A' + index - 10;
    if (index == 22) return 'h';
    if (index == 23) return 'f';
    return 0;
}

bool update_logo_table(QuorvelState& q, int prefix, const std::string& name) {
    int index = logo_index(prefix);
    if (index < 0 || !usable_logo_name(name)) return false;
    std::array<std::string, QUORVEL_LOGOS> table = read_logo_list(q.paths.logo_list);
    for (auto& entry : table)
        if (entry == name) entry.clear();
    table[size_t(index)] = name;
    std::string text;
    for (int i = 0; i < QUORVEL_LOGOS; ++i) {
        if (table[size_t(i)].empty()) continue;
        text.push_back(static_cast<char>(logo_prefix(i)));
        text += "=" + table[size_t(i)] + "\n";
    }
    q.logo_filenames = table;
    return write_file_whole(q.paths.logo_list, text);
}
