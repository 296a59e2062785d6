// Jobs through the outside tools: a two-page PDF, a PostScript page, pictures with transparency
// and as JPEG dithered, a picture taller than the print engine takes, a PostScript program that
// never ends, the converter's old output never printed again.
#include "image_builder.h"
#include "pdf_test_support.h"

#include <chrono>
#include <cmath>

class PdfRender : public PdfTest {};

TEST_F(PdfRender, TwoPagePdfGivesTwoReadablePages) {
    std::string pdf = make_pdf(dir.path + "/doc.pdf", {"FIRST PAGE 101", "SECOND PAGE 202"});
    auto pages = print(file_bytes(pdf));
    ASSERT_EQ(pages.size(), 2u);
    for (const DotImage& p : pages) {
        EXPECT_EQ(p.width, 1728);
        EXPECT_NEAR(p.height, 1728.0 * 842 / 595, 2) << "A4 scaled to the head";
    }
    EXPECT_EQ(read_text(pages[0], dir.path, 0, 500), "FIRSTPAGE101");
    EXPECT_EQ(read_text(pages[1], dir.path, 0, 500), "SECONDPAGE202");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1);
    EXPECT_FALSE(file_exists(intake + "/printjob-1"));
    EXPECT_FALSE(file_exists(s.paths.image_file));
}

TEST_F(PdfRender, PagesAreRenderedAFewAtATime) {
    s.pages_per_run = 2;
    std::string pdf = make_pdf(dir.path + "/doc.pdf", {"P ONE", "P TWO", "P THREE", "P FOUR", "P FIVE"});
    auto pages = print(file_bytes(pdf));
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(read_text(pages[2], dir.path, 0, 500), "PTHREE") << "in page order";
    EXPECT_EQ(read_text(pages[4], dir.path, 0, 500), "PFIVE");
}

TEST_F(PdfRender, PostScriptPage) {
    std::string ps = make_postscript(dir.path + "/doc.ps", "POSTSCRIPT 77");
    auto pages = print(file_bytes(ps));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(read_text(pages[0], dir.path, 0, 500), "POSTSCRIPT77");
    EXPECT_FALSE(file_exists(s.paths.new_pdf));
}

TEST_F(PdfRender, PngWithTransparencyIsDitheredOnWhite) {
    // Left half transparent (its hidden colour black), right half a grey ramp.
    std::string png = make_png(dir.path + "/pic.png", 432, 300, [](int x, int) { return x < 216 ? 0 : (x - 216); },
                               [](int x, int) { return x < 216 ? 0 : 255; });
    auto pages = print(file_bytes(png));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].width, 1728);
    EXPECT_EQ(pages[0].height, 1200) << "scaled 4 times to the head";
    EXPECT_TRUE(pages[0].ink_in(0, 0, 850, 1200).empty) << "transparent parts print white";
    // The dots follow the grey the converter made (its gamma lightens the picture), within 1 %.
    double dark = darkness_of_png(s.paths.render_png);
    EXPECT_NEAR(ink_share(pages), dark, 0.01);
    EXPECT_LT(dark, 0.5 * (1 - 127.0 / 255));
}

TEST_F(PdfRender, JpegIsDitheredToItsMeanGrey) {
    std::string png = make_png(dir.path + "/photo.png", 864, 600,
                               [](int x, int y) { return int(128 + 100 * std::sin(x / 40.0) * std::cos(y / 30.0)); },
                               [](int, int) { return 255; });
    std::string jpeg = dir.path + "/photo.jpg";
    ASSERT_EQ(program_output({"convert", png, "-quality", "90", jpeg}), "");
    ASSERT_TRUE(file_exists(jpeg));
    s.defaultEmulation = "IMAGE";
    auto pages = print(file_bytes(jpeg));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].height, 1200);
    EXPECT_NEAR(ink_share(pages), darkness_of_png(s.paths.render_png), 0.01);
    EXPECT_GT(ink_share(pages), 0.02);
}

TEST_F(PdfRender, PictureTallerThanThePrintEngineTakes) {
    std::string png = make_png(dir.path + "/tall.png", 1728, 8000, [](int x, int y) { return (x / 64 + y / 64) % 2 ? 255 : 0; },
                               [](int, int) { return 255; });
    auto pages = print(file_bytes(png));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].height, MAX_PAGE_ROWS);
    EXPECT_EQ(pages[1].height, 8000 - MAX_PAGE_ROWS);
    // The checkerboard goes on across the cut: row 6495 and row 6496 belong to the same square row.
    EXPECT_EQ(pages[0].dot(10, MAX_PAGE_ROWS - 1), pages[1].dot(10, 0));
    EXPECT_EQ(pages[1].dot(10, 8000 - MAX_PAGE_ROWS - 1), ((10 / 64 + 7999 / 64) % 2) == 0);
}

TEST_F(PdfRender, LoopingPostScriptIsStoppedAndTheNextJobPrints) {
    s.tool_limit_ms = 2000;
    auto t0 = std::chrono::steady_clock::now();
    auto pages = print("%!PS\n%%EndResource\n{ 1 pop } loop\n");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(pages.size(), 0u);
    EXPECT_TRUE(s.tool_timed_out);
    EXPECT_LT(seconds, 30);
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1) << "the slave is told all the same";
    std::string pdf = make_pdf(dir.path + "/next.pdf", {"NEXT JOB"});
    auto next = print(file_bytes(pdf));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(read_text(next[0], dir.path, 0, 500), "NEXTJOB");
}

TEST_F(PdfRender, AFailedConversionNeverPrintsTheLastPicture) {
    make_png(s.paths.render_png, 64, 64, [](int, int) { return 0; }, [](int, int) { return 255; });
    s.defaultEmulation = "IMAGE";
    EXPECT_EQ(print("this is no picture").size(), 0u);
    EXPECT_FALSE(file_exists(s.paths.render_png));
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1);
    s.defaultEmulation = "PDF";
    EXPECT_EQ(print("%PDF-1.4 broken").size(), 0u);
}
