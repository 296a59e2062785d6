// Shared by the fuzz targets: a private temporary root for whatever a parser writes, so that a
// fuzz run never touches the machine's own folders.
#pragma once

#include <string>

// A folder of this process under $TMPDIR (or /tmp), made on first use and removed at exit.
const std::string& fuzz_root();
// A sub-folder of the root, created (with its parents) when missing.
std::string fuzz_dir(const std::string& name);
// Removes every file below a folder of the root (the folder itself stays).
void fuzz_empty_dir(const std::string& path);
