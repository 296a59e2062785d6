// The language table of the configuration page.
#include "selftest_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
// Copies at most cap bytes, never ending inside a UTF-8 character, and terminates.
void copy_bounded(char* dst, size_t cap, const std::string& src) {
    size_t n = std::min(cap, src.size());
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;  // src[n] continues a character
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}
}  // namespace

const char* LanguageTable::lookup(const char* key) const {
    for (const auto& e : entries)
        if (!e.group && std::strcmp(e.key, key) == 0) return e.value;
    return "";
}

void load_language_table(LanguageTable& table, const std::string& path) {
    table.entries.clear();
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;
    std::string line;
    for (int c = 0; c != EOF;) {
        line.clear();
        while ((c = std::fgetc(f)) != EOF && c != '\n') {
            if (line.size() < 4096) line.push_back(char(c));  // longer lines are cut
        }
        if (line.empty() && c == EOF) break;
        // Tokens between double quotes, line feeds and "=".
        std::vector<std::string> tokens;
        std::string token;
        for (char ch : line) {
            if (ch == '"' || ch == '=' || ch == '\r') {
                if (!token.empty()) tokens.push_back(token);
                token.clear();
            } else {
                token.push_back(ch);
            }
        }
        if (!token.empty()) tokens.push_back(token);
        if (tokens.empty()) continue;
        if (table.entries.size() >= LANGUAGE_ENTRIES_MAX) break;
        LanguageEntry e;
        copy_bounded(e.key, LANGUAGE_KEY_MAX, tokens[0]);
        if (tokens.size() > 1) copy_bounded(e.value, LANGUAGE_VALUE_MAX, tokens[1]);
        else e.group = true;
        table.entries.push_back(e);
    }
    std::fclose(f);
}
