// Whole-file replacement shared by the programs that publish files other programs read.
#pragma once

#include <string>

// Replaces a file whole: writes a temporary file next to it and renames it over, so that a
// reader sees either the old or the new content. Returns false (and leaves the file) on failure.
bool write_file_whole(const std::string& path, const std::string& data);
