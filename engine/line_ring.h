// The line ring: dot rows of the images waiting to be cut into blocks.
//
// The intake thread writes whole images at the write position; the block cutter takes rows at the
// read position. An image is always stored in one piece: when it does not fit between the write
// position and the ring's end, the writer wraps to the ring's start (the bytes left over at the
// end are remembered in last_pbmbuffer_index) once the reader is far enough ahead. When the ring
// is empty both positions go back to the start, so an image as large as the ring always fits.
//
// Positions, the pending row count and the wrap record change only under the ring's mutex; the
// rows themselves are copied outside it (the writer fills free bytes, the reader copies pending
// ones, so the two never touch the same bytes).
//
// clear() drops every pending row (an abort, a dropped job) and starts a new generation: rows the
// writer was still copying for the old one are not committed (commit with the generation that
// find_room gave), and a reader that was copying sees nothing taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace engine {

class LineRing {
public:
    LineRing(uint8_t* storage, size_t capacity, size_t row_bytes);

    uint8_t* data() { return buf_; }
    size_t capacity() const { return cap_; }
    size_t row_bytes() const { return row_; }

    // Rows written and not yet taken (pbm_job_height).
    int pending_rows() const;
    // Read and write positions equal with rows pending.
    bool full() const;

    // Writer: finds room for `bytes` (a whole number of rows, at most the capacity). Returns
    // false when the image must wait for the reader; true with the offset to write at otherwise.
    // May move the write position to the ring's start (wrap) or, on an empty ring, both positions.
    bool find_room(size_t bytes, size_t& at);
    // Writer: the rows written at `at` are now pending.
    void commit(size_t at, int rows);
    // The same, unless the ring was cleared since `generation` was read: then nothing is committed
    // and the result is false.
    bool commit(size_t at, int rows, uint64_t generation);

    // Drops every pending row: both positions back to the start, a new generation. The caller keeps
    // the reader from copying meanwhile (its rows could be overwritten by the next image).
    void clear();
    uint64_t generation() const;

    // Reader (get_one_pbmblock): copies up to `rows` rows into dst and consumes them.
    int take(uint8_t* dst, int rows);
    // Reader (add_ramp_dotline): copies up to `rows` rows into dst without consuming them.
    int peek(uint8_t* dst, int rows) const;

    // For tests and diagnostics.
    size_t read_pos() const;
    size_t write_pos() const;
    size_t last_pbmbuffer_index() const;

private:
    struct Span {
        size_t a_at = 0, a_len = 0, b_len = 0;  // [a_at, a_at + a_len) then [0, b_len)
        bool wraps = false;                     // the tail is used up: reading goes on at the start
    };
    Span spans(size_t want) const;  // under the mutex

    uint8_t* buf_;
    size_t cap_;
    size_t row_;
    mutable std::mutex m_;
    size_t in_ = 0;        // pbm_input
    size_t out_ = 0;       // pbm_output
    size_t unused_;        // last_pbmbuffer_index
    int pending_ = 0;      // pbm_job_height
    uint64_t gen_ = 0;
};

}  // namespace engine
