// Hostile jobs: a fresh interpreter is really fresh, no job changes what a later one prints, and the
// faults the fuzz harness and hand-made labels found stay mended (each test holds the job that
// showed the fault, minimised).
#include "image_builder.h"
#include "render_shapes.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_state.h"
#include "zpl_test_support.h"

#include <cairo.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

class Hardening : public ZplTest {
protected:
    // Contrast triggers are taken at once, as the print engine would: a job that sets the
    // darkness twice would otherwise wait for the first one.
    void SetUp() override {
        ZplTest::SetUp();
        contrast_trigger_written = [](const std::string& path) { unlink(path.c_str()); };
    }
    void TearDown() override {
        contrast_trigger_written = nullptr;
        ZplTest::TearDown();
    }
    // Everything a job left behind on disk (dot images, the trigger, stored objects), as the fuzz
    // target removes it between inputs.
    void forget_output() {
        for (const char* sub : {"dot_feeder_intake", "imstart_intake", "formats", "graphics", "ram_formats",
                                "ram_graphics", "logos"}) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(dir.path + "/" + sub, ec)) fs::remove_all(e.path(), ec);
        }
    }
    // The label's dot image and the shell lines run for it, on a fresh interpreter.
    std::pair<DotImage, std::vector<std::string>> fresh(const std::string& zpl) {
        zpl_fresh_state();
        shell_lines.clear();
        DotImage img = label(zpl);
        return {img, shell_lines};
    }
};

// Uses what the state-changing jobs below change: the default font and size, home, orientation,
// encoding, hex escapes, resolution, module width, darkness, prefixes and delimiter, the typeset
// continuation, barcode and shape commands.
const char* const REFERENCE =
    "^XA^FO50,50^A0N,40,30^FDFRESH_41^FS^FO50,120^ADN^FDDEFAULT SIZE^FS^FT50,300^FDTYPESET^FS"
    "^FO50,350^BCN,60^FD12345^FS^FO50,500^GB200,100,3^FS^FO300,500^B7N,4,5,3,8^FDPDF^FS^XZ";

TEST_F(Hardening, AFreshInterpreterKeepsNothingOfTheJobBefore) {
    auto [expected, expected_lines] = fresh(REFERENCE);
    ASSERT_FALSE(expected.ink().empty);
    const char* jobs[] = {
        "^XA^CF0,6496,6496^CFB^XZ",                                       // default font and size
        "^XA^LH300,300^FWR^CI28^FH_^JMB^BY5^MD10^PW100^LL50^XZ",          // settings of the format
        "^CC+^CT#^CD;",                                                  // prefixes and delimiter
        "^XA^FO0,0^BCR,50^FD1^FS",                                       // a label left open
        "^XA^FO10,5000^B3R,N,10^FDAB^FS^XZ",                             // the typeset continuation
        "^XA^DFR:F.ZPL^FS^FO0,0^FDX",                                    // a format left open
        "^XA^DFR:F.ZPL^FS^FO10,10^FN1^FS^XZ^XA^XFR:F.ZPL^FS^FN1^FDSTORED",  // a recall left open
        "^XA^FO0,0^B7N,5,5,5,5^FDABC",                                   // a PDF417 symbol prepared
        "~SD20^XA^MD-30^XZ",                                             // darkness
        "^XA^CWA,E:OCRA.FNT^CW0,E:OCRB.FNT^XZ",                          // the font table
        "~DGR:X.GRF,2,1,FFFF^XA^FO0,0^XGR:X.GRF,9,9^ISR:Z.PNG,N^XZ",      // stored objects
        "^XA^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS"
        "^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS"
        "^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS"
        "^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS"
        "^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS"
        "^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS^FO0,0^GB1728,6496,1728^FS",  // the page budget used up
        "^XA^FO0,0^GFA,8,8,1,FF",                                        // graphic data cut short
    };
    for (const char* job : jobs) {
        zpl_fresh_state();
        run(job);
        forget_output();
        auto [got, lines] = fresh(REFERENCE);
        EXPECT_EQ(got.header, expected.header) << job;
        EXPECT_TRUE(got.raster == expected.raster) << job;
        EXPECT_EQ(lines, expected_lines) << job;
    }
}

