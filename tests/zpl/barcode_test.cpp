// Barcode fields decoded back from the dot image; module widths measured in dots.
#include "image_builder.h"
#include "render_symbols.h"
#include "zpl_barcodes.h"
#include "zpl_label.h"
#include "zpl_test_support.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {
// Runs a decoder over the image written as a PBM file; its standard output.
std::string decode_with(const std::vector<std::string>& argv_prefix, const DotImage& img,
                        const std::string& folder) {
    // Grey map: both decoders read it.
    std::string path = folder + "/label.pgm";
    {
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << img.width << " " << img.height << "\n255\n";
        std::string row(size_t(img.width), '\0');
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) row[size_t(x)] = img.dot(x, y) ? '\0' : '\xff';
            out.write(row.data(), std::streamsize(row.size()));
        }
    }
    std::vector<char*> argv;
    std::vector<std::string> args = argv_prefix;
    args.push_back(path);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    gchar* out = nullptr;
    gint status = 0;
    g_spawn_sync(nullptr, argv.data(), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                 nullptr, &out, nullptr, &status, nullptr);
    std::string text = out ? out : "";
    g_free(out);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string zbar(const DotImage& img, const std::string& folder) {
    return decode_with({"zbarimg", "-q", "--raw"}, img, folder);
}

std::string zxing(const DotImage& img, const std::string& folder, const std::string& format) {
    std::string out = decode_with({"ZXingReader", "-format", format}, img, folder);
    size_t at = out.find("Text:");
    if (at == std::string::npos) return "";
    size_t q1 = out.find('"', at), q2 = out.find('"', q1 + 1);
    return out.substr(q1 + 1, q2 - q1 - 1);
}

// Black and white run lengths along row y between x0 and x1.
std::vector<int> runs(const DotImage& img, int y, int x0, int x1, bool black) {
    std::vector<int> out;
    int n = 0;
    for (int x = x0; x <= x1 + 1; ++x) {
        bool d = x <= x1 && img.dot(x, y);
        if (d == black) ++n;
        else if (n) out.push_back(n), n = 0;
    }
    return out;
}

// Along a column.
std::vector<int> column_runs(const DotImage& img, int x, int y0, int y1, bool black) {
    std::vector<int> out;
    int n = 0;
    for (int y = y0; y <= y1 + 1; ++y) {
        bool d = y <= y1 && img.dot(x, y);
        if (d == black) ++n;
        else if (n) out.push_back(n), n = 0;
    }
    return out;
}

int smallest(const std::vector<int>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
}  // namespace

class Barcodes : public ZplTest {
protected:
    void SetUp() override {
        ZplTest::SetUp();
        PATH_TO_BARCODE_SVG = dir.path + "/barcode.svg";
    }
};

TEST_F(Barcodes, Code128ModuleIsTheModuleWidthAndBarsTheHeight) {
    for (int m : {1, 2, 3, 4}) {
        DotImage img = label("^XA^BY" + std::to_string(m) + "^FO100,50^BCN,80,N^FDHELLO128^FS^XZ");
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << m;
        EXPECT_EQ(b.left, 100) << m;
        EXPECT_EQ(b.top, 50) << m;
        EXPECT_EQ(b.height(), 80) << m;
        // start B (11 modules) + 8 data characters + check + stop (13 modules)
        EXPECT_EQ(b.width(), (11 * 10 + 13) * m) << m;
        int row = b.top + 40;
        EXPECT_EQ(smallest(runs(img, row, b.left, b.right, true)), m) << m;
        EXPECT_EQ(smallest(runs(img, row, b.left, b.right, false)), m) << m;
        EXPECT_EQ(zbar(img, dir.path), "HELLO128") << m;
        EXPECT_EQ(zxing(img, dir.path, "Code128"), "HELLO128") << m;
    }
    EXPECT_FALSE(file_exists(PATH_TO_BARCODE_SVG)) << "the scratch file is gone";
}

TEST_F(Barcodes, HumanReadableLineBelowTheBars) {
    DotImage with = label("^XA^BY2^FO100,50^BCN,60,Y^FD12345678^FS^XZ");
    DotImage without = label("^XA^BY2^FO100,50^BCN,60,N^FD12345678^FS^XZ");
    EXPECT_GT(with.ink().bottom, without.ink().bottom + 8);
    EXPECT_EQ(without.ink().height(), 60);
    EXPECT_EQ(zbar(with, dir.path), "12345678");
}

