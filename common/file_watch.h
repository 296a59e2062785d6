// Blocking waits on the files of a folder (inotify) in place of sleeping polls: for a hand-off
// file to appear (the profile size file) or to be removed (the previous profile or dot image, the
// contrast trigger). Every wait has a bound after which the caller looks again, so a watch that
// could not be set up (or an event lost to a full queue) costs a delay, never a hang.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class FolderWatch {
public:
    FolderWatch() = default;
    FolderWatch(const std::string& folder, uint32_t mask) { open(folder, mask); }
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the folder for the inotify events in mask. False when the watch cannot be set up
    // (the folder is missing); wait() then only sleeps.
    bool open(const std::string& folder, uint32_t mask);
    bool ok() const { return fd_ >= 0; }
    // The inotify descriptor (for a poll(2) on more than one thing); -1 without a watch.
    int fd() const { return fd_; }
    // Reads every event waiting (after a poll(2) of fd() said there are some).
    void drain();
    // Waits up to timeout_ms (negative: no limit, only with a watch) for events and reads every
    // event waiting. True when something happened.
    bool wait(int timeout_ms);

private:
    int fd_ = -1;
};

// Waits while `path` exists. Looks again at least every check_ms; ends early (false) when `stop`
// says so. True once the file is gone.
bool wait_while_exists(const std::string& path, int check_ms, const std::function<bool()>& stop = {});
