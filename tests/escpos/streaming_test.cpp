// The page life cycle on continuous paper: streaming, idle page ends, page ends of mark and
// label paper, and the hand-off of dot images to the print engine.
#include "escpos_test_support.h"

#include "escpos_page.h"
#include "escpos_settings.h"

#include <chrono>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace escpos;
using namespace std::string_literals;

namespace {
std::string lines(int n, const std::string& prefix = "Line ") {
    std::string s;
    for (int i = 0; i < n; ++i) s += prefix + std::to_string(i) + "\n";
    return s;
}

std::vector<int> heights(const std::vector<CaughtImage>& images) {
    std::vector<int> h;
    for (const auto& c : images) h.push_back(c.image.height);
    return h;
}
}  // namespace

TEST_F(EscposTest, FirstImageHoldsTheFirst200DotsThenEveryLine) {
    run(lines(10));
    EXPECT_EQ(heights(images), (std::vector<int>{210, 30, 30, 30}));
}

TEST_F(EscposTest, ThresholdStartsOverAfterTwoSecondsIdle) {
    job(lines(10));
    job(lines(10), 2500);
    run();
    EXPECT_EQ(heights(images), (std::vector<int>{210, 30, 30, 30, 210, 30, 30, 30}));
    // A shorter pause keeps streaming line by line.
    fresh();
    job(lines(10));
    job(lines(3), 1000);
    run();
    EXPECT_EQ(heights(images), (std::vector<int>{210, 30, 30, 30, 30, 30, 30}));
}

TEST_F(EscposTest, PageEnds200msAfterTheInputRunsDry) {
    st->device.conti_mode = false;
    job("First\nSecond\nunfinished");
    job(" line\n", 700);
    run();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].at_ms, 200);
    EXPECT_EQ(images[0].image.height, 60);
    // The unfinished line went on at the top of the next page.
    EXPECT_EQ(images[1].image.height, 30);
    EXPECT_GT(images[1].image.ink().right, 12 * 14);
    EXPECT_EQ(images[1].at_ms, 900);
}

TEST_F(EscposTest, IdlePageEndKeepsTheSettings) {
    st->device.conti_mode = false;
    job(esc("a\x01") + esc("3\x28") + "AB\n");
    job("AB\n", 500);
    run();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image.height, 40);
    EXPECT_EQ(images[1].image.height, 40);
    EXPECT_EQ(images[0].image.ink().left, images[1].image.ink().left);
    EXPECT_GT(images[1].image.ink().left, 800);
}

TEST_F(EscposTest, InitialiseMidJobEndsThePage) {
    run(esc("a\x01") + "One\nTwo\n" + esc("@") + "Three\n");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image.height, 60);
    EXPECT_GT(images[0].image.ink().left, 800);
    // The settings are back at their defaults: the last line is on the left.
    EXPECT_LT(images[1].image.ink().left, 12);
}

TEST_F(EscposTest, JobsArrivingTogetherFormOneStream) {
    job(esc("a\x01") + esc("E"));  // a command cut short at the end of a job
    job("\x01" "Centred\n");
    run();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_GT(images[0].image.ink().left, 800);
    EXPECT_TRUE(st->eng.emphasied);
}

TEST_F(EscposTest, StreamedPaperEqualsOnePage) {
    std::string receipt = esc("a\x01") + gs("!\x11") + "SHOP\n" + gs("!\x00"s) + esc("a\x00"s) + lines(12, "Item ") +
                          "\n\n" + esc("a2") + "Total 12.00\n" + fs("&") + "\xd6\xd0\xce\xc4\n" + fs(".") +
                          esc("-\x01") + "underlined\n" + esc("-\x00"s) + esc("d\x03");
    run(receipt);
    ASSERT_GT(images.size(), 5u);
    DotImage streamed = paper();
    fresh();
    st->device.conti_mode = false;
    run(receipt);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(streamed.height, images[0].image.height);
    EXPECT_TRUE(streamed.raster == images[0].image.raster);
}

TEST_F(EscposTest, EmptyPageTellsTheSlaveWhenTheInputRunsDry) {
    run("A\n");
    EXPECT_GE(count_shell("/root/engine_cmd B 0"), 1);
    // Input that runs dry while lines are on the page does not.
    fresh();
    st->device.conti_mode = false;
    ring.put(reinterpret_cast<const uint8_t*>("A\n"), 2);
    decode("");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 0);
}

TEST_F(EscposTest, MarkAndLabelPaperTellTheSlaveAtEveryPageEnd) {
    st->device.currentMarkSeek = 3;
    st->device.currentLabelLength = 400;
    check_conti_mode(*st);
    run("Label\n" + esc("@"));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image.height, 400);
    EXPECT_EQ(count_shell("/root/engine_cmd F 3 "), 1);
    fresh();
    st->device.currentMarkSeek = 1;
    check_conti_mode(*st);
    run("Mark\n\x0c");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(count_shell("/root/engine_cmd F 4 "), 1);
    EXPECT_EQ(count_shell("/root/engine_cmd F 1"), 1);
}

TEST_F(EscposTest, LabelLengthIsReadAgainAfterMeasuring) {
    TempDir dir;
    st->env.label_config_tmp = dir.path + "/label_config_tmp.cfg";
    write_text_file(st->env.label_config_tmp, "[LabelConfig]\nLabelLength=300\n");
    st->device.currentMarkSeek = 3;
    st->device.currentLabelLength = 400;
    check_conti_mode(*st);
    // The page that ends first already has the measured length.
    run("One\n" + esc("@") + "Two\n" + esc("@"));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image.height, 300);
    EXPECT_EQ(images[1].image.height, 300);
    EXPECT_FALSE(file_exists(st->env.label_config_tmp));
}

// The print engine takes the previous image late: the interpreter waits for it and then
// writes the next one, whatever the wait.
class EscposHandOff : public RenderTest {};

TEST_F(EscposHandOff, WaitsWhileTheEngineHasNotTakenTheImage) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, 1728, 10);
    hand_over_dot_image(image);
    ASSERT_EQ(image_count(), 1);
    std::string first = dot_images_in(images).front();
    auto started = std::chrono::steady_clock::now();
    std::thread engine([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        unlink(first.c_str());
    });
    hand_over_dot_image(image);
    engine.join();
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(waited, 2.5);
    ASSERT_EQ(image_count(), 1);
    EXPECT_NE(dot_images_in(images).front(), first);
    DotImage written = take_image();
    EXPECT_EQ(written.height, 10);
    EXPECT_EQ(written.width, 1728);
    cairo_surface_destroy(image);
}

TEST_F(EscposHandOff, ReportsALongWait) {
    std::string path = images + "/held.pbm";
    write_text_file(path, "x");
    std::thread engine([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        unlink(path.c_str());
    });
    testing::internal::CaptureStderr();
    wait_until_removed(path, 100);
    std::string said = testing::internal::GetCapturedStderr();
    engine.join();
    EXPECT_NE(said.find("has not taken"), std::string::npos) << said;
    EXPECT_FALSE(file_exists(path));
}
