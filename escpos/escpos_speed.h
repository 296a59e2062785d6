// The speed-pause watcher: the print engine removes "/tmp/speed_switch_pause/pause" once it has
// drained its rows after a speed change; the watcher thread sees the removal and releases
// whoever waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace escpos {

class SpeedPauseWatch {
public:
    explicit SpeedPauseWatch(std::string folder = "/tmp/speed_switch_pause") : folder_(std::move(folder)) {}
    // Creates the folder when missing and starts watching it; false when the watch fails.
    bool start();
    // Waits for deletions in the folder and releases the waiter on each one, for ever (the
    // watcher thread). Returns only when the watch failed.
    void run();
    // One batch of events, waiting up to timeout_ms (negative: without limit). Returns the
    // number of deletions seen, or -1 when the watch failed.
    int wait_events(int timeout_ms);
    // The decoding thread's side: arms the handshake before the pause file is written ...
    void arm() { speed_switch_pause.store(1); }
    // ... and waits until the print engine has removed it. False when `limit` passed first.
    bool wait_released(std::chrono::milliseconds limit);

    std::atomic<int> speed_switch_pause{1};

private:
    std::string folder_;
    int fd_ = -1;
    std::mutex m_;
    std::condition_variable cv_;
};

}  // namespace escpos
