// Settings read at start and the resets.
#include "escpos_test_support.h"

#include "escpos_settings.h"
#include "escpos_speed.h"

#include <thread>
#include <unistd.h>

using namespace escpos;
using namespace std::string_literals;

TEST(EscposSettings, DeviceDistancesInDots) {
    EXPECT_EQ(margin_dots(0.5, "inch"), 101);
    EXPECT_EQ(margin_dots(3, "mm"), 24);
    EXPECT_EQ(mark_dots(3, "mm"), 24);
    EXPECT_EQ(mark_dots(0.1, "inch"), 20);
}

TEST(EscposSettings, KeyFilesOfTheDevice) {
    TempDir dir;
    write_text_file(dir.path + "/device_config_units.cfg", "[units]\nUNITS=inch\n");
    write_text_file(dir.path + "/inch_device_config.cfg",
                    "[Form]\nconfigLeftMargin=0.5\nconfigRightMargin=0.25\nconfigPreFeed=0\nconfigPostFeed=0\n");
    write_text_file(dir.path + "/inch_mark_config.cfg", "[Blackmark]\nmark_to_head=0.5\nmark_to_cut=0.1\n");
    write_text_file(dir.path + "/paper.cfg", "[Paper]\nconfigMarkSeek=0\nconfigContrast=5\n");
    write_text_file(dir.path + "/label.cfg", "[LabelConfig]\nLabelLength=1218\n");
    write_text_file(dir.path + "/image.cfg", "[Image]\nconfigEncoding=2\n");
    EscposState st;
    st.env.label_config = dir.path + "/label.cfg";
    load_device_config(st, dir.path, dir.path + "/paper.cfg");
    check_conti_mode(st);
    load_image_config(st, dir.path + "/image.cfg");
    EXPECT_EQ(st.device.currentLeftMargin, 101);
    EXPECT_EQ(st.device.currentRightMargin, 50);
    EXPECT_EQ(st.device.currentMarkprint, 101);
    EXPECT_EQ(st.device.currentMarkcut, 20);
    EXPECT_EQ(st.device.currentLabelLength, 1218);
    EXPECT_TRUE(st.device.conti_mode);
    EXPECT_EQ(st.encoding_mode, 2);
    write_text_file(dir.path + "/inch_device_config.cfg", "[Form]\nconfigPreFeed=0.2\n");
    load_device_config(st, dir.path, dir.path + "/paper.cfg");
    check_conti_mode(st);
    EXPECT_FALSE(st.device.conti_mode);
    // Nothing there: zeros, continuous paper, encoding mode 0.
    EscposState empty;
    load_device_config(empty, dir.path + "/none", dir.path + "/none.cfg");
    check_conti_mode(empty);
    load_image_config(empty, dir.path + "/none.cfg");
    EXPECT_TRUE(empty.device.conti_mode);
    EXPECT_EQ(empty.device.currentLeftMargin, 0);
    EXPECT_EQ(empty.encoding_mode, 0);
}

TEST_F(EscposTest, DeviceMarginsNarrowTheLineAndShiftThePage) {
    st->device.currentLeftMargin = 100;
    st->device.currentRightMargin = 28;
    decode(std::string(134, 'M'));
    EXPECT_EQ(st->page.ypos, 30);  // 1600 dots hold 133 characters
    run("\n");
    EXPECT_EQ(images.front().image.ink().left >= 100, true);
}

TEST_F(EscposTest, CharacterType1SwitchesChineseModeOnAtEveryReset) {
    st->emul.character_type = 1;
    run(esc("@") + "\xd6\xd0\n");
    EXPECT_TRUE(st->set.chn_char_mode);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_GT(images[0].image.ink().width(), 16);  // one 24-dot character, not two code page ones
    run(fs(".") + esc("@"));
    EXPECT_TRUE(st->set.chn_char_mode);
}

TEST_F(EscposTest, CharacterTypesSelectTheirCodePages) {
    st->emul.character_type = 2;
    run(esc("@"));
    EXPECT_EQ(st->eng.cFont.charGrp, 140);
    st->emul.character_type = 3;
    run(esc("@"));
    EXPECT_EQ(st->eng.cFont.charGrp, 149);
    // Type 1 keeps the last code page.
    st->emul.character_type = 1;
    run(esc("t\x11") + esc("@"));
    EXPECT_EQ(st->eng.cFont.charGrp, 142);
}

TEST_F(EscposTest, FontSelectionsResetTheirSettings) {
    decode(esc("!\x39"s));
    EXPECT_EQ(st->eng.font_type, ENG_FONT_B);
    EXPECT_TRUE(st->eng.emphasied);
    EXPECT_EQ(st->eng.magnify_height, 2);
    EXPECT_EQ(st->eng.magnify_width, 2);
    EXPECT_EQ(st->eng.char_width, 9);
    decode(esc("!\x80"s));
    EXPECT_EQ(st->eng.font_type, ENG_FONT_A);
    EXPECT_FALSE(st->eng.emphasied);
    EXPECT_EQ(st->eng.under_line, 1);
    decode(esc("M\x04"s));
    EXPECT_EQ(st->eng.magnify_width, 2);
    EXPECT_EQ(st->eng.under_line, 0);
    decode(fs("S\x04\x06"s));
    EXPECT_EQ(st->chn.left_space, 4);
    EXPECT_EQ(st->chn.right_space, 6);
    EXPECT_EQ(st->eng.left_space, 2);
    EXPECT_EQ(st->eng.right_space, 5);
}

TEST(EscposSpeedPause, DeletionReleasesTheWaiter) {
    TempDir dir;
    std::string folder = dir.path + "/speed_switch_pause";
    SpeedPauseWatch watch(folder);
    ASSERT_TRUE(watch.start());
    std::thread watcher([&] { watch.wait_events(5000); });
    watch.arm();
    write_text_file(folder + "/pause", "0\n");
    EXPECT_FALSE(watch.wait_released(std::chrono::milliseconds(50)));
    unlink((folder + "/pause").c_str());
    EXPECT_TRUE(watch.wait_released(std::chrono::seconds(10)));
    watcher.join();
    EXPECT_EQ(watch.speed_switch_pause.load(), 1);  // armed again for the next pause
}
