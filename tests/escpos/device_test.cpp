// Device commands: mark and label paper, the mark and device key files, speed hints and the
// speed pause, feeds, dot lines, macros, NV user memory, user setup.
#include "escpos_test_support.h"

#include "escpos_device.h"
#include "escpos_settings.h"
#include "escpos_speed.h"
#include "keyfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

using namespace escpos;
using namespace std::string_literals;

namespace {
std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string us(const std::string& s) { return "\x1f" + s; }

int count_starting(const std::vector<std::string>& lines, const std::string& start) {
    return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
}

// The feed commands among the command lines, in order.
std::vector<std::string> feeds(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.rfind("/root/engine_cmd F", 0) == 0) out.push_back(l);
    return out;
}
}  // namespace

TEST(EscposDotLine, CompressedLinesExpandNibbleByNibble) {
    uint8_t out[DOTLINE_BYTES];
    // 5 0 F: a run of 15 white nibbles, then the literal nibble 0: 8 bytes of white.
    uint8_t white[] = {0x05, 0x0f};
    EXPECT_EQ(line_unzip(white, 2, out), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], 0) << i;
    // 5 8 2: two black nibbles; the literal 0 after them makes three nibbles, one whole byte.
    uint8_t black[] = {0x85, 0x02};
    EXPECT_EQ(line_unzip(black, 2, out), 1);
    EXPECT_EQ(out[0], 0xff);
    // A copies the next nibble as it is, even 5 or A.
    uint8_t escaped[] = {0xaa, 0x5a};
    EXPECT_EQ(line_unzip(escaped, 2, out), 1);
    EXPECT_EQ(out[0], 0x5a);
    // A run that starts within the last two nibbles ends the line.
    uint8_t cut[] = {0x21, 0x05};
    EXPECT_EQ(line_unzip(cut, 2, out), 1);
    EXPECT_EQ(out[0], 0x21);
    // The longest run, 127 nibbles, and the line never grows past 72 bytes.
    uint8_t longest[] = {0xf5, 0xff};
    EXPECT_EQ(line_unzip(longest, 2, out), 64);
    uint8_t many[DOTLINE_BYTES];
    for (int i = 0; i < DOTLINE_BYTES; i += 2) {
        many[i] = 0xf5;
        many[i + 1] = 0xff;
    }
    EXPECT_EQ(line_unzip(many, DOTLINE_BYTES, out), DOTLINE_BYTES);
    EXPECT_EQ(out[DOTLINE_BYTES - 1], 0xff);
}

TEST_F(EscposTest, DotLinesPaintOneRowAndStopAt72Bytes) {
    st->device.conti_mode = false;
    // 100 raw bytes: 72 kept (576 dots from the fill position), 28 read; the first byte's high
    // bit is the leftmost dot.
    decode("AB" + us("\x10") + bytes({100, 0}) + "\x80" + std::string(71, '\xff') + std::string(28, 'X') + "Z");
    EXPECT_EQ(st->page.ypos, 1);
    EXPECT_EQ(st->line.fill_xpos, 12) << "back at the margin, then the Z";
    run("\n");
    DotImage p = paper();
    InkBox row = p.ink_in(0, 0, 1728, 1);
    EXPECT_EQ(row.left, 24);
    EXPECT_EQ(row.right, 24 + 575);
    EXPECT_FALSE(p.dot(25, 0));
    EXPECT_TRUE(p.dot(32, 0));
    // The compressed line 05 0F: a white line, one row down.
    fresh();
    st->device.conti_mode = false;
    decode(us("\x13") + bytes({2, 0, 0x05, 0x0f}) + us("\x13") + bytes({2, 0, 0x85, 0x02}));
    EXPECT_EQ(st->page.ypos, 2);
    EXPECT_EQ(st->job.canvas_height, 2);
    run("\n");
    DotImage q = paper();
    EXPECT_TRUE(q.ink_in(0, 0, 1728, 1).empty);
    InkBox black = q.ink_in(0, 1, 1728, 2);
    EXPECT_EQ(black.left, 0);
    EXPECT_EQ(black.width(), 8);
}

