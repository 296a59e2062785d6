#include "boot_steps.h"

#include "run.h"

#include <cctype>
#include <cstdio>

std::string compose_host_name(const std::string& printer_name, const std::string& serial) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s-%s", printer_name.c_str(), serial.c_str());
    return buf;
}

bool host_name_matches(const std::string& file_head, const std::string& host_name) {
    std::string head = file_head.substr(0, 32);
    std::string first = head.substr(0, head.find('\n'));
    return first == host_name;
}

std::string complete_slave_version(const std::string& text) {
    std::string v = text.substr(0, text.find_first_of("\r\n"));
    if (v.size() > 21) v.resize(21);
    size_t pos = 0;
    for (int group = 0; group < 4; ++group) {
        size_t digits = 0;
        while (pos < v.size() && std::isdigit(static_cast<unsigned char>(v[pos]))) ++pos, ++digits;
        if (digits < 2) return {};
        if (group < 3) {
            if (pos >= v.size() || v[pos] != '.') return {};
            ++pos;
        }
    }
    for (char c : v)
        if (!std::isprint(static_cast<unsigned char>(c))) return {};
    return v;
}

std::string bluetooth_address_from_line(const std::string& line) {
    std::string l = line.substr(0, line.find_first_of("\r\n"));
    // "\thci0\t00:11:22:33:44:55": the field after the adapter name.
    size_t name = l.find_first_not_of('\t');
    size_t tab = name == std::string::npos ? std::string::npos : l.find('\t', name);
    if (tab != std::string::npos) {
        std::string addr = l.substr(tab + 1);
        addr = addr.substr(0, addr.find('\t'));
        if (!addr.empty()) return addr.substr(0, 17);
    }
    return "ff:ff:ff:ff:ff:ff";
}

std::string format_mac(const unsigned char o[6]) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", o[0], o[1], o[2], o[3], o[4], o[5]);
    return std::string(buf).substr(0, 17);
}

bool write_mac_record(const std::string& path, const char* key, const std::string& address) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "[MACAddress]\n%s=%s\n", key, address.c_str());
    bool ok = std::fflush(f) == 0;
    ok = std::fclose(f) == 0 && ok;
    run_shell("sync");
    return ok;
}