TEST_F(Hardening, ALabelDoesNotContinueTheTypesetPositionOfTheLabelBefore) {
    // The rotated barcode moves the continuation to x = 600, where the next label's text starts: it
    // was taken for a typeset field and raised by three quarters of its height.
    const std::string text = "^XA^FO600,100^A0N,40^FDX^FS^XZ";
    DotImage alone = label(text);
    run("^XA^FO0,600^B3R,N,10^FDAB^FS^XZ");
    take_image();
    DotImage after = label(text);
    EXPECT_EQ(after.ink().top, alone.ink().top);
    EXPECT_EQ(after.ink().left, alone.ink().left);
}

TEST_F(Hardening, RotatedBarcodesKeepTheContinuationWithinBounds) {
    // 1100 turned symbols 2,000,000 dots down: the continuation grew by each field's y and
    // overflowed an int (caught by the sanitizer tree).
    std::string job = "^XA^LH0,1000000";
    for (int i = 0; i < 1100; ++i) job += "^FO0,1000000^B3R,N,10^FD~^FS";
    run(job + "^XZ");
    EXPECT_EQ(global.x_record, MAX_POSITION_DOTS);
}

TEST_F(Hardening, DrawingsFarOffThePageLeaveNoTrace) {
    // A filled bar 300,000 dots to the right turned the whole page black; at 100,000 the
    // rasteriser ran out of stack; with ^LH and ^FO of a million it took gigabytes.
    for (const char* far : {"^FO300000,0^GB32000,32000,32000^FS", "^FO100000,0^GB32000,32000,32000^FS",
                            "^LH1000000,1000000^FO1000000,1000000^GB32000,32000,32000^FS^LH0,0",
                            "^LH-1000000,0^FO0,0^GB32000,32000,32000^FS^LH0,0"}) {
        DotImage img = label(std::string("^XA") + far + "^FO0,0^GB100,100,3^FS^XZ");
        InkBox ink = img.ink();
        EXPECT_EQ(ink.left, 0) << far;
        EXPECT_EQ(ink.top, 0) << far;
        EXPECT_EQ(ink.width(), 100) << far;
        EXPECT_EQ(ink.height(), 100) << far;
    }
    // What is recorded never reaches beyond the area that can land on the page.
    run("^XA^FO900000,900000^GB32000,32000,32000^FS^FO-900000,0^GC32000,32000^FS^FO0,0^GB10,10,10^FS");
    double x0 = 0, y0 = 0, w = 0, h = 0;
    cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &h);
    EXPECT_GE(x0, RECORDING_X0 - 1);
    EXPECT_LE(x0 + w, RECORDING_X0 + RECORDING_WIDTH + 1);
    EXPECT_LE(y0 + h, RECORDING_Y0 + RECORDING_HEIGHT + 1);
    run("^XZ");
    take_image();
}

TEST_F(Hardening, CharacterSizesEndAtTheLongestPage) {
    run("^XA^CF0,32000,32000^XZ");
    EXPECT_EQ(config.font_h, MAX_FONT_DOTS);
    EXPECT_EQ(config.font_w, MAX_FONT_DOTS);
    zpl_fresh_state();
    run("^XA^FO0,0^A0N,99999,20000");
    EXPECT_EQ(text.height, MAX_FONT_DOTS) << "the size of the field";
    EXPECT_EQ(text.width, MAX_FONT_DOTS);
    zpl_fresh_state();
    // A letter 3000 dots tall (drawn as an outline, not a cached glyph) still prints as a letter.
    DotImage big = label("^XA^FO100,0^A0N,3000,3000^FDI^FS^XZ");
    InkBox ink = big.ink();
    EXPECT_GT(ink.height(), 1500);
    EXPECT_LT(ink.height(), 3000);
    EXPECT_GT(ink.width(), 150);
    EXPECT_LT(ink.width(), 1000);
}

