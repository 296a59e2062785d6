#include "engine_watch_logic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {
CommandFrame frame(char letter, uint8_t d0 = 0, uint8_t d1 = 0, uint8_t d2 = 0, uint8_t d3 = 0) {
    return command_frame(letter, {d0, d1, d2, d3});
}
std::string pos(const PrinterStatus& s, int from, int to) { return s.str().substr(size_t(from), size_t(to - from + 1)); }
}  // namespace

TEST(EngineWatchReplies, ReplyTable) {
    for (char c : std::string("ADHLQTYZ")) EXPECT_TRUE(command_has_reply(frame(c))) << c;
    for (char c : std::string("BCEFGJKMPRSUX")) EXPECT_FALSE(command_has_reply(frame(c))) << c;
    // N: a query only with d0..d2 all zero; d3 does not matter.
    EXPECT_TRUE(command_has_reply(frame('N')));
    EXPECT_TRUE(command_has_reply(frame('N', 0, 0, 0, 5)));
    EXPECT_FALSE(command_has_reply(frame('N', 0x06, 0x40, 0, 0)));
    EXPECT_FALSE(command_has_reply(frame('N', 0, 0, 24, 8)));
    EXPECT_EQ(reply_word({0x12, 0x34, 0x56, 0x78}), 0x12345678u);
}

TEST(EngineWatchStatus, LidAndPaperErrorCodes) {
    PrinterStatus s;
    EXPECT_EQ(s.str(), "00000000000000.00.00.00");
    s.apply_status_word(0x00000003);
    EXPECT_EQ(pos(s, 0, 0), "1");
    EXPECT_EQ(pos(s, 1, 1), "0");
    EXPECT_EQ(pos(s, 2, 2), "1");
    EXPECT_EQ(pos(s, 7, 8), "01");
    s.apply_status_word(0x00000002);
    EXPECT_EQ(pos(s, 7, 8), "02");
    s.apply_status_word(0x00800000);
    EXPECT_EQ(pos(s, 0, 2), "010");
    EXPECT_EQ(pos(s, 7, 8), "04");
    s.apply_status_word(0x00000080);
    EXPECT_EQ(pos(s, 3, 3), "1");
    EXPECT_EQ(pos(s, 7, 8), "00");
    s.apply_status_word(0x08000000);
    EXPECT_EQ(pos(s, 9, 9), "1");
    EXPECT_EQ(pos(s, 3, 3), "0");
    EXPECT_EQ(s.str().size(), 23u);
}

TEST(EngineWatchStatus, LowChargeOverridesTheErrorCode) {
    PrinterStatus s;
    s.apply_query(7400, 15, 0);
    EXPECT_EQ(pos(s, 5, 6), "15");
    s.apply_status_word(0x00000003);
    EXPECT_EQ(pos(s, 7, 8), "03");
    s.apply_status_word(0);
    EXPECT_EQ(pos(s, 7, 8), "03");  // also without a lid or paper error

    PrinterStatus full;
    full.apply_query(8000, 100, 1);
    EXPECT_EQ(pos(full, 5, 6), "99");
    full.apply_status_word(0);
    EXPECT_EQ(pos(full, 7, 8), "00");
    PrinterStatus twenty;
    twenty.apply_query(8000, 20, 1);
    twenty.apply_status_word(0x1);
    EXPECT_EQ(pos(twenty, 7, 8), "01");
}

TEST(EngineWatchStatus, ChargeFilter) {
    PrinterStatus s;
    EXPECT_EQ(s.apply_query(7400, 80, 0), "07400,80,0");
    EXPECT_EQ(s.apply_query(7400, 50, 0), "07400,80,0");
    EXPECT_EQ(s.apply_query(7400, 52, 1), "07400,52,1");
    EXPECT_EQ(pos(s, 5, 6), "52");

    ChargeFilter f;
    EXPECT_EQ(f.apply(0), 0);  // zero readings do not prime the filter
    EXPECT_EQ(f.apply(0x71), 13);
    EXPECT_EQ(f.apply(0x71), 13);  // 0x71 counts as 13 afterwards too
    EXPECT_EQ(f.apply(40), 13);
    EXPECT_EQ(f.last_raw, 40);
    ChargeFilter g;
    g.apply(40);
    EXPECT_EQ(g.apply(50), 50);  // a difference of 10 is taken
    EXPECT_EQ(g.apply(61), 50);  // 11 is not
}

TEST(EngineWatchStatus, PowerStateDebounce) {
    PrinterStatus s;
    for (int i = 1; i <= 4; ++i) {
        s.apply_status_word(0x80000);
        EXPECT_EQ(pos(s, 4, 4), "0") << i;
    }
    s.apply_status_word(0x80000);
    EXPECT_EQ(pos(s, 4, 4), "1");
    // An interruption restarts the count towards "0".
    for (int i = 0; i < 4; ++i) s.apply_status_word(0);
    s.apply_status_word(0x80000);
    for (int i = 0; i < 4; ++i) s.apply_status_word(0);
    EXPECT_EQ(pos(s, 4, 4), "1");
    s.apply_status_word(0);
    EXPECT_EQ(pos(s, 4, 4), "0");
    // At once with bit 0x10000000, which also sets position 9.
    s.apply_status_word(0x10080000);
    EXPECT_EQ(pos(s, 4, 4), "1");
    EXPECT_EQ(pos(s, 9, 9), "1");
    s.apply_status_word(0x10000000);
    EXPECT_EQ(pos(s, 4, 4), "0");
}

