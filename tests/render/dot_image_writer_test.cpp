// Dot image files: format, bit order, names, pacing, the contrast trigger, raster pass-through.
#include "image_builder.h"
#include "render_test_support.h"

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
void fill_rect(double x, double y, double w, double h) {
    cairo_rectangle(recording_cairo_context, x, y, w, h);
    cairo_fill(recording_cairo_context);
}
}  // namespace

class DotImageWriter : public RenderTest {};

TEST_F(DotImageWriter, HeaderRowsAndBitOrder) {
    fill_rect(0, 0, 1, 10);    // the leftmost dot of rows 0..9
    fill_rect(17, 20, 8, 10);  // dots 17..24 of rows 20..29
    label_length = 40;
    label_length_fixed = true;
    render_image_as_dotimage();
    DotImage img = take_image();
    EXPECT_EQ(img.header, "P4\n1728 00040\n");
    EXPECT_EQ(img.file_size, 14u + 40u * 216u);
    ASSERT_EQ(img.raster.size(), 40u * 216u);
    EXPECT_EQ(img.raster[5 * 216 + 0], 0x80) << "leftmost dot is the most significant bit";
    EXPECT_EQ(img.raster[25 * 216 + 2], 0x7F);
    EXPECT_EQ(img.raster[25 * 216 + 3], 0x80);
    int dots = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) dots += img.dot(x, y);
    EXPECT_EQ(dots, 10 + 80) << "1 = black, nothing else set";
    EXPECT_EQ(recording_surface, nullptr) << "the render state is torn down";
    new_render_state();
}

TEST_F(DotImageWriter, UniqueNameAndNewImageFlag) {
    EXPECT_EQ(init_get_newpbm(), 0);
    fill_rect(10, 10, 5, 5);
    render_image_as_dotimage();
    new_render_state();
    auto names = dot_images_in(images);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(".*/dotimage-[A-Za-z0-9]{6}\\.pbm")));
    EXPECT_EQ(nameBuff, names[0]);
    EXPECT_EQ(init_get_newpbm(), 1);
    EXPECT_EQ(init_get_newpbm(), 0);
}

TEST_F(DotImageWriter, SecondImageWaitsUntilTheFirstIsTaken) {
    fill_rect(10, 10, 5, 5);
    auto t0 = std::chrono::steady_clock::now();
    render_image_as_dotimage();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s) << "the first image does not wait";
    new_render_state();
    std::string first = dot_images_in(images).at(0);

    fill_rect(20, 20, 5, 5);
    std::atomic<bool> done{false};
    std::thread second([&] {
        render_image_as_dotimage();
        done = true;
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done.load()) << "waits while the first image sits in the intake";
    EXPECT_EQ(image_count(), 1);
    unlink(first.c_str());
    second.join();
    new_render_state();
    auto names = dot_images_in(images);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0], first);
}

TEST_F(DotImageWriter, IntakeFolderMissingLosesThePageOnly) {
    PATH_TO_DOTIMAGE_FILES = dir.path + "/no_such_folder";
    fill_rect(10, 10, 5, 5);
    testing::internal::CaptureStderr();
    render_image_as_dotimage();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no_such_folder/dotimage-"), std::string::npos) << err;
    EXPECT_NE(err.find(".pbm: No such file or directory"), std::string::npos) << err;
    EXPECT_EQ(recording_surface, nullptr);
    new_render_state();
    PATH_TO_DOTIMAGE_FILES = images;
    fill_rect(10, 10, 5, 5);
    render_image_as_dotimage();
    new_render_state();
    EXPECT_EQ(image_count(), 1);
}

TEST_F(DotImageWriter, ContrastTriggerWaitsForItsSlot) {
    set_current_contrast(7);
    EXPECT_EQ(read_text_file(trigger), "7\n");
    EXPECT_EQ(get_current_contrast(), 7);

    std::atomic<bool> done{false};
    std::thread writer([&] {
        set_current_contrast(3);
        done = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(done.load());
    EXPECT_EQ(read_text_file(trigger), "7\n") << "a pending trigger is never overwritten";
    unlink(trigger.c_str());
    writer.join();
    EXPECT_EQ(take_trigger(), "3\n");

    unlink(trigger.c_str());
    rmdir(trigger_folder.c_str());
    start_dot_feeder();
    EXPECT_EQ(take_trigger(), "3\n") << "the trigger folder is made when missing";
}

TEST_F(DotImageWriter, TwoThreadsWritingTriggersLoseNone) {
    constexpr int per_thread = 25;
    std::atomic<bool> stop_consumer{false};
    std::vector<std::string> seen;
    std::thread consumer([&] {
        while (!stop_consumer || file_exists(trigger)) {
            if (file_exists(trigger)) {
                std::string t = read_text_file(trigger);
                if (!t.empty() && t.back() == '\n') {  // a complete trigger
                    seen.push_back(t);
                    unlink(trigger.c_str());
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread a([] {
        for (int i = 0; i < per_thread; ++i) set_current_contrast(2);
    });
    std::thread b([] {
        for (int i = 0; i < per_thread; ++i) set_current_contrast(9);
    });
    a.join();
    b.join();
    stop_consumer = true;
    consumer.join();
    ASSERT_EQ(seen.size(), size_t(2 * per_thread));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "2\n"), per_thread);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "9\n"), per_thread);
}

TEST_F(DotImageWriter, RasterPassThroughKeepsBytesAndWholeRows) {
    std::string job = dir.path + "/rasterjob";
    std::string bytes = "junk";
    std::string block1(216, '\xA5');  // ESC # a b: (b - 8) * a data bytes
    bytes += std::string("\x1b#") + char(27) + char(16) + block1;
    bytes += "\x1b" "x";  // an escape of another kind is skipped
    std::string block2(216 + 100, '\x3C');
    bytes += std::string("\x1bV") + char(79) + char(12) + block2;
    write_text_file(job, bytes);
    prepare_graphics_job_for_profiler(job.c_str());
    EXPECT_FALSE(file_exists(job));
    DotImage img;
    ASSERT_TRUE(read_dot_image_file(images + "/dotimage.pbm", img));
    EXPECT_EQ(img.header, "P4\n1728 00002\n") << "216 + 316 bytes: two whole rows";
    EXPECT_EQ(img.raster[0], 0xA5) << "bytes are not bit-reversed";
    EXPECT_EQ(img.raster[216], 0x3C);
}

TEST_F(DotImageWriter, LookAheadRewindsPeekedBytes) {
    std::string path = dir.path + "/scan";
    write_text_file(path, "ABCD");
    yyin = std::fopen(path.c_str(), "r");
    ASSERT_NE(yyin, nullptr);
    continueParsing = 1;
    peekedChars = 0;
    EXPECT_EQ(buf_pchar(), 'A');
    EXPECT_EQ(buf_pchar(), 'B');
    buf_pchar_init();  // rejected: read again
    EXPECT_EQ(buf_pchar(), 'A');
    buf_achar();  // accepted
    buf_pchar_init();
    EXPECT_EQ(buf_pchar(), 'B');
    EXPECT_EQ(buf_pchar(), 'C');
    EXPECT_EQ(buf_pchar(), 'D');
    EXPECT_EQ(continueParsing, 1);
    EXPECT_EQ(buf_pchar(), -1);
    EXPECT_EQ(continueParsing, 0);
    std::fclose(yyin);
    yyin = nullptr;
}