TEST_F(Hardening, AbsurdStretchesKeepTheirFont) {
    // A letter 1 dot tall and 32000 wide: the font engine refused the size and cairo lost the font
    // it had made (LeakSanitizer in the sanitizer tree).
    const std::string after = "^XA^FO0,0^A0N,40^FDOK^FS^XZ";
    DotImage alone = label(after);
    DotImage absurd = label("^XA^FO0,0^AAN,1,32000^FDXY^FS^FO0,200^AAN,32000,32000^FDXY^FS^XZ");
    EXPECT_FALSE(absurd.ink().empty);
    DotImage next = label(after);
    EXPECT_TRUE(next.raster == alone.raster) << "the next label is not changed";
}

TEST_F(Hardening, ReplayedFormatsPutBytesBackInOrder) {
    push_input("ABC");
    EXPECT_EQ(get_datas(), 'A');
    unget_char('x');
    push_input("12");
    feed("R");
    std::string got;
    for (int c; (c = get_datas()) >= 0;) got.push_back(char(c));
    EXPECT_EQ(got, "12xBCR");

    // A stored format of 4000 graphic fields, each ended by the next command's prefix, which is put
    // back: each of those copied the rest of the format (25 s for a megabyte).
    std::string format = "^XA^DFR:MANY.ZPL^FS";
    for (int i = 0; i < 4000; ++i) {
        format += "^FO";
        format += std::to_string(i % 200 * 8);
        format += ',';
        format += std::to_string(i / 200 * 2);
        format += "^GFA,2,2,1,80";
    }
    run(format + "^XZ");
    DotImage img = label("^XA^XFR:MANY.ZPL^FS^XZ");
    InkBox ink = img.ink();
    EXPECT_EQ(ink.left, 0);
    EXPECT_EQ(ink.right, 199 * 8);
    EXPECT_EQ(ink.bottom, 19 * 2);
}

TEST_F(Hardening, SavedPicturesAreOneBitAndPlaceAgainAlike) {
    // ^IS to a picture wrote a 32-bit PNG of the whole page (0.9 s each); a 1-bit palette picture
    // with a transparent background shows the same ink.
    run("^XA^FO40,30^GB300,200,20^FS^FO400,100^A0N,60^FDSAVED^FS^ISR:PAGE.PNG,N^XZ");
    std::ifstream png(dir.path + "/logos/PAGE.png", std::ios::binary);
    ASSERT_TRUE(png) << "the picture was written";
    char head[26] = {};
    png.read(head, sizeof head);
    EXPECT_EQ(head[24], 1) << "bit depth";
    EXPECT_EQ(head[25], 3) << "palette";
    DotImage direct = label("^XA^FO40,30^GB300,200,20^FS^FO400,100^A0N,60^FDSAVED^FS^XZ");
    DotImage placed = label("^XA^FO0,0^IMR:PAGE.PNG^FS^XZ");
    // The picture is as wide as the head, so it is placed at its left edge, at the field's y.
    EXPECT_EQ(placed.ink().left, direct.ink().left);
    EXPECT_EQ(placed.ink().top, direct.ink().top);
    EXPECT_EQ(placed.ink().right, direct.ink().right);
    EXPECT_EQ(placed.ink().bottom, direct.ink().bottom);
}

TEST_F(Hardening, AFullPagePicturePlacedThirtyTimesIsCopiedOnlyWhileThePageHasRoom) {
    // Thirty ^IM of a full-page picture copied 1.3 GB into the recording.
    run("^XA^FO0,0^GB1728,6496,1728^FS^ISR:FULL.PNG,N^XZ");
    std::string job = "^XA";
    for (int i = 0; i < 30; ++i) job += "^FO0,0^IMR:FULL.PNG^FS";
    run(job);
    EXPECT_FALSE(page_budget_left()) << "later copies were left out";
    run("^XZ");
    DotImage img = take_image();
    EXPECT_EQ(img.ink().top, 0);
    EXPECT_EQ(img.ink().height(), MAX_PAGE_ROWS);
    // The next label has the whole budget again.
    run("^XA^FO0,0^IMR:FULL.PNG^FS");
    EXPECT_TRUE(page_budget_left());
    run("^XZ");
    take_image();
}
