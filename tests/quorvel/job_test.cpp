// Jobs through the intake's hand-off: the slave told when no page came out, the job file removed,
// the contrast trigger of each job and of the contrast command; the settings files.
#include "image_builder.h"
#include "quorvel_test_support.h"

class QuorvelJob : public QuorvelTest {
protected:
    std::string job_file(const std::string& bytes) {
        std::string path = dir.path + "/printjob-1";
        write_text_file(path, bytes);
        return path;
    }
};

TEST_F(QuorvelJob, ControlsOnlyGiveNoImageAndTellTheSlave) {
    PageTaker taker(images, trigger_folder);
    std::string path = job_file("\x1BK\x02\x0E\x1BU1\x1C\x1D\x1BU0\x0F");
    take_job(q, path);
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1);
    EXPECT_FALSE(file_exists(path)) << "the job file is removed";
    EXPECT_EQ(taker.count(), 0u);
    EXPECT_EQ(taker.triggers(), std::vector<std::string>{"5\n"}) << "the configured contrast for the job";
    new_render_state();
}

TEST_F(QuorvelJob, APrintedJobLeavesTheSlaveToThePrintEngine) {
    PageTaker taker(images, trigger_folder);
    take_job(q, job_file("HELLO\n\x1BP3" "WORLD\n"));
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 0);
    EXPECT_EQ(taker.count(), 1u);
    EXPECT_EQ(taker.triggers(), (std::vector<std::string>{"5\n", "6\n"})) << "1B P 3: contrast 9 - 3";
    EXPECT_EQ(q.contrast, 6);
    new_render_state();
}

TEST_F(QuorvelJob, UnreadableJob) {
    EXPECT_EQ(process_job(q, (dir.path + "/missing").c_str()), -1);
    new_render_state();
}

TEST_F(QuorvelJob, FontMapValuesOutOfRangeKeepTheBuiltInOnes) {
    q.paths.font_map = dir.path + "/font_map.cfg";
    write_text_file(q.paths.font_map,
                    "[FONT0]\nPITCH=0\nXSCALE=-2\nYSCALE=1e9\nWEIGHT=5000\n[FONT5]\nPITCH=17\nXSCALE=0.5\nWEIGHT=700\n");
    load_font_map(q);
    EXPECT_EQ(q.mappedFonts[0].PITCH, 10.0);
    EXPECT_EQ(q.mappedFonts[0].XSCALE, 1.0);
    EXPECT_EQ(q.mappedFonts[0].YSCALE, 1.0);
    EXPECT_EQ(q.mappedFonts[0].WEIGHT, 400);
    EXPECT_EQ(q.mappedFonts[5].PITCH, 17.0);
    EXPECT_EQ(q.mappedFonts[5].XSCALE, 0.5);
    EXPECT_EQ(q.mappedFonts[5].WEIGHT, 700);
    // The default pitch is the first whose PITCH is configCPI; 4.2 is index 15; none: index 1.
    q.configCPI = 17;
    select_default_pitch(q);
    EXPECT_EQ(q.currentlySelectedFont, 5);
    q.configCPI = 4.2;
    select_default_pitch(q);
    EXPECT_EQ(q.currentlySelectedFont, 15);
    q.configCPI = 99;
    select_default_pitch(q);
    EXPECT_EQ(q.currentlySelectedFont, 1);
}

TEST_F(QuorvelJob, FontTableAndItsWebCopy) {
    ASSERT_GE(q.font_table.size(), 3u);
    EXPECT_EQ(q.font_table[0], "Liberation Mono");
    EXPECT_EQ(q.font_table[1], "Liberation Sans");
    EXPECT_EQ(read_text_file(q.paths.font_web_table).substr(0, 36), "A=Liberation Mono\nB=Liberation Sans\n");
}

TEST_F(QuorvelJob, SampleReport) {
    std::string report = read_text_file(std::string(PRINTER_SOURCE_DIR) + "/samples/report.quorvel");
    ASSERT_FALSE(report.empty());
    auto pages = print(report);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(decode_barcodes(pages[0], dir.path), "CODE-128:RPT-2024-Q3");
    EXPECT_EQ(q.logo_filenames[size_t(logo_index('A'))], "logoA.png");
    // The logo heads both pages: 48 rows of a ring and a bar.
    for (const DotImage& p : pages) {
        InkBox logo = p.ink_in(0, 0, 1728, 48);
        EXPECT_EQ(logo.top, 2);
        EXPECT_EQ(logo.left, 2);
        EXPECT_EQ(logo.right, 92);
    }
    EXPECT_NE(read_text(pages[1], dir.path, 48).find("PAGETWONOTES"), std::string::npos);
}
