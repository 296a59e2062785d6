// The job intake of every interpreter: the folder host_link hands job files to.
//
// Every job file is handed to the interpreter's `take` exactly once, one at a time, in the order the
// jobs arrived: first the files already waiting when the intake starts (oldest first: a job that
// arrived while the interpreter was down is not lost), then each file closed after writing or moved
// into the folder. A file that somebody still has open for writing is left alone until its writer
// closes it (its close event brings it back). `take` removes the file when it is done with it.
// The watch blocks on inotify; nothing polls.
#pragma once

#include <functional>
#include <string>
#include <vector>

class JobIntake {
public:
    using Take = std::function<void(const std::string& path)>;

    JobIntake(std::string folder, Take take);
    ~JobIntake();
    JobIntake(const JobIntake&) = delete;
    JobIntake& operator=(const JobIntake&) = delete;

    // Creates the folder when it is missing, starts watching it, then takes the files already
    // waiting. False when the watch cannot be set up (reported on standard error).
    bool start();
    // Waits up to timeout_ms (negative: no limit) for events and takes the files they name.
    // Returns how many files were taken, or -1 when the watch failed.
    int wait_and_take(int timeout_ms);
    // start(), then wait_and_take() for ever.
    [[noreturn]] void run();

    const std::string& folder() const { return folder_; }

private:
    void take_if_ready(const std::string& path);

    std::string folder_;
    Take take_;
    int fd_ = -1;
};

// The regular files of a folder that nobody has open for writing, oldest first (modification
// time, then name). A folder that cannot be read is reported and gives what was read before the
// error.
std::vector<std::string> waiting_job_files(const std::string& folder);
// True when some process has the file open for writing (it is still being written).
bool file_being_written(const std::string& path);
