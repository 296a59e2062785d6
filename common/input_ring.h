// The input ring of the streaming interpreters (ZPL, JPL, ESC/POS, CPCL).
//
// One 512 KiB ring between exactly two threads: the job intake thread writes, the interpreter's
// command thread reads. Each cursor has a single writer and is published with release ordering, so
// a byte is taken without a lock. Neither side polls: a writer that finds the ring nearly full and
// a reader that finds it empty sleep on a condition variable until the other side moves.
//
// Hysteresis: when a chunk is about to be stored and the free space is `low_water` bytes or less,
// the writer waits until more than `resume` bytes are free.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class InputRing {
public:
    static constexpr size_t SIZE = 0x80000;  // 524288 bytes
    static constexpr size_t CHUNK = 2048;    // bytes stored per step

    InputRing(size_t low_water, size_t resume);
    InputRing(const InputRing&) = delete;
    InputRing& operator=(const InputRing&) = delete;

    // Every byte 0, both cursors at the start. Only while neither thread uses the ring.
    void clear();

    // Free space: the read cursor minus the write cursor, plus SIZE when that is zero or less.
    size_t free_space() const;
    size_t unread() const { return SIZE - free_space(); }
    bool empty() const { return unread() == 0; }

    // Writer: stores n bytes in chunks, waiting while the ring is nearly full.
    void put(const uint8_t* bytes, size_t n);

    // Reader: the next byte, or -1 when the ring is empty.
    int get();
    // Reader: waits until a byte is there. With a limit, returns false when none came in time.
    void wait_readable();
    bool wait_readable(std::chrono::milliseconds limit);
    // Reader: drops every unread byte (an abort).
    void drop_unread();
    // Writer: wakes a waiting reader without bytes (a job that brought none): its wait returns
    // true once with the ring still empty, so it can look at its idle state again.
    void wake_reader();

    size_t read_cursor() const { return r_.load(); }
    size_t write_cursor() const { return w_.load(); }
    const uint8_t* data() const { return buf_.get(); }

    // Test seam: called by a reader that would wait for data, in place of waiting. It feeds the
    // ring as the intake thread would and returns false when it has nothing more; wait_readable
    // then returns (false with a limit). Set only while the reader runs alone.
    bool (*refill)() = nullptr;

private:
    void wake(std::atomic<bool>& waiting);

    const size_t low_water_, resume_;
    std::unique_ptr<uint8_t[]> buf_;
    std::atomic<size_t> w_{0}, r_{0};
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> reader_waiting_{false}, writer_waiting_{false};
    std::atomic<bool> reader_woken_{false};  // wake_reader: the next wait returns at once
};
