// Helpers of host_link's unit tests: temporary folders, whole files, and a package link whose
// answers are collected.
#pragma once

#include "recognisers.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "host_link_test.XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string str(const std::string& sub = "") const { return sub.empty() ? path.string() : (path / sub).string(); }
};

inline void put_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

inline std::string file_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

using Bytes = std::vector<uint8_t>;

inline Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A package: 1F 48, serial (low byte first as sent), length (low byte first), payload.
inline Bytes package(uint16_t serial, const Bytes& payload) {
    Bytes p(6 + payload.size());
    p[0] = 0x1F;
    p[1] = 0x48;
    p[2] = static_cast<uint8_t>(serial & 0xFF);
    p[3] = static_cast<uint8_t>(serial >> 8);
    p[4] = static_cast<uint8_t>(payload.size() & 0xFF);
    p[5] = static_cast<uint8_t>(payload.size() >> 8);
    for (size_t i = 0; i < payload.size(); ++i) p[6 + i] = payload[i];
    return p;
}

// A link that keeps what it answers.
struct RecordingLink {
    PackageLink link;
    Bytes answers;
    RecordingLink() {
        link.answer = [this](const uint8_t* d, size_t n) { answers.insert(answers.end(), d, d + n); };
    }
    ReadVerdict offer(const Bytes& read) { return offer_to_recognisers(link, read.data(), read.size()); }
    // The answers since the last call.
    Bytes take() {
        Bytes a;
        a.swap(answers);
        return a;
    }
};
