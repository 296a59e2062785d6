// Reading folders. A failed read of a folder (readdir's EOVERFLOW on a 32-bit build without
// large-file support, EIO of a failing disk) is never taken for its end: the caller hears of it
// and reports it. (A folder removed while it is read simply ends, as POSIX has it.)
#pragma once

#include <dirent.h>
#include <functional>
#include <string>

// Calls each(dir_fd, name) for every entry of folder except "." and ".."; each returns false to
// stop early. Returns 0 when the folder was read to its end (or each stopped), -1 with errno set
// when it could not be opened or a read failed part way (the entries read before the failure have
// been handed to each). dir_fd is the open folder, for the *at() calls.
int for_each_entry(const std::string& folder, const std::function<bool(int dir_fd, const char* name)>& each);

// The same for a folder already open as fd, which is taken over (closed at the end).
int for_each_entry_fd(int fd, const std::function<bool(int dir_fd, const char* name)>& each);

// Removes the entries directly inside folder that are not folders (links are removed, never
// followed), except the entry named keep. Returns the number removed, or -1 with errno set when the
// folder could not be read whole (what was read has been removed).
int remove_folder_files(const std::string& folder, const char* keep = nullptr);

// Removes everything inside folder, sub-folders too, without following links; the folder stays.
// Returns 0, or -1 with errno set when a folder could not be read whole or an entry not removed.
int remove_folder_contents(const std::string& folder);

// "<who>: cannot read folder <folder>: <errno text>" on standard error.
void report_folder_error(const char* who, const std::string& folder);

// Test seam: the readdir that for_each_entry calls (nullptr: readdir).
using ReaddirFn = struct dirent* (*)(DIR*);
void set_readdir_for_tests(ReaddirFn fn);
