#include "emulation.h"

#include "keyfile.h"
#include "run.h"
#include "settings.h"
#include "host_spawn.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

EmulationTable emulation_table;
std::function<void(const char*)> start_emulation_hook;
long emulation_switch_pause_ms = 1000;

namespace {
std::mutex emulation_mutex;
EmulationName defaultEmulation{};
EmulationName currentEmulation{};

// Copies the field [begin, end) into a name buffer, cut to 32 characters.
void copy_field(EmulationName& dst, const char* begin, const char* end) {
    size_t n = static_cast<size_t>(end - begin);
    if (n > EMULATION_NAME_MAX) n = EMULATION_NAME_MAX;
    std::memcpy(dst, begin, n);
    dst[n] = '\0';
}

bool parse_index(const char* begin, const char* end, int& index) {
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
    if (begin == end || end - begin > 9) return false;
    int v = 0;
    for (const char* p = begin; p < end; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        v = v * 10 + (*p - '0');
    }
    index = v;
    return true;
}
}  // namespace

void load_emulation_tables(EmulationTable& table, const std::string& path) {
    table.count = 0;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;
    char line[EMULATION_LINE_BUFFER];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        bool whole = len > 0 && line[len - 1] == '\n';
        if (!whole && !std::feof(f)) {
            // Over-long line: drop the rest so it does not come back as another entry.
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {}
        }
        if (len <= 1) break;  // an empty line ends the list
        if (table.count >= EMULATION_TABLE_MAX) continue;
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
        char* c1 = std::strchr(line, ',');
        if (!c1) continue;
        char* c2 = std::strchr(c1 + 1, ',');
        if (!c2) continue;
        EmulationEntry e;
        if (!parse_index(c2 + 1, line + len, e.index)) continue;
        copy_field(e.name, line, c1);
        copy_field(e.program, c1 + 1, c2);
        table.entries[table.count++] = e;
    }
    std::fclose(f);
}

bool get_indexed_emulation_name(const EmulationTable& table, int index, EmulationName& name) {
    for (size_t i = 0; i < table.count; ++i) {
        if (table.entries[i].index == index) {
            copy_emulation_name(name, table.entries[i].name);
            return true;
        }
    }
    name[0] = '\0';
    return false;
}

int emulation_style(const char* name) {
    if (std::strncmp(name, "JPL", 3) == 0 || std::strncmp(name, "ZPL", 3) == 0 ||
        std::strncmp(name, "CPCL", 4) == 0 || std::strncmp(name, "ESCPOS", 6) == 0)
        return 1;
    return 0;
}

std::string current_emulation() {
    std::lock_guard<std::mutex> lock(emulation_mutex);
    return currentEmulation;
}

std::string default_emulation() {
    std::lock_guard<std::mutex> lock(emulation_mutex);
    return defaultEmulation;
}

void set_emulation(const char* name) {
    std::lock_guard<std::mutex> lock(emulation_mutex);
    copy_emulation_name(currentEmulation, name);
    copy_emulation_name(defaultEmulation, name);
    data_continually = emulation_style(currentEmulation);
}

void load_default_emulation(const std::string& image_config_path) {
    std::string name = key_string(image_config_path, "Image", "configEmulation");
    std::lock_guard<std::mutex> lock(emulation_mutex);
    copy_emulation_name(defaultEmulation, name.c_str());
    data_continually = emulation_style(defaultEmulation);
}

void start_emulation(const char* name) {
    if (start_emulation_hook) {
        start_emulation_hook(name);
        return;
    }
    dbg("start_emulation: %s\n", name);
    host_run_argv({"/home/start_emulation.sh", name});
}

int check_emulation_switch(const uint8_t* buffer, size_t length) {
    if (length < 3 || buffer[0] != 0x1B || buffer[1] != 0x1B) return 0;
    EmulationName name;
    if (!get_indexed_emulation_name(emulation_table, buffer[2], name)) {
        dbg("no emulation has the index %d\n", buffer[2]);
        return 0;
    }
    if (std::strncmp(name, current_emulation().c_str(), EMULATION_NAME_MAX) == 0) return 0;
    start_emulation(name);
    sleep_ms(emulation_switch_pause_ms);
    set_emulation(name);
    return 1;
}
