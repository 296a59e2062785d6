#include "letter_table.h"

#include "files.h"

#include <cstdio>

std::vector<std::string> read_letter_lines(const std::string& list_path, size_t max_lines) {
    std::vector<std::string> lines;
    FILE* f = std::fopen(list_path.c_str(), "rb");
    if (!f) return lines;
    std::string line;
    int c;
    while (lines.size() < max_lines && (c = std::fgetc(f)) != EOF) {
        if (c == '\n') {
            line.push_back('\n');
            lines.push_back(line);
            line.clear();
            continue;
        }
        if (line.size() < LETTER_TABLE_LINE_MAX) line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && lines.size() < max_lines) lines.push_back(line);
    std::fclose(f);
    return lines;
}

std::string letter_table_text(const std::vector<std::string>& lines, const std::string& letters) {
    std::string text;
    for (size_t i = 0; i < lines.size() && i < letters.size(); ++i) {
        text.push_back(letters[i]);
        text.push_back('=');
        text += lines[i];
    }
    return text;
}

bool rebuild_letter_table(const std::string& list_path, const std::string& table_path, const std::string& letters) {
    return write_file_whole(table_path, letter_table_text(read_letter_lines(list_path, letters.size()), letters));
}
