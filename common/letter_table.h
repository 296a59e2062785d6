// Letter tables: a list file of names, one a line, whose n-th line is known by the n-th letter of
// a fixed alphabet (logos "A".."L", fonts "A".."Z"), and the table the web interface shows, one
// "<letter>=<line>" entry per name.
#pragma once

#include <string>
#include <vector>

inline constexpr size_t LETTER_TABLE_LINE_MAX = 255;  // bytes of a line that are kept

// The lines of the list file, each with its line end, at most letters.size() of them; a longer
// line is cut at LETTER_TABLE_LINE_MAX bytes (the rest of it is skipped, not taken as a new line).
// A missing file gives no lines.
std::vector<std::string> read_letter_lines(const std::string& list_path, size_t max_lines);
// "<letter>=<line>" for each line (lines keep their line end).
std::string letter_table_text(const std::vector<std::string>& lines, const std::string& letters);
// Reads the list and writes the table whole. False when the table cannot be written.
bool rebuild_letter_table(const std::string& list_path, const std::string& table_path, const std::string& letters);
