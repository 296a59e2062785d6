// The simulated paper: every printed dot row, 1728 dots wide, written out as a PBM (exact) and
// a PNG (for looking at).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Paper {
public:
    static constexpr int WIDTH = 1728;
    static constexpr int ROW_BYTES = WIDTH / 8;

    void add_row(const uint8_t* row);  // ROW_BYTES bytes, most significant bit leftmost, 1 = black
    size_t rows() const { return data_.size() / ROW_BYTES; }
    void clear() { data_.clear(); }
    const std::vector<uint8_t>& data() const { return data_; }

    // Both replace the file whole (temporary file + rename). A paper without rows gives a PBM of
    // height 0 and removes the PNG.
    bool write_pbm(const std::string& path) const;
    bool write_png(const std::string& path) const;

private:
    std::vector<uint8_t> data_;
};
