// Job files: the bytes of one host job as host_link stores them.
//
// Streaming emulations write "/tmp/engine_intake/printjob-<1..10>" while the data arrive; the
// interpreter takes a file once it is closed. Whole-job emulations write "<job intake>/printjob-XXXXXX"
// and the job mover hands the file to the engine intake when it is complete. File names taken from
// folders never go into a shell line: files are renamed, removed, changed and copied in process.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

inline constexpr const char* ENGINE_INTAKE = "/tmp/engine_intake";
inline constexpr const char* ENGINE_INTAKE_LINK = "/engine_intake";  // the same folder
inline constexpr int STREAMING_JOB_FILES = 10;
inline constexpr size_t STREAMING_SPLIT_BYTES = 204800;  // USB: a streaming file closes beyond this
// One open job file of a reader.
struct JobFile {
    FILE* fp = nullptr;
    std::string path;
    bool streaming = false;    // the style the file was opened in
    bool continues = false;    // a piece of a job whose previous file was closed by size
    size_t count = 0;          // bytes written since the file was opened
    bool is_open() const { return fp != nullptr; }
};

// Next free "<folder>/printjob-%d", counting 1..10 and round again, waiting 5 ms between names.
// Returns nullptr when the abort input becomes active while searching. When a free name cannot be
// created the program ends with status 1 ("Can't create printjob").
FILE* create_new_date_file(std::string& path, const char* folder = ENGINE_INTAKE);

// New "<folder>/printjob-XXXXXX" opened for reading and writing; nullptr (message on standard
// error, half-made file removed) when it cannot be made. An empty folder name makes no file.
FILE* create_new_temp_file(std::string& path, const std::string& folder);

// Opens a job file for the next data of a reader in the style of the running emulation. A new
// streaming file also sends "/root/engine_cmd B 1" (queued for the shell runner, so reading goes on).
// continues: the previous file of this reader was closed by size.
bool open_job_file(JobFile& job, bool continues);

// Flushes, makes the reprint copy, closes. by_size: the job goes on in the next file.
void close_job_file(JobFile& job);

// Reprint copy of a streaming job file that is about to be closed (flushed): only with Hexconfig 1.
// The copy is taken from this very file into "<reprint folder>/printjob-1"; a piece that
// continues a job is appended to the copy, a new job replaces it.
void backup_data_file(const JobFile& job);

// ---- in-process file operations --------------------------------------------------------------

// Removes everything inside folder (recursively, links not followed) but keeps the folder.
// Refuses (returns -1) an empty or relative path, "/", and anything that is not a real folder;
// a folder that cannot be read whole, or an entry that cannot be removed, is reported and gives -1.
int empty_folder_tree(const std::string& folder);

// Removes the non-folder entries directly inside folder, except the entry named keep (if any).
// Returns the number removed, -1 (reported) when the folder cannot be read whole.
int empty_folder_files(const std::string& folder, const char* keep = nullptr);

// Copies all bytes of the open descriptor (from offset 0) to dst: truncating, or appending.
int copy_fd_to_file(int src_fd, const std::string& dst, bool append);
int copy_file(const std::string& src, const std::string& dst);

// A file name from a folder event that may be used inside that folder: not empty, no "/",
// not "." or "..".
bool valid_entry_name(const char* name);

// Moves file (in folder A) to "<dest_folder>/<name>" by rename, so the watcher of dest_folder
// sees the file moved in complete. Across file systems the file is copied to a hidden staging
// file next to dest_folder first and renamed in from there. Returns 0 or -1.
int move_into_folder(const std::string& file, const std::string& dest_folder, const char* name);
