// The simulated slave's firmware update: the announced number of bytes is the image, the rest
// of the data port's bytes are profile blocks again; the image names the new version.
#include "slave_firmware.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {
std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(SlaveFirmware, TakesExactlyTheAnnouncedBytes) {
    FirmwareReceiver r;
    const uint8_t g[4] = {0x00, 0x01, 0x02, 0};  // 258 bytes
    r.start(g);
    ASSERT_TRUE(r.active());
    EXPECT_EQ(r.expected(), 258u);
    std::vector<uint8_t> first(200, 7), second(100, 9);
    EXPECT_EQ(r.take(first.data(), first.size()), 200u);
    EXPECT_FALSE(r.done());
    EXPECT_EQ(r.take(second.data(), second.size()), 58u) << "the rest belongs to the data port again";
    EXPECT_TRUE(r.done());
    EXPECT_FALSE(r.active());
    EXPECT_EQ(r.image().size(), 258u);
    EXPECT_EQ(r.image()[257], 9);
    EXPECT_EQ(r.take(second.data(), second.size()), 0u);
    const uint8_t empty[4] = {0, 0, 0, 0};
    r.start(empty);
    EXPECT_FALSE(r.active()) << "an empty image is nothing to wait for";
}

TEST(SlaveFirmware, TheImageNamesItsVersion) {
    std::array<uint8_t, 4> old{1, 10, 0, 0};
    EXPECT_EQ(firmware_version(bytes("\x1b@\xa5[version=1.11.0.2 rest"), old), (std::array<uint8_t, 4>{1, 11, 0, 2}));
    EXPECT_EQ(firmware_version(bytes("no version here"), old), (std::array<uint8_t, 4>{1, 10, 0, 1}));
    EXPECT_EQ(firmware_version(bytes("version=1.300.0.0"), old), (std::array<uint8_t, 4>{1, 10, 0, 1}));
    EXPECT_EQ(firmware_version(bytes("version=1.2.3"), old), (std::array<uint8_t, 4>{1, 10, 0, 1}));
}
}  // namespace