TEST(EngineWatchStatus, ScriptsOfTheStatusBits) {
    PrinterStatus s;
    StatusActions a = s.apply_status_word(0x100);
    EXPECT_TRUE(a.create_testpage);
    EXPECT_FALSE(s.apply_status_word(0x101).create_testpage);  // lid open
    EXPECT_FALSE(s.apply_status_word(0x102).create_testpage);  // paper out

    a = s.apply_status_word(0x2800);
    EXPECT_TRUE(a.usb_net_up);
    EXPECT_FALSE(a.usb_net_down);
    a = s.apply_status_word(0x2880);  // 0x800 with 0x80 set: down instead
    EXPECT_FALSE(a.usb_net_up);
    EXPECT_TRUE(a.usb_net_down);

    EXPECT_TRUE(s.apply_status_word(0x400000).record_headlife);
    a = s.apply_status_word(0x60000000);
    EXPECT_TRUE(a.wifi_log_start);
    EXPECT_FALSE(a.wifi_log_stop);
    a = s.apply_status_word(0x40000000);
    EXPECT_TRUE(a.wifi_log_stop);
    a = s.apply_status_word(0);
    EXPECT_FALSE(a.create_testpage || a.usb_net_up || a.usb_net_down || a.record_headlife || a.wifi_log_start ||
                 a.wifi_log_stop);
}

TEST(EngineWatchStatus, Temperature) {
    PrinterStatus s;
    EXPECT_EQ(s.apply_temperature(0x0825, 0), "2085");
    EXPECT_EQ(pos(s, 10, 11), "27");
    EXPECT_NEAR(head_celsius(2085), 27.0, 0.5);
    s.apply_temperature(2085, 1);
    EXPECT_EQ(pos(s, 3, 3), "1");
    s.apply_temperature(2085, 0);
    EXPECT_EQ(pos(s, 3, 3), "0");
    // Out of range readings keep to two positions.
    EXPECT_EQ(s.apply_temperature(0, 0), "0000");
    EXPECT_EQ(pos(s, 10, 11), "00");
    s.apply_temperature(3300, 0);
    EXPECT_EQ(pos(s, 10, 11), "00");
    s.apply_temperature(65535, 0);
    EXPECT_EQ(pos(s, 10, 11), "00");
    s.apply_temperature(3000, 0);  // below freezing
    EXPECT_EQ(pos(s, 10, 11), "00");
    s.apply_temperature(500, 0);
    EXPECT_EQ(pos(s, 10, 11), "89");
    s.apply_temperature(300, 0);  // about 110 degrees: kept to two positions
    EXPECT_EQ(pos(s, 10, 11), "99");
    EXPECT_EQ(s.str().substr(12), "00.00.00.00");
}

TEST(EngineWatchStatus, FirmwareVersionPositions) {
    PrinterStatus s;
    s.set_firmware("01.05.00.00\n", 12);
    EXPECT_EQ(s.str(), "00000000000001.05.00.00");
    s.set_firmware("2.1\n", 4);  // short: only what is there, never the line end
    EXPECT_EQ(s.str().substr(12), "2.105.00.00");
}

TEST(EngineWatchReplies, VersionHeadLifeSensorsLabel) {
    EXPECT_EQ(slave_version_text({1, 10, 0, 0}), "01.10.00.00");
    EXPECT_EQ(slave_version_text({0xF2, 2, 0xF2, 200}), "13.02.13.200");

    EXPECT_EQ(headlife_sum(100, 23), 123u);
    EXPECT_EQ(headlife_sum(0xFEFFFFF0u, 0x0E), 0xFEFFFFFEu);
    EXPECT_EQ(headlife_sum(0xFEFFFFF0u, 0x0F), 0xFEFFFFF0u);
    EXPECT_EQ(headlife_sum(5, 0xFFFFFFFFu), 5u);

    EXPECT_EQ(sensor_text({0x01, 0x02, 0x00, 0x10}), "[sensors]\nfront=00258\nrear=00016\n");

    LabelSettings l = label_settings({0x06, 0x40, 24, 8});
    EXPECT_TRUE(l.store);
    EXPECT_EQ(l.LabelLength, 1600 - 24);
    EXPECT_EQ(l.GapWidth, 24);
    EXPECT_EQ(l.Sensorthreshold, 128);
    EXPECT_FALSE(label_settings({0xFF, 0xFF, 24, 8}).store);
    EXPECT_FALSE(label_settings({0x06, 0x40, 24, 0}).store);
    EXPECT_EQ(label_settings({0x00, 0x10, 0x20, 1}).LabelLength, 0xFFF0);  // 16-bit difference
}

TEST(EngineWatchFiles, WrittenWholeByRename) {
    char tmpl[] = "/tmp/engine_watch_test.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string path = dir + "/return.dat";
    ASSERT_TRUE(write_file_whole(path, "00000000000000.00.00.00"));
    ASSERT_TRUE(write_file_whole(path, "10100150300001.05.00.00"));
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "10100150300001.05.00.00");
    // No temporary files are left behind.
    std::string cmd = "test $(ls -A '" + dir + "' | wc -l) -eq 1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_FALSE(write_file_whole(dir + "/missing/x", "1"));
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}
