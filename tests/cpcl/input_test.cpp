// The intake side: job files into the ring (conversion, the busy marker, the contrast, files that
// cannot be read), and the samples of the repository through the interpreter.
#include "cpcl_commands.h"
#include "cpcl_input.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

#include <glib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

using Intake = CpclTest;

namespace {
std::string sample(const std::string& name) {
    std::ifstream in(std::string(PRINTER_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

TEST_F(Intake, JobFilesIntoTheRing) {
    std::string job = dir.path + "/printjob-1";
    write_text_file(job, one_label({"BOX 10 10 50 50 2"}, 100));
    cpcl::take_job_file(*s, job);
    EXPECT_FALSE(file_exists(job)) << "the job file is removed";
    EXPECT_EQ(count_shell("echo \002B1 > /command_intake/commd-B  \n"), 1) << "busy marker when idle";
    EXPECT_EQ(contrasts, std::vector<int>({5})) << "the default contrast with every job";
    // The ring is not empty now: no second marker.
    write_text_file(job, one_label({"BOX 60 10 90 50 2"}, 100));
    cpcl::take_job_file(*s, job);
    EXPECT_EQ(count_shell("echo \002B1 > /command_intake/commd-B  \n"), 1);
    cpcl::run_until_end(*s);
    EXPECT_EQ(printed().size(), 2u);
}

TEST_F(Intake, AJobThatCannotBeOpenedIsSkipped) {
    cpcl::take_job_file(*s, dir.path + "/printjob-gone");  // removed before it was taken
    std::string folder = dir.path + "/printjob-folder";
    mkdir(folder.c_str(), 0755);
    cpcl::take_job_file(*s, folder);  // not a file
    EXPECT_TRUE(file_exists(folder));
    errno = 0;
    EXPECT_FALSE(cpcl::feed_job_file(*s, dir.path + "/printjob-gone"));
    EXPECT_FALSE(cpcl::feed_job_file(*s, folder));
    // the next job prints
    std::string job = dir.path + "/printjob-2";
    write_text_file(job, one_label({"BOX 10 10 50 50 2"}, 100));
    cpcl::take_job_file(*s, job);
    cpcl::run_until_end(*s);
    EXPECT_EQ(printed().size(), 1u);
}

TEST_F(Intake, JobsInUtf8AndUcs2BecomeGb18030) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
    DotImage expected = label(one_label({"TEXT 4 0 40 30 " + utf8}, 200));
    ASSERT_FALSE(expected.ink().empty);

    std::string job = dir.path + "/printjob-utf8";
    s->encoding_mode = 2;
    write_text_file(job, one_label({"ENCODING GB18030", "TEXT 4 0 40 30 " + utf8}, 200));
    cpcl::take_job_file(*s, job);
    cpcl::run_until_end(*s);
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].raster, expected.raster);

    // UCS-2, as the host's wide characters
    s->encoding_mode = 1;
    std::string text = one_label({"ENCODING GB18030", "TEXT 4 0 40 30 " + utf8}, 200);
    gsize made = 0;
    gchar* wide = g_convert(text.data(), gssize(text.size()), "UCS-2", "UTF-8", nullptr, &made, nullptr);
    ASSERT_NE(wide, nullptr);
    std::string ucs2(wide, made);
    g_free(wide);
    write_text_file(job, ucs2);
    cpcl::take_job_file(*s, job);
    cpcl::run_until_end(*s);
    pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].raster, expected.raster);
}

TEST_F(Intake, DeliverySampleGivesThreeNumberedLabels) {
    run(sample("delivery.cpcl"));
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const DotImage& p = pages[size_t(i)];
        keep_image(p, "delivery-" + std::to_string(i));
        EXPECT_NEAR(p.height, 812, 12);
        InkBox parcel = p.ink_in(20, 370, 500, 415);
        EXPECT_EQ(ocr_line(p, dir.path, grown(parcel, 2), 2), "PARCEL " + std::to_string(i + 1) + " OF 3");
        InkBox bars = grown(p.ink_in(20, 415, 700, 515), 6);
        std::string code = "PCL-000045" + std::to_string(i + 1);
        EXPECT_EQ(zbar(p, dir.path, &bars), code);
        EXPECT_EQ(zxing(p, dir.path, "Code128", &bars), code);
        InkBox qr = grown(p.ink_in(510, 555, 790, 800), 6);
        EXPECT_EQ(zbar(p, dir.path, &qr), "https://track.example.net/delivery/NW-77812");
    }
}
