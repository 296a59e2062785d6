#include "line_ring.h"

#include <algorithm>
#include <cstring>

namespace engine {

LineRing::LineRing(uint8_t* storage, size_t capacity, size_t row_bytes)
    : buf_(storage), cap_(capacity / row_bytes * row_bytes), row_(row_bytes), unused_(capacity) {}

int LineRing::pending_rows() const {
    std::lock_guard<std::mutex> lock(m_);
    return pending_;
}

bool LineRing::full() const {
    std::lock_guard<std::mutex> lock(m_);
    return in_ == out_ && pending_ != 0;
}

size_t LineRing::read_pos() const {
    std::lock_guard<std::mutex> lock(m_);
    return out_;
}
size_t LineRing::write_pos() const {
    std::lock_guard<std::mutex> lock(m_);
    return in_;
}
size_t LineRing::last_pbmbuffer_index() const {
    std::lock_guard<std::mutex> lock(m_);
    return unused_;
}

bool LineRing::find_room(size_t bytes, size_t& at) {
    if (bytes > cap_) return false;
    std::lock_guard<std::mutex> lock(m_);
    if (pending_ == 0) {
        // Nothing pending: start over at the ring's start, where every image fits.
        in_ = out_ = 0;
        at = 0;
        return true;
    }
    if (in_ > out_) {
        if (cap_ - in_ >= bytes) {
            at = in_;
            return true;
        }
        if (out_ >= bytes) {
            unused_ = cap_ - in_;
            in_ = 0;
            at = 0;
            return true;
        }
        return false;
    }
    // The writer has wrapped (or the ring is full): the room is the gap up to the reader.
    if (out_ - in_ >= bytes) {
        at = in_;
        return true;
    }
    return false;
}

void LineRing::commit(size_t at, int rows) {
    std::lock_guard<std::mutex> lock(m_);
    in_ = at + size_t(rows) * row_;
    pending_ += rows;
}

bool LineRing::commit(size_t at, int rows, uint64_t generation) {
    std::lock_guard<std::mutex> lock(m_);
    if (generation != gen_) return false;
    in_ = at + size_t(rows) * row_;
    pending_ += rows;
    return true;
}

void LineRing::clear() {
    std::lock_guard<std::mutex> lock(m_);
    in_ = out_ = 0;
    unused_ = cap_;
    pending_ = 0;
    ++gen_;
}

uint64_t LineRing::generation() const {
    std::lock_guard<std::mutex> lock(m_);
    return gen_;
}

LineRing::Span LineRing::spans(size_t want) const {
    Span s;
    if (pending_ == 0) return s;
    if (out_ < in_) {
        s.a_at = out_;
        s.a_len = std::min(want, in_ - out_);
        return s;
    }
    // Wrapped: the tail up to the unused end, then from the ring's start up to the writer.
    size_t end = cap_ - unused_;
    size_t tail = end > out_ ? end - out_ : 0;
    s.a_at = out_;
    if (want < tail) {
        s.a_len = want;
        return s;
    }
    s.a_len = tail;
    s.wraps = true;
    s.b_len = std::min(want - tail, in_);
    return s;
}

int LineRing::take(uint8_t* dst, int rows) {
    Span s;
    uint64_t gen;
    {
        std::lock_guard<std::mutex> lock(m_);
        s = spans(size_t(rows) * row_);
        gen = gen_;
    }
    std::memcpy(dst, buf_ + s.a_at, s.a_len);
    std::memcpy(dst + s.a_len, buf_, s.b_len);
    const int got = int((s.a_len + s.b_len) / row_);
    std::lock_guard<std::mutex> lock(m_);
    if (gen != gen_) return 0;  // cleared meanwhile: nothing was there to take
    pending_ -= got;
    out_ = s.wraps ? s.b_len : out_ + s.a_len;
    return got;
}

int LineRing::peek(uint8_t* dst, int rows) const {
    Span s;
    {
        std::lock_guard<std::mutex> lock(m_);
        s = spans(size_t(rows) * row_);
    }
    std::memcpy(dst, buf_ + s.a_at, s.a_len);
    std::memcpy(dst + s.a_len, buf_, s.b_len);
    return int((s.a_len + s.b_len) / row_);
}

}  // namespace engine
