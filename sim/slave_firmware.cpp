#include "slave_firmware.h"

#include <algorithm>
#include <cstring>

void FirmwareReceiver::start(const uint8_t data[4]) {
    expected_ = (size_t(data[0]) << 16) | (size_t(data[1]) << 8) | size_t(data[2]);
    image_.clear();
    done_ = false;
    active_ = expected_ > 0;
}

size_t FirmwareReceiver::take(const uint8_t* bytes, size_t n) {
    if (!active_) return 0;
    size_t k = std::min(n, expected_ - image_.size());
    image_.insert(image_.end(), bytes, bytes + k);
    if (image_.size() == expected_) {
        active_ = false;
        done_ = true;
    }
    return k;
}

std::array<uint8_t, 4> firmware_version(const std::vector<uint8_t>& image, const std::array<uint8_t, 4>& old) {
    static const char key[] = "version=";
    auto it = std::search(image.begin(), image.end(), key, key + std::strlen(key));
    if (it != image.end()) {
        std::array<uint8_t, 4> v{};
        auto p = it + long(std::strlen(key));
        bool ok = true;
        for (int i = 0; i < 4 && ok; ++i) {
            int n = 0, digits = 0;
            while (p != image.end() && *p >= '0' && *p <= '9' && digits < 3) {
                n = n * 10 + (*p - '0');
                ++p;
                ++digits;
            }
            ok = digits > 0 && n < 256;
            v[size_t(i)] = uint8_t(n);
            if (i < 3) {
                ok = ok && p != image.end() && *p == '.';
                if (ok) ++p;
            }
        }
        if (ok) return v;
    }
    std::array<uint8_t, 4> v = old;
    v[3] = uint8_t(v[3] + 1);
    return v;
}
