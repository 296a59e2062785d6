// The job of the RFCOMM and socket readers, and the job closer that ends it after an idle time.
//
// The reader opens and writes the job file; the closer (close_data_file) closes it once no data
// have come for the idle limit: BT_TIMEOUT_TICKS ticks of 1 ms for a streaming emulation, ten times
// that for a whole-job emulation. The state is the one the readers and the closer share:
//   input_data  1: no job open; 0: a job receives data and the closer counts idle time;
//               2: a job is open but the closer leaves it alone (it ends with its connection)
//   timer       idle ticks since the last data; a reader that loses its host sets it to 2000, so
//               that the job closes soon after.
// The file and the state are kept under one lock, so the closer never closes a file that a reader
// is writing. The closer sleeps until the idle limit can have passed instead of ticking.
#pragma once

#include "job_files.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

class WirelessJob {
public:
    enum : int { RECEIVING = 0, NO_JOB = 1, NOT_COUNTED = 2 };
    static constexpr long HANG_UP_TICKS = 2000;

    // True when the next data need a new job file (none open, or the last one was closed).
    bool needs_file();
    // Opens a job file in the style of the running emulation; false when none could be made.
    // continues: the previous file of this job was closed by size.
    bool open_file(bool continues = false);
    // Appends to the job file and flushes; a file the closer has just closed is followed by a new
    // one. False (nothing written) when no file could be made.
    bool write(const uint8_t* data, size_t length);
    // Bytes written to the current file.
    size_t count();
    bool file_is_open();
    bool streaming();

    // input_data, and the timer back to 0.
    void set_input(int value);
    int input();
    void reset_timer();
    // The host went away: the timer jumps to 2000 ticks.
    void hang_up();
    // Ends the job now: input_data 1, timer 0, reprint copy, file closed. False when none was open.
    bool close_now();

    // The closer: waits until the idle limit has passed for a receiving job, then closes it.
    // Returns after one closing (or when stop is set and the object is woken).
    void close_when_idle(const bool* stop = nullptr);
    void wake();
    // Idle limit in ticks for the running style.
    long idle_limit_ticks();

    // For tests: the clock and the limit (ticks of 1 ms).
    long timer_ticks();

private:
    using clock = std::chrono::steady_clock;
    std::mutex mutex_;
    std::condition_variable changed_;
    JobFile job_;
    int input_data_ = NO_JOB;
    clock::time_point timer_zero_ = clock::now();
};

extern WirelessJob wireless_job;

struct PackageLink;
enum class ReadVerdict;
// Stores one read of the RFCOMM or socket reader in the wireless job: the bytes read in plain
// mode, the package's payload (never its header) in packet mode. While the abort input is active,
// or without a job file, the data are dropped. Returns the bytes written.
size_t store_wireless_read(ReadVerdict verdict, PackageLink& link, const uint8_t* data, size_t length);

// Thread: the job closer of the RFCOMM and socket readers.
void* close_data_file(void*);
