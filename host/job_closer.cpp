#include "job_closer.h"

#include "host_state.h"
#include "recognisers.h"
#include "settings.h"

#include <cstdio>

WirelessJob wireless_job;

bool WirelessJob::needs_file() {
    std::lock_guard<std::mutex> lock(mutex_);
    return input_data_ == NO_JOB || !job_.is_open();
}

bool WirelessJob::open_file(bool continues) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job_.is_open()) close_job_file(job_);
    return open_job_file(job_, continues);
}

bool WirelessJob::write(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Closed by the closer since the reader looked: the data go on in a new file, never dropped.
    if (!job_.is_open() && !open_job_file(job_, true)) return false;
    std::fwrite(data, 1, length, job_.fp);
    std::fflush(job_.fp);
    job_.count += length;
    return true;
}

size_t WirelessJob::count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return job_.count;
}

bool WirelessJob::file_is_open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return job_.is_open();
}

bool WirelessJob::streaming() {
    std::lock_guard<std::mutex> lock(mutex_);
    return job_.is_open() ? job_.streaming : data_continually != 0;
}

void WirelessJob::set_input(int value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input_data_ = value;
        timer_zero_ = clock::now();
    }
    changed_.notify_all();
}

int WirelessJob::input() {
    std::lock_guard<std::mutex> lock(mutex_);
    return input_data_;
}

void WirelessJob::reset_timer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timer_zero_ = clock::now();
    }
    changed_.notify_all();
}

void WirelessJob::hang_up() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timer_zero_ = clock::now() - std::chrono::milliseconds(HANG_UP_TICKS);
    }
    changed_.notify_all();
}

bool WirelessJob::close_now() {
    bool was_open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input_data_ = NO_JOB;
        timer_zero_ = clock::now();
        was_open = job_.is_open();
        close_job_file(job_);
    }
    changed_.notify_all();
    return was_open;
}

long WirelessJob::idle_limit_ticks() {
    bool streaming_job = job_.is_open() ? job_.streaming : data_continually != 0;
    long ticks = host_settings.BT_TIMEOUT_TICKS;
    return streaming_job ? ticks : ticks * 10;
}

long WirelessJob::timer_ticks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - timer_zero_).count();
}

void WirelessJob::wake() { changed_.notify_all(); }

void WirelessJob::close_when_idle(const bool* stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return input_data_ == RECEIVING || (stop && *stop); });
        if (stop && *stop) return;
        // The timer must exceed the limit: closed at limit + 1 ticks after the last data.
        auto deadline = timer_zero_ + std::chrono::milliseconds(idle_limit_ticks() + 1);
        if (clock::now() < deadline) {
            changed_.wait_until(lock, deadline);
            continue;  // look again: data may have reset the timer meanwhile
        }
        timer_zero_ = clock::now();
        if (job_.is_open()) {
            close_job_file(job_);
            input_data_ = NO_JOB;
            dbg("***End of job2.\n");
            return;
        }
    }
}

void* close_data_file(void*) {
    name_thread("job_closer");
    for (;;) wireless_job.close_when_idle();
}

size_t store_wireless_read(ReadVerdict verdict, PackageLink& link, const uint8_t* data, size_t length) {
    const uint8_t* bytes = data;
    size_t n = length;
    if (verdict == ReadVerdict::package_complete) {
        bytes = link.payload();
        n = link.payload_length();
    }
    bool stored = !abort_flag && wireless_job.write(bytes, n);
    link.reset_package();
    return stored ? n : 0;
}
