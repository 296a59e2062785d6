// The simulated slave's firmware update: after a G frame announcing n bytes, the next n bytes on the
// block data port are the new firmware image instead of profile blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FirmwareReceiver {
public:
    // A G frame: d0 d1 d2 are the image size (most significant first).
    void start(const uint8_t data[4]);
    bool active() const { return active_; }
    size_t expected() const { return expected_; }
    size_t received() const { return image_.size(); }
    // Takes up to what is still expected; returns how many bytes it took. When the image is
    // complete the receiver is no longer active and done() is true until the next start.
    size_t take(const uint8_t* bytes, size_t n);
    bool done() const { return done_; }
    const std::vector<uint8_t>& image() const { return image_; }

private:
    bool active_ = false, done_ = false;
    size_t expected_ = 0;
    std::vector<uint8_t> image_;
};

// The version a simulated firmware image gives the slave: the four numbers after the first
// "version=" in the image ("version=1.11.0.0"), else the old version with its last number plus 1.
std::array<uint8_t, 4> firmware_version(const std::vector<uint8_t>& image, const std::array<uint8_t, 4>& old);