TEST_F(EscposTest, MarkToHeadOf100BackwardsIsMinus40) {
    write_text_file(home + "/device_config_units.cfg", "[units]\nUNITS=mm\n");
    write_text_file(home + "/mm_mark_config.cfg", "# mark positions\n[Blackmark]\nmark_to_head=3\nmark_to_cut=6\n");
    decode(gs("(F\x04\x00\x01\x01\x64\x00"s));
    EXPECT_EQ(st->device.currentMarkprint, -40);
    EXPECT_EQ(count_shell("/root/engine_cmd E 0"), 1);
    KeyFile mark(home + "/mm_mark_config.cfg");
    EXPECT_EQ(mark.get_string("Blackmark", "mark_to_head"), "-5");
    EXPECT_EQ(mark.get_string("Blackmark", "mark_to_cut"), "0");
    EXPECT_NE(read_file(home + "/mm_mark_config.cfg").find("# mark positions"), std::string::npos);
    // Mark to cutter, forward, beyond the limit: 2040 dots, 255 mm.
    decode(gs("(F\x04\x00\x00\x00\xb8\x0b"s));
    EXPECT_EQ(st->device.currentMarkcut, 2040);
    EXPECT_EQ(KeyFile(home + "/mm_mark_config.cfg").get_string("Blackmark", "mark_to_cut"), "255");
    // Inches: whole inches above the distance.
    write_text_file(home + "/device_config_units.cfg", "[units]\nUNITS=inch\n");
    decode(gs("(F\x04\x00\x01\x00\xcc\x00"s));
    EXPECT_EQ(KeyFile(home + "/inch_mark_config.cfg").get_string("Blackmark", "mark_to_head"), "2");
    // A unit name that is no plain word writes nothing.
    write_text_file(home + "/device_config_units.cfg", "[units]\nUNITS=../x\n");
    decode(gs("(F\x04\x00\x01\x00\x10\x00"s));
    EXPECT_FALSE(file_exists(dir.path + "/x_mark_config.cfg"));
}

TEST_F(EscposTest, MarkSeekSwitchEditsTheDeviceKeyFile) {
    write_text_file(home + "/device_config_units.cfg", "[units]\nUNITS=inch\n");
    write_text_file(home + "/inch_device_config.cfg",
                    "[Form]\n# paper sensing\nconfigMarkSeek=0\nconfigMarkSeekDistance=12.0\n[Other]\nconfigMarkSeek=2\n");
    decode(gs("\x1e\x03"));
    EXPECT_EQ(st->device.currentMarkSeek, 3);
    EXPECT_FALSE(st->device.conti_mode);
    EXPECT_EQ(count_shell("/root/engine_cmd M 0"), 1);
    KeyFile kf(home + "/inch_device_config.cfg");
    EXPECT_EQ(kf.get_string("Form", "configMarkSeek"), "3");
    EXPECT_EQ(kf.get_string("Other", "configMarkSeek"), "2") << "only the old mode is replaced";
    EXPECT_EQ(kf.get_string("Form", "configMarkSeekDistance"), "12.0");
    EXPECT_NE(read_file(home + "/inch_device_config.cfg").find("# paper sensing"), std::string::npos);
    // Back to continuous paper; an unknown mode is ignored.
    decode(gs("\x1e\x00"s) + gs("\x1e\x07"));
    EXPECT_EQ(st->device.currentMarkSeek, 0);
    EXPECT_TRUE(st->device.conti_mode);
    EXPECT_EQ(KeyFile(home + "/inch_device_config.cfg").get_string("Form", "configMarkSeek"), "0");
}

TEST_F(EscposTest, MarkFeedingCommandsByPaper) {
    const std::string commands = "Text\n" + gs("\x0c") + "More\n" + fs("(L\x02\x00\x30\x01"s) + "Last\n" + gs("Ve\x00"s);
    // Continuous paper: nothing ends, nothing is sent.
    run(commands);
    EXPECT_EQ(count_starting(shell_lines, "/root/engine_cmd F"), 0);
    // Labels: GS FF ends the label (F 3) and feeds no mark; FS ( L and GS V 101 do nothing.
    fresh();
    st->device.currentMarkSeek = 3;
    st->device.currentLabelLength = 300;
    check_conti_mode(*st);
    decode(commands);
    EXPECT_EQ(count_shell("/root/engine_cmd F 3 "), 1);
    EXPECT_EQ(count_starting(shell_lines, "/root/engine_cmd F 1"), 0);
    EXPECT_EQ(count_starting(shell_lines, "/root/engine_cmd F 2"), 0);
    EXPECT_EQ(images.size(), 1u);
    // Black marks: GS FF ends the page (F 4) and feeds to the mark (F 1); FS ( L with m = 1
    // and GS V 101 end the page and send F 2; FS ( L with m = 0 feeds to the mark.
    fresh();
    st->device.currentMarkSeek = 1;
    check_conti_mode(*st);
    decode(commands + fs("(L\x02\x00\x30\x00"s));
    EXPECT_EQ(feeds(shell_lines), (std::vector<std::string>{"/root/engine_cmd F 4 ", "/root/engine_cmd F 1",
                                                     "/root/engine_cmd F 4 ", "/root/engine_cmd F 2",
                                                     "/root/engine_cmd F 4 ", "/root/engine_cmd F 2",
                                                     "/root/engine_cmd F 1"}));
    EXPECT_EQ(images.size(), 3u);
    // ESC 0xEE on black-mark paper takes 24 dots off the page bottom.
    decode("A\n\n" + esc("\xee"));
    EXPECT_EQ(st->job.canvas_height, 60 - 24);
    EXPECT_EQ(st->page.ypos, 36);
}

