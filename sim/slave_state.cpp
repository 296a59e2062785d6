#include "slave_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {
bool parse_long(const std::string& v, int base, long long lo, long long hi, long long& out) {
    if (v.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long x = std::strtoll(v.c_str(), &end, base);
    if (errno || *end != '\0' || x < lo || x > hi) return false;
    out = x;
    return true;
}

bool parse_int(const std::string& v, long long lo, long long hi, int& out) {
    long long x;
    // Decimal, or hexadecimal with 0x.
    if (!parse_long(v, 0, lo, hi, x)) return false;
    out = int(x);
    return true;
}

bool parse_hex32(const std::string& v, uint32_t& out) {
    std::string t = v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0 ? v.substr(2) : v;
    long long x;
    if (t.size() > 8 || !parse_long(t, 16, 0, 0xFFFFFFFFll, x)) return false;
    out = uint32_t(x);
    return true;
}

std::string hex8(uint32_t w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", w);
    return buf;
}
}  // namespace

bool SlaveState::set(const std::string& key, const std::string& value, std::string& error) {
    auto bad = [&] {
        error = "bad value for " + key + ": " + value;
        return false;
    };
    int i = 0;
    if (key == "status") {
        if (!parse_hex32(value, status)) return bad();
    } else if (key == "headlife") {
        long long x;
        if (!parse_long(value, 0, 0, 0xFFFFFFFFll, x)) return bad();
        headlife = uint32_t(x);
    } else if (key == "version") {
        unsigned a, b, c, d;
        char extra;
        if (std::sscanf(value.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 ||
            c > 255 || d > 255)
            return bad();
        version = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
    } else if (key == "layout") {
        if (value != "auto" && value != "normal" && value != "battery") return bad();
        layout = value;
    } else if (key.size() == 7 && key.rfind("reply_", 0) == 0) {
        char letter = key[6];
        if (value.empty()) {
            reply_override.erase(letter);
            return true;
        }
        uint32_t w;
        if (value.size() != 8 || !parse_hex32(value, w)) return bad();
        reply_override[letter] = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)};
    } else {
        struct Field {
            const char* name;
            int* target;
            long long lo, hi;
        };
        int silent_i = silent, fast_i = fast;
        const Field fields[] = {
            {"battery", &battery, 0, 0xFFFF},     {"charge", &charge, 0, 255},
            {"charging", &charging, 0, 255},      {"thermistor", &thermistor, 0, 0xFFFF},
            {"thermflag", &thermflag, 0, 255},    {"power", &power, 0, 255},
            {"run", &run, 0, 255},                {"front", &front, 0, 0xFFFF},
            {"rear", &rear, 0, 0xFFFF},           {"label_length", &label_length, 0, 0xFFFF},
            {"label_gap", &label_gap, 0, 255},    {"label_threshold", &label_threshold, 0, 255},
            {"silent", &silent_i, 0, 1},          {"delay", &delay, 0, 60000},
            {"delay_for", &delay_for, 0, 3600},
            {"fast", &fast_i, 0, 1},              {"buffer", &buffer, 1, 20},
        };
        for (const auto& f : fields) {
            if (key != f.name) continue;
            if (!parse_int(value, f.lo, f.hi, i)) return bad();
            *f.target = i;
            silent = silent_i;
            fast = fast_i;
            return true;
        }
        error = "unknown key " + key;
        return false;
    }
    return true;
}

std::string SlaveState::text() const {
    std::ostringstream o;
    o << "status=" << hex8(status) << "\n"
      << "battery=" << battery << "\ncharge=" << charge << "\ncharging=" << charging << "\n"
      << "thermistor=" << thermistor << "\nthermflag=" << thermflag << "\n"
      << "version=" << int(version[0]) << "." << int(version[1]) << "." << int(version[2]) << "."
      << int(version[3]) << "\n"
      << "power=" << power << "\nheadlife=" << headlife << "\nrun=" << run << "\n"
      << "front=" << front << "\nrear=" << rear << "\n"
      << "label_length=" << label_length << "\nlabel_gap=" << label_gap << "\nlabel_threshold=" << label_threshold
      << "\n"
      << "silent=" << int(silent) << "\ndelay=" << delay << "\ndelay_for=" << delay_for << "\nfast=" << int(fast) << "\nlayout=" << layout
      << "\nbuffer=" << buffer << "\n";
    for (const auto& [letter, r] : reply_override)
        o << "reply_" << letter << "=" << hex8((uint32_t(r[0]) << 24) | (r[1] << 16) | (r[2] << 8) | r[3]) << "\n";
    return o.str();
}

std::string SlaveState::get(const std::string& key) const {
    std::istringstream in(text());
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

bool slave_reply(const SlaveState& s, char letter, const uint8_t data[4], SimReply& out) {
    bool has;
    switch (letter) {
        case 'A': case 'D': case 'H': case 'L': case 'Q': case 'T': case 'Y': case 'Z':
            has = true;
            break;
        case 'N':
            has = data[0] == 0 && data[1] == 0 && data[2] == 0;
            break;
        default:
            has = false;
    }
    if (!has) return false;
    auto o = s.reply_override.find(letter);
    if (o != s.reply_override.end()) {
        out = o->second;
        return true;
    }
    auto u16 = [](int v, uint8_t& hi, uint8_t& lo) {
        hi = uint8_t(v >> 8);
        lo = uint8_t(v);
    };
    out = {0, 0, 0, 0};
    switch (letter) {
        case 'A':
        case 'H': {
            uint32_t w = letter == 'A' ? s.status : s.headlife;
            out = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)};
            break;
        }
        case 'D':
            out = s.version;
            break;
        case 'L':
            u16(s.front, out[0], out[1]);
            u16(s.rear, out[2], out[3]);
            break;
        case 'N':
            u16(s.label_length, out[0], out[1]);
            out[2] = uint8_t(s.label_gap);
            out[3] = uint8_t(s.label_threshold);
            break;
        case 'Q':
            u16(s.battery, out[0], out[1]);
            out[2] = uint8_t(s.charge);
            out[3] = uint8_t(s.charging);
            break;
        case 'T':
            u16(s.thermistor, out[0], out[1]);
            out[2] = uint8_t(s.thermflag);
            break;
        case 'Y':
            out[0] = uint8_t(s.power);
            break;
        case 'Z':
            out[0] = uint8_t(s.run);
            break;
    }
    return true;
}
