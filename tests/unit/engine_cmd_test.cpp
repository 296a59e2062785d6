#include "engine_cmd_frame.h"

#include <gtest/gtest.h>

namespace {
CommandFrame frame(char letter, const char* a2, const char* a3, const EngineCmdSettings& s = {}) {
    auto f = engine_cmd_frame(letter, a2, a3, s);
    EXPECT_TRUE(f.has_value()) << letter;
    return f.value_or(CommandFrame{});
}
}  // namespace

TEST(EngineCmdFrame, JobAndUpdateTakeHexArguments) {
    EXPECT_EQ(frame('J', "1a2b3c", "ff"), (CommandFrame{0x02, 'J', 0x1A, 0x2B, 0x3C, 0x78, 0x03}));
    EXPECT_EQ(frame('J', "1a2b3c", "200")[5], 0x00);  // the low byte of 0x200
    EXPECT_EQ(frame('J', "1a2b3c", "78")[5], 120);
    EXPECT_EQ(frame('G', "abcdef", nullptr), (CommandFrame{0x02, 'G', 0xAB, 0xCD, 0xEF, 0x00, 0x03}));
    // Missing arguments send zeros; they never crash.
    EXPECT_EQ(frame('J', nullptr, nullptr), (CommandFrame{0x02, 'J', 0, 0, 0, 0, 0x03}));
    EXPECT_EQ(frame('B', nullptr, nullptr), (CommandFrame{0x02, 'B', 0, 0, 0, 0, 0x03}));
    EXPECT_EQ(frame('F', nullptr, nullptr)[2], 0);
}

TEST(EngineCmdFrame, WordAndNumberArguments) {
    EXPECT_EQ(frame('B', "0", nullptr), (CommandFrame{0x02, 0x42, 0x30, 0, 0, 0, 0x03}));
    EXPECT_EQ(frame('S', "3", nullptr)[2], '3');
    EXPECT_EQ(frame('U', "xyz", nullptr)[2], 'x');
    EXPECT_EQ(frame('R', "10", nullptr)[2], 10);
    EXPECT_EQ(frame('F', "5", "100")[2], 5);
    EXPECT_EQ(frame('F', "300", nullptr)[2], 300 & 0xFF);
}

TEST(EngineCmdFrame, PaperSpeedByte) {
    EngineCmdSettings s;
    s.configUnits = "inch";
    s.configMaxPaperSpeed = 4.2;
    EXPECT_EQ(paper_speed_byte(s), 55);  // 42 is not a multiple of 5
    s.configMaxPaperSpeed = 1.5;
    EXPECT_EQ(paper_speed_byte(s), 15);
    s.configMaxPaperSpeed = 3.0;
    EXPECT_EQ(paper_speed_byte(s), 30);
    s.configMaxPaperSpeed = 0.5;
    EXPECT_EQ(paper_speed_byte(s), 10);
    s.configMaxPaperSpeed = 6.0;
    EXPECT_EQ(paper_speed_byte(s), 55);
    s.configUnits = "mm";
    s.configMaxPaperSpeed = 50.8;  // 2 ips -> ceil(508 / 25.4) = 20
    EXPECT_EQ(paper_speed_byte(s), 20);
    s.configMaxPaperSpeed = 40;  // ceil(15.75) = 16 -> 55
    EXPECT_EQ(paper_speed_byte(s), 55);
}

TEST(EngineCmdFrame, LengthsInInchesAndMillimetres) {
    EngineCmdSettings s;
    s.PRINTHEAD_DPI = 203;
    s.PRINTHEAD_DPMM = 8;
    s.configUnits = "inch";
    s.mark_to_head = 1.5;   // 304.5 -> 305
    s.mark_to_cut = 0.25;   // 50.75 -> 51
    s.configMarkSeekDistance = 2;
    s.configPostFeed = 0.5;
    s.configPreFeed = -1;   // negative counts as 0
    s.configMarkWidth = 0.1;
    s.configMarkSeek = 1;
    s.configMaxPaperSpeed = 2;
    EXPECT_EQ(frame('E', nullptr, nullptr, s), (CommandFrame{2, 'E', 0x01, 0x31, 0x00, 0x33, 3}));
    EXPECT_EQ(frame('K', nullptr, nullptr, s), (CommandFrame{2, 'K', 0x01, 0x96, 0, 0, 3}));
    EXPECT_EQ(frame('P', nullptr, nullptr, s), (CommandFrame{2, 'P', 0x00, 0x66, 0x00, 0, 3}));
    EXPECT_EQ(frame('M', nullptr, nullptr, s), (CommandFrame{2, 'M', 20, 1, 21, 0, 3}));
    s.configUnits = "mm";
    s.mark_to_head = 12.3;  // 98.4 -> 99
    s.mark_to_cut = 3;
    s.configMarkSeekDistance = 50.2;
    s.configPostFeed = 10;
    s.configPreFeed = 2.2;
    EXPECT_EQ(frame('E', nullptr, nullptr, s), (CommandFrame{2, 'E', 0x00, 99, 0x00, 24, 3}));
    EXPECT_EQ(frame('K', nullptr, nullptr, s), (CommandFrame{2, 'K', 0x01, 0x92, 0, 0, 3}));
    EXPECT_EQ(frame('P', nullptr, nullptr, s), (CommandFrame{2, 'P', 0x00, 80, 18, 0, 3}));
}

TEST(EngineCmdFrame, ConfigurationAndLabelCommands) {
    EngineCmdSettings s;
    s.configBatterySleep = 30;
    s.configFrontThreshold = 0x1A0;
    s.configRearThreshold = 90;
    s.configGapThreshold = 7;
    EXPECT_EQ(frame('C', nullptr, nullptr, s), (CommandFrame{2, 'C', 30, 0xA0, 90, 7, 3}));
    s.LabelLength = 1200;
    s.GapWidth = 24;
    s.Sensorthreshold = 160;
    s.slaveVersion = "01.12.03.04";
    EXPECT_EQ(frame('N', "1", nullptr, s), (CommandFrame{2, 'N', 0x04, 0xB0, 24, 10, 3}));
    EXPECT_EQ(frame('N', "0", nullptr, s), (CommandFrame{2, 'N', 0, 0, 0, 0, 3}));
    s.slaveVersion = "01.02.03.04";  // the fourth character is "0": N is not sent at all
    EXPECT_FALSE(engine_cmd_frame('N', "1", nullptr, s).has_value());
}

TEST(EngineCmdFrame, UnknownLettersWriteNothing) {
    for (char c : {'I', 'L', 'O', 'V', 'W', 'a', '1', '?'}) EXPECT_FALSE(engine_cmd_frame(c, "1", "2", {}).has_value()) << c;
    for (char c : {'A', 'D', 'H', 'Q', 'T', 'X', 'Y', 'Z'})
        EXPECT_EQ(frame(c, "9", "9"), (CommandFrame{2, static_cast<uint8_t>(c), 0, 0, 0, 0, 3}));
}