TEST_F(EscposTest, MacroPlaysThreeTimesHalfASecondApart) {
    run(gs(":") + "ABC" + gs(":"));
    EXPECT_EQ(read_file(usr + "/user_macro"), "ABC\0"s);
    EXPECT_TRUE(images.empty()) << "recording prints nothing";
    st->device.conti_mode = false;
    decode(gs("^\x03\x05\x00"s));
    EXPECT_STREQ(st->line.string, "ABCABCABC");
    EXPECT_EQ(sleeps, (std::vector<long>{500, 500}));
    EXPECT_EQ(st->macro.interval_times, 500);
    // m = 1: once, at once.
    fresh();
    st->device.conti_mode = false;
    decode(gs("^\x03\x05\x01"s));
    EXPECT_STREQ(st->line.string, "ABC");
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(EscposTest, MacroBytesArePrintedNotExecuted) {
    // A GS that does not end the recording is kept with the byte after it; LF is a character.
    run(gs(":") + "A\nB" + gs("x") + gs(":"));
    EXPECT_EQ(read_file(usr + "/user_macro"), "A\nB\x1dx\0"s);
    st->device.conti_mode = false;
    decode(gs("^\x01\x00\x00"s));
    EXPECT_EQ(st->page.ypos, 0);
    EXPECT_EQ(st->line.char_idx, 5);
    // Two-byte characters of a macro take their second byte from the macro, not the input.
    run(gs(":") + "\xd6\xd0" + gs(":"));
    fresh();
    st->device.conti_mode = false;
    decode(fs("&") + gs("^\x02\x00\x00"s) + "Z");
    EXPECT_EQ(st->line.char_idx, 3);
    EXPECT_STREQ(st->line.string + st->line.string_len - 1, "Z");
    // The macro file survives a restart; without it the parameters are read and nothing plays.
    unlink((usr + "/user_macro").c_str());
    fresh();
    decode(gs("^\x02\x01\x00"s) + "Y");
    EXPECT_STREQ(st->line.string, "Y");
}

TEST_F(EscposTest, MacroRecordingIsBounded) {
    run(gs(":") + std::string(3000, 'M') + gs(":") + "Z");
    std::string macro = read_file(usr + "/user_macro");
    EXPECT_EQ(macro.size(), size_t(MACRO_BYTES));
    EXPECT_EQ(macro.back(), '\0');
    // A macro file that cannot be created: no recording, the bytes are decoded.
    fresh();
    st->env.user_macro = dir.path + "/missing/user_macro";
    st->device.conti_mode = false;
    decode(gs(":") + "QR");
    EXPECT_STREQ(st->line.string, "QR");
}

TEST_F(EscposTest, NvUserMemorySurvivesAndItsAddressNeverOverflows) {
    // Write 3 bytes at 1020 (1020 + 3 < 1024), read them back, after a restart.
    decode(fs("g\x01\x00\xfc\x03\x00\x00\x03\x00"s) + "xyz");
    std::string memory = read_file(nv + "nv_user_memory");
    ASSERT_EQ(memory.size(), 1024u);
    EXPECT_EQ(memory.substr(1020), "xyz\xff");
    EXPECT_EQ(memory[0], '\xff') << "bytes never written read as 0xFF";
    fresh();
    decode(fs("g\x02\x00\xfd\x03\x00\x00\x02\x00"s));
    EXPECT_EQ(read_file(usr + "/send_data"), "yz");
    // 1021 + 3 reaches the end: refused after nH, the data is decoded as text.
    st->device.conti_mode = false;
    decode(fs("g\x01\x00\xfd\x03\x00\x00\x03\x00"s) + "abc");
    EXPECT_STREQ(st->line.string, "abc");
    // Address 0xFFFFFFFF + 80 would wrap to 79 in 32 bits: refused.
    fresh();
    st->device.conti_mode = false;
    decode(fs("g\x01\x00\xff\xff\xff\xff\x50\x00"s) + "def");
    EXPECT_STREQ(st->line.string, "def");
    EXPECT_EQ(read_file(nv + "nv_user_memory").substr(0, 3), "\xff\xff\xff");
    // More than 80 bytes at once: refused.
    decode(fs("g\x02\x00\x00\x00\x00\x00\x51\x00"s));
    EXPECT_EQ(read_file(usr + "/send_data"), "yz");
}

TEST_F(EscposTest, SpeedHintsAndStreamingParameters) {
    decode(us("\x1dx\x01"));
    EXPECT_EQ(read_file(tmp + "/speedmode/speedmode.txt"), "1\n");
    unlink((tmp + "/speedmode/speedmode.txt").c_str());
    decode(us("\x1dx\x07"));
    EXPECT_FALSE(file_exists(tmp + "/speedmode/speedmode.txt"));
    decode(us("\x1ex\x03"));
    EXPECT_EQ(read_file(tmp + "/maxspeed/maxspeed.txt"), "3\n");
    EXPECT_EQ(read_file(tmp + "/speedmode/speedmode.txt"), "0\n");
    EXPECT_EQ(st->data_delay, 250);
    EXPECT_EQ(st->print_len_table[0], 300);
    EXPECT_EQ(st->print_len_table[3], 120);
    decode(us("\x1ex\x09"));  // above 5: 5
    EXPECT_EQ(read_file(tmp + "/maxspeed/maxspeed.txt"), "5\n");
    EXPECT_EQ(st->print_len_table[1], 40);
    decode(us("\x1ex\xff"));  // 255: no cap, the streaming stays
    EXPECT_EQ(read_file(tmp + "/maxspeed/maxspeed.txt"), "9\n");
    EXPECT_EQ(st->print_len_table[1], 40);
    decode(us("\x1ex\x00"s));
    EXPECT_EQ(read_file(tmp + "/maxspeed/maxspeed.txt"), "9\n");
    EXPECT_EQ(read_file(tmp + "/speedmode/speedmode.txt"), "1\n");
    EXPECT_EQ(st->data_delay, 200);
    EXPECT_EQ(st->print_len_table[0], 500);
}

TEST_F(EscposTest, FeedsBySlave) {
    decode(us(" \x03\x00\x02\x10\x01"s) + us(" \x03\x00\x04\x20\x00"s) + us(" \x03\x00\x05\x01\x01"s));
    EXPECT_EQ(feeds(shell_lines), (std::vector<std::string>{"/root/engine_cmd F 5 1 16", "/root/engine_cmd F 6 0 32"}));
}

TEST_F(EscposTest, SpeedPauseSendsThePageThenWaitsForTheEngine) {
    std::string folder = tmp + "/speed_switch_pause";
    mkdir(folder.c_str(), 0777);
    SpeedPauseWatch watch(folder);
    ASSERT_TRUE(watch.start());
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        while (!stop) watch.wait_events(50);
    });
    st->env.speed_watch = &watch;
    // The print engine: removes the pause file 300 ms after it appears, noting how many images
    // had been written by then.
    std::atomic<long> images_when_paused{-1};
    std::thread engine([&] {
        std::string pause = folder + "/pause";
        for (int i = 0; i < 2000 && !file_exists(pause); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        images_when_paused = long(images.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        unlink(pause.c_str());
    });
    auto started = std::chrono::steady_clock::now();
    st->device.conti_mode = false;
    decode("Before\n" + us("\x1aZT") + "After");
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    engine.join();
    stop = true;
    watcher.join();
    EXPECT_EQ(images_when_paused, 1) << "the page before the pause went out first";
    EXPECT_GE(waited, 0.25);
    EXPECT_STREQ(st->line.string, "After");
    // Any other byte after SUB or SUB Z ends the command.
    decode(us("\x1aZX") + us("\x1aY") + "W");
    EXPECT_STREQ(st->line.string, "AfterW");
}

TEST_F(EscposTest, UserSetupModeTakesItsValuesOnlyWhenEntered) {
    decode(gs("(E\x07\x00\x05\x05\x10\x00\x06\x02\x00"s));
    EXPECT_EQ(st->user_density, 0);
    decode(gs("(E\x03\x00\x01IN"s));
    EXPECT_TRUE(st->set.user_setting_mode);
    decode(gs("(E\x07\x00\x05\x05\x10\x00\x06\x02\x00"s));
    EXPECT_EQ(st->user_density, 16);
    EXPECT_EQ(st->user_speed, 2);
    decode(gs("(E\x04\x00\x02OUT"s) + gs("(E\x02\x00\x06\x01"s) + "Z");
    EXPECT_FALSE(st->set.user_setting_mode);
    EXPECT_STREQ(st->line.string, "Z");
}
