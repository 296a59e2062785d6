#include "input_ring.h"

#include <algorithm>
#include <cstring>

InputRing::InputRing(size_t low_water, size_t resume)
    : low_water_(low_water), resume_(resume), buf_(new uint8_t[SIZE]()) {}

void InputRing::clear() {
    std::memset(buf_.get(), 0, SIZE);
    w_.store(0);
    r_.store(0);
}

size_t InputRing::free_space() const {
    long d = long(r_.load()) - long(w_.load());
    return d > 0 ? size_t(d) : size_t(d + long(SIZE));
}

// Wakes the other side when it sleeps. The waiting flags and the cursors are sequentially
// consistent: either the sleeper sees the moved cursor before it sleeps, or the mover sees the
// flag and wakes it.
void InputRing::wake(std::atomic<bool>& waiting) {
    if (!waiting.load()) return;
    std::lock_guard<std::mutex> lock(m_);
    cv_.notify_all();
}

void InputRing::put(const uint8_t* bytes, size_t n) {
    while (n > 0) {
        size_t piece = std::min(n, CHUNK);
        if (free_space() <= low_water_) {
            std::unique_lock<std::mutex> lock(m_);
            writer_waiting_.store(true);
            while (!cv_.wait_for(lock, std::chrono::seconds(1), [&] { return free_space() > resume_; })) {}
            writer_waiting_.store(false);
        }
        size_t w = w_.load(std::memory_order_relaxed);
        size_t first = std::min(piece, SIZE - w);
        std::memcpy(buf_.get() + w, bytes, first);
        if (piece > first) std::memcpy(buf_.get(), bytes + first, piece - first);
        // The bytes are in place before the cursor that exposes them moves.
        w_.store((w + piece) % SIZE);
        wake(reader_waiting_);
        bytes += piece;
        n -= piece;
    }
}

int InputRing::get() {
    size_t r = r_.load(std::memory_order_relaxed);
    if (r == w_.load()) return -1;
    int c = buf_[r];
    r_.store((r + 1) % SIZE);
    // Cheap when nobody waits; the writer only waits while the ring is nearly full.
    if (writer_waiting_.load() && free_space() > resume_) wake(writer_waiting_);
    return c;
}

void InputRing::drop_unread() {
    r_.store(w_.load());
    wake(writer_waiting_);
}

void InputRing::wait_readable() {
    while (!wait_readable(std::chrono::hours(1))) {
        if (refill) return;
    }
}

bool InputRing::wait_readable(std::chrono::milliseconds limit) {
    if (!empty()) return true;
    if (reader_woken_.exchange(false)) return true;
    if (refill) {
        while (empty())
            if (!refill()) return false;
        return true;
    }
    std::unique_lock<std::mutex> lock(m_);
    reader_waiting_.store(true);
    bool got = cv_.wait_for(lock, limit, [&] { return !empty() || reader_woken_.exchange(false); });
    reader_waiting_.store(false);
    return got;
}

void InputRing::wake_reader() {
    std::lock_guard<std::mutex> lock(m_);
    reader_woken_.store(true);
    cv_.notify_all();
}