TEST_F(Barcodes, Code128RotationsDecodeAndSitAtTheOrigin) {
    DotImage n = label("^XA^BY2^FO200,100^BCN,100,N^FDROTATE^FS^XZ");
    InkBox nb = n.ink();
    for (char o : {'R', 'I', 'B'}) {
        DotImage img = label(std::string("^XA^BY2^FO200,100^BC") + o + ",100,N^FDROTATE^FS^XZ");
        InkBox b = img.ink();
        EXPECT_EQ(b.left, 200) << o;
        EXPECT_EQ(b.top, 100) << o;
        if (o == 'I') {
            EXPECT_EQ(b.width(), nb.width());
            EXPECT_EQ(b.height(), 100);
            EXPECT_EQ(smallest(runs(img, b.top + 50, b.left, b.right, true)), 2);
        } else {
            EXPECT_EQ(b.width(), 100) << o;
            EXPECT_EQ(b.height(), nb.width()) << o;
            EXPECT_EQ(smallest(column_runs(img, b.left + 50, b.top, b.bottom, true)), 2) << o;
        }
        EXPECT_EQ(zxing(img, dir.path, "Code128"), "ROTATE") << o;
    }
}

TEST_F(Barcodes, QrCodeModulesAndDataWithCommas) {
    DotImage img = label("^XA^FO100,100^BQN,2,4^FDQA,HELLO, WORLD,42^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 100);
    // version 1 is 21 x 21 modules; the finder pattern's outer ring is one module thick
    EXPECT_EQ(b.width() % 4, 0);
    EXPECT_EQ(b.width(), b.height());
    EXPECT_EQ(column_runs(img, b.left, b.top, b.top + 7 * 4, true).front(), 7 * 4);
    EXPECT_EQ(runs(img, b.top + 4 * 4 - 2, b.left, b.left + 7 * 4, true).front(), 4);
    EXPECT_EQ(zbar(img, dir.path), "HELLO, WORLD,42");
    EXPECT_EQ(zxing(img, dir.path, "QRCode"), "HELLO, WORLD,42");
    // mode letter without "A": its first data byte is the character mode
    DotImage m = label("^XA^FO100,100^BQN,2,3^FDMM,AHELLO^FS^XZ");
    EXPECT_EQ(zbar(m, dir.path), "HELLO");
}

TEST_F(Barcodes, OtherLinearSymbologiesDecode) {
    struct Case {
        std::string zpl, expect, format;
    };
    const Case cases[] = {
        {"^B3N,N,80,N^FDCODE39^FS", "CODE39", "Code39"},
        {"^BAN,80,N^FDCODE93^FS", "CODE93", "Code93"},
        {"^B2N,80,N^FD12345678^FS", "12345678", "ITF"},
        {"^BEN,80,N^FD400638133393^FS", "4006381333931", "EAN-13"},
        {"^BEN,80,N^FD12345^FS", "0000000123457", "EAN-13"},
        {"^B8N,80,N^FD1234567^FS", "12345670", "EAN-8"},
        {"^BUN,80,N^FD01234567890^FS", "012345678905", "UPC-A"},
        // the reader hands back the data without the start and stop characters
        {"^BKN,N,80,N,N,B,D^FD123456^FS", "123456", "Codabar"},
        {"^BKN,Y,80,N,N,X,C^FD31117013206375^FS", "31117013206375", "Codabar"},
        {"^B0N,8^FD123456^FS", "123456", "ITF"},
    };
    for (const Case& c : cases) {
        DotImage img = label("^XA^BY2^FO100,50" + c.zpl + "^XZ");
        ASSERT_FALSE(img.ink().empty) << c.zpl;
        InkBox b = img.ink();
        EXPECT_EQ(smallest(runs(img, b.top + 20, b.left, b.right, true)), 2) << c.zpl;
        EXPECT_EQ(smallest(runs(img, b.top + 20, b.left, b.right, false)), 2) << c.zpl;
        std::string got = zxing(img, dir.path, c.format);
        EXPECT_EQ(got, c.expect) << c.zpl;
    }
}

TEST_F(Barcodes, Pdf417DecodesWithoutItsOuterBlanks) {
    DotImage img = label("^XA^BY2^FO100,100^B7N,4,2,3,10^FD  PDF417 DATA 12345  ^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 100);
    // start pattern: 8 modules bar, then 1-module space and bar
    std::vector<int> bars = runs(img, b.top + 2, b.left, b.left + 40, true);
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars[0], 16);
    EXPECT_EQ(bars[1], 2);
    EXPECT_EQ(zxing(img, dir.path, "PDF417"), "PDF417 DATA 12345");
    EXPECT_EQ(pdf417_data[0], '\0') << "the buffer is emptied";
}

TEST_F(Barcodes, Pdf417RefusedDataPrintsTheEncodersMessage) {
    std::string data;
    for (int i = 0; i < 500; ++i) data += "aB";
    DotImage img = label("^XA^BY2^FO100,100^B7N,4,8,1,10^FD" + data + "^FS^FO100,600^GB10,10,10^FS^XZ");
    InkBox text = img.ink_in(0, 0, 1728, 580);
    ASSERT_FALSE(text.empty) << "the message is on the label";
    EXPECT_NEAR(text.left, 100, 3);
    EXPECT_LT(text.height(), 40) << "one line of text, no symbol";
    EXPECT_TRUE(img.dot(105, 605));
}

// No reader here takes these two; their bars are measured: narrow elements 1 module, wide 3.
TEST_F(Barcodes, Industrial2of5AndIata2of5Modules) {
    for (const char* cmd : {"^BIN,60,N", "^BJN,60,N"}) {
        DotImage img = label(std::string("^XA^BY3^FO100,50") + cmd + "^FD1234^FS^XZ");
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << cmd;
        EXPECT_EQ(b.left, 100) << cmd;
        EXPECT_EQ(b.height(), 60) << cmd;
        std::vector<int> bars = runs(img, b.top + 30, b.left, b.right, true);
        std::vector<int> spaces = runs(img, b.top + 30, b.left, b.right, false);
        for (int r : bars) EXPECT_TRUE(r == 3 || r == 9) << cmd << " bar " << r;
        for (int r : spaces) EXPECT_EQ(r % 3, 0) << cmd << " space " << r;
    }
}

TEST_F(Barcodes, CodabarStartAndStopCharacters) {
    DotImage img = label("^XA^BY2^FO100,50^BKN,Y,80,N,N,b,D^FD123456^FS^XZ");
    EXPECT_EQ(zbar(img, dir.path), "B123456D") << "no check character after the stop character";
}

TEST_F(Barcodes, ModuleWidthZeroAndRejectedDataKeepTheLabel) {
    run("^XA^BY3^XZ");
    DotImage img = label("^XA^BY0^FO100,50^BCN,50,N^FDABC^FS^FO100,300^BEN,50^FDNOTDIGITS^FS"
                         "^FO500,500^GB20,20,20^FS^XZ");
    EXPECT_EQ(smallest(runs(img, 75, 100, 600, true)), 3) << "^BY0 keeps the module width";
    EXPECT_TRUE(img.ink_in(0, 280, 400, 400).empty) << "invalid EAN data draws nothing";
    EXPECT_TRUE(img.dot(510, 510));
    run("^XA^BY2^XZ");
}

TEST(CheckCharacters, Mod10AndMod43) {
    EXPECT_EQ(mod10("12345", 5), '7');  // 3 * (1 + 3 + 5) + (2 + 4) = 33
    EXPECT_EQ(mod10("0", 1), '0');
    EXPECT_EQ(mod43("CODE39", 6), 'W');
}

TEST(HeightScaler, TableAndOutside) {
    EXPECT_DOUBLE_EQ(height_scaler(20, 5.89), 7.6);
    EXPECT_DOUBLE_EQ(height_scaler(100, 13.2), 0);
    EXPECT_DOUBLE_EQ(height_scaler(100, 8.5), 25.2);
    EXPECT_EQ(height_scaler(15, 5.89), -1);
    EXPECT_EQ(height_scaler(210, 5.89), -1);
    EXPECT_EQ(height_scaler(20, 7.0), -1);
}

TEST_F(Barcodes, PictureThatCannotBeLoadedIsSkipped) {
    run("^XA^FO10,10^GB5,5,5^FS");
    write_text_file(PATH_TO_BARCODE_SVG, "<svg this is not");
    globalBarcodeWidthScaling = 0.5;
    EXPECT_EQ(render_and_place_barcode(100, 100), 0);
    EXPECT_EQ(globalBarcodeWidthScaling, 1.0);
    release_barcode();
    EXPECT_FALSE(file_exists(PATH_TO_BARCODE_SVG));
    EXPECT_EQ(render_and_place_barcode(100, 100), 0) << "no file at all";
    run("^FO300,10^GB5,5,5^FS^XZ");
    DotImage img = take_image();
    EXPECT_EQ(img.ink().width(), 295);
}
