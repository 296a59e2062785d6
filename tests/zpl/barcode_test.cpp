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
// Writes the columns `xs` (-1: a white column) of rows top..bottom as a grey map, each dot `scale`
// times over, with `border` white dots around.
void write_grey_map(const DotImage& img, const std::string& path, const std::vector<int>& xs, int top, int bottom,
                    int scale = 1, int border = 0) {
    int w = int(xs.size()) * scale + 2 * border, h = (bottom - top + 1) * scale + 2 * border;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool inside = x >= border && y >= border && x < w - border && y < h - border;
            int ix = inside ? xs[size_t((x - border) / scale)] : -1;
            row[size_t(x)] = ix >= 0 && img.dot(ix, (y - border) / scale + top) ? '\0' : '\xff';
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
}

// Runs a decoder over the image (a grey map: both decoders read it).
std::string decode_with(const std::vector<std::string>& argv_prefix, const DotImage& img,
                        const std::string& folder) {
    std::string path = folder + "/label.pgm";
    std::vector<int> xs(size_t(img.width));
    for (int x = 0; x < img.width; ++x) xs[size_t(x)] = x;
    write_grey_map(img, path, xs, 0, img.height - 1);
    std::vector<std::string> args = argv_prefix;
    args.push_back(path);
    return program_output(args);
}

// The texts tesseract reads in one line of the box, enlarged four times, taken as a line and as a
// word (each reading misses a letter now and then), without blanks. Bars that reach into the box
// from above are left out when `blank_bars` is set, and wide gaps between groups of letters are
// closed up to 12 dots (tesseract drops small letters far from the rest).
std::string read_line(const DotImage& img, const InkBox& box, const std::string& folder, const std::string& letters,
                      bool blank_bars = false) {
    std::vector<int> xs;
    int gap = 0;
    for (int x = box.left; x <= box.right; ++x) {
        bool bar = blank_bars && img.dot(x, box.top);
        bool inked = !img.ink_in(x, box.top, x + 1, box.bottom + 1).empty && !bar;
        gap = inked ? 0 : gap + 1;
        if (gap <= 12) xs.push_back(inked ? x : -1);
    }
    std::string path = folder + "/line.pgm";
    write_grey_map(img, path, xs, box.top, box.bottom, 4, 40);
    std::string texts;
    for (const char* mode : {"7", "8"}) {
        std::string text =
            program_output({"tesseract", path, "stdout", "--psm", mode, "-c", "tessedit_char_whitelist=" + letters});
        text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
        texts += "|" + text;
    }
    return texts + "|";
}

std::string zbar(const DotImage& img, const std::string& folder, const std::string& option = "") {
    std::vector<std::string> args{"zbarimg", "-q", "--raw"};
    if (!option.empty()) args.push_back(option);
    return decode_with(args, img, folder);
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


TEST_F(Barcodes, UpcEReadsAsTheNumberItCarries) {
    // 10 to 12 digits are a UPC-A number whose zeros are suppressed, fewer are UPC-E data. zbar
    // reads UPC-E as the UPC-A number it stands for (13 digits); asked for UPC-E, as the 8 digits
    // of the symbol.
    struct Case {
        std::string data, upca, upce;
    };
    const Case cases[] = {
        {"04210000526", "0042100005264", "04252614"},   // manufacturer ending 100, product below 1000
        {"4210000526", "0042100005264", "04252614"},    // no number system: 0
        {"042100005264", "0042100005264", "04252614"},  // with its check digit
        {"01200000005", "0012000000058", "01200508"},   // manufacturer ending 000
        {"01230000045", "0012300000451", "01234531"},   // manufacturer ending 00, product below 100
        {"01234000005", "0012340000053", "01234543"},   // manufacturer ending 0, product below 10
        {"01234500007", "0012345000072", "01234572"},   // product 5 to 9
        {"0123400", "0012000003400", "01234000"},       // UPC-E data: its zeros stay
        {"1234", "0000120000034", "00012344"},
    };
    for (const Case& c : cases) {
        DotImage img = label("^XA^BY2^FO100,50^B9N,80,N,N,Y^FD" + c.data + "^FS^XZ");
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << c.data;
        EXPECT_EQ(b.top, 50) << c.data;
        EXPECT_EQ(img.ink_in(b.left + 10, 0, b.left + 80, 200).height(), 80) << c.data;
        EXPECT_EQ(smallest(runs(img, b.top + 20, b.left, b.right, true)), 2) << c.data;
        EXPECT_EQ(zbar(img, dir.path), c.upca) << c.data;
        EXPECT_EQ(zbar(img, dir.path, "-Supce.enable"), c.upce) << c.data;
    }
    // number system 1: zbar does not take it
    DotImage one = label("^XA^BY2^FO100,50^B9N,80,N^FD11234500006^FS^XZ");
    EXPECT_EQ(zxing(one, dir.path, "UPC-E"), "11234562");
    // numbers without a UPC-E form, a wrong check digit, number system 2: nothing is drawn
    for (const char* data : {"01234567890", "01234500004", "042100005265", "21000000005", "2123456", "0123456789012"}) {
        DotImage img = label(std::string("^XA^BY2^FO100,50^B9N,80^FD") + data + "^FS^FO600,600^GB8,8,8^FS^XZ");
        EXPECT_TRUE(img.ink_in(0, 0, 590, 590).empty) << data;
    }
}

TEST_F(Barcodes, MaxiCodeHasItsPrintedSizeAndDecodes) {
    DotImage img = label("^XA^FO100,100^BD4,1,1^FDHELLO MAXICODE 12345^FS^XZ");
    InkBox b = img.ink();
    ASSERT_FALSE(b.empty);
    // 1.11 x 1.05 inches at 203 dots an inch: 225 x 214; within 3 dots
    EXPECT_NEAR(b.width(), 225, 3);
    EXPECT_NEAR(b.height(), 214, 3);
    EXPECT_NEAR(b.left, 100, 2);
    EXPECT_NEAR(b.top, 100, 2);
    EXPECT_EQ(zxing(img, dir.path, "MaxiCode"), "HELLO MAXICODE 12345");

    // mode 2: class of service, country and postal code before the carrier message; the reader
    // gives them back in their places inside the message
    img = label("^XA^FO100,100^BD2^FH^FD001840152382802[)>_1E01_1D961Z00004951_1DUPSN_1D06X610_1D159_1D1234567"
                "_1D1/1_1D_1DY_1D634 ALPHA DR_1DPITTSBURGH_1DPA_1E_04^FS^XZ");
    EXPECT_NEAR(img.ink().width(), 225, 3);
    EXPECT_EQ(zxing(img, dir.path, "MaxiCode"),
              "[)>\x1e" "01\x1d" "96152382802\x1d" "840\x1d" "001\x1d" "1Z00004951\x1dUPSN\x1d" "06X610\x1d" "159\x1d"
              "1234567\x1d" "1/1\x1d\x1dY\x1d" "634 ALPHA DR\x1dPITTSBURGH\x1dPA\x1e\x04");
    img = label("^XA^FO100,100^BD2^FD00184015238^FS^FO600,600^GB8,8,8^FS^XZ");
    EXPECT_TRUE(img.ink_in(0, 0, 590, 590).empty) << "no room for the postal code";

    // hexadecimal escapes; later barcodes take 3-dot modules
    run("^XA^BY2^XZ");
    img = label("^XA^FO100,100^FH^BD^FD_48I_2C_7e_3D^FS^XZ");
    EXPECT_EQ(zxing(img, dir.path, "MaxiCode"), "HI,~=");
    img = label("^XA^FO100,100^BCN,50,N^FDAB^FS^XZ");
    EXPECT_EQ(smallest(runs(img, 120, 100, 400, true)), 3);
    run("^XA^BY2^XZ");
}

TEST_F(Barcodes, AddOnsOfTwoAndFiveDigits) {
    for (int m : {2, 3}) {
        std::string by = "^XA^BY" + std::to_string(m);
        // the check parameter is ignored: add-ons carry their check in the bar pattern
        DotImage five = label(by + "^FO100,50^BSN,70,N,N,Y^FD12345^FS^XZ");
        InkBox b = five.ink();
        ASSERT_FALSE(b.empty) << m;
        EXPECT_EQ(b.height(), 70) << m;
        EXPECT_EQ(b.width(), 47 * m) << m;  // guard (4), 5 x 7, 4 separators x 2
        EXPECT_EQ(smallest(runs(five, b.top + 30, b.left, b.right, true)), m) << m;
        EXPECT_EQ(smallest(runs(five, b.top + 30, b.left, b.right, false)), m) << m;
        EXPECT_EQ(zbar(five, dir.path, "-Sean5.enable"), "12345") << m;
        DotImage two = label(by + "^FO100,50^BSN,70,N^FD12^FS^XZ");
        EXPECT_EQ(two.ink().width(), 20 * m) << m;  // guard (4), 2 x 7, 1 separator x 2
        EXPECT_EQ(zbar(two, dir.path, "-Sean2.enable"), "12") << m;
    }
    DotImage longer = label("^XA^BY2^FO100,50^BSN,70,N^FD123456^FS^FO600,600^GB8,8,8^FS^XZ");
    EXPECT_TRUE(longer.ink_in(0, 0, 590, 590).empty) << "six digits are no add-on";
}

// The line under the bars: read back by tesseract; letters of the same size for modules of 2 and 3
// dots and larger for wider ones (EAN and UPC digits grow with the symbol, between the guard
// bars); clear of the bars.
TEST_F(Barcodes, HumanReadableLineIsLegible) {
    struct Case {
        std::string command, data, text;
        bool between_guards;
    };
    const Case cases[] = {
        {"^BCN,80,Y", "12345678", "12345678", false},
        {"^B3N,N,80,Y", "AB12", "AB12", false},  // the stars around it are not read
        {"^BEN,80,Y", "400638133393", "4006381333931", true},
        {"^BUN,80,Y", "01234567890", "012345678905", true},
    };
    for (const Case& c : cases) {
        int width[7] = {}, height[7] = {};
        for (int m : {2, 3, 6}) {
            std::string where = c.command + " ^BY" + std::to_string(m);
            DotImage img = label("^XA^BY" + std::to_string(m) + "^FO100,50" + c.command + "^FD" + c.data + "^FS^XZ");
            InkBox bars = img.ink_in(0, 50, 1728, 130);
            // everything below the bars
            InkBox line = img.ink_in(0, 130, 1728, img.height);
            ASSERT_FALSE(line.empty) << where;
            EXPECT_GE(line.left, 100) << where;
            if (c.between_guards) {
                // the guard bars reach into the line; the digits keep clear of them
                line.top = 130;
                for (int x = line.left; x <= line.right; ++x) {
                    if (!img.dot(x, 130)) continue;
                    for (int side : {x - 1, x + 1}) {
                        if (img.dot(side, 130)) continue;
                        EXPECT_TRUE(img.ink_in(side, 130, side + 1, line.bottom + 1).empty) << where << " x " << side;
                    }
                }
            }
            std::string read = read_line(img, line, dir.path, "0123456789AB", c.between_guards);
            EXPECT_NE(read.find("|" + c.text + "|"), std::string::npos) << where << ": " << read;
            if (!c.between_guards) {
                EXPECT_GE(line.top, 133) << where << ": a gap under the bars";
                EXPECT_LE(line.width(), bars.width()) << where;
            }
            width[m] = line.width();
            height[m] = line.height();
        }
        EXPECT_NEAR(width[6], 2 * width[3], 12) << c.command;
        if (c.between_guards) {
            EXPECT_NEAR(width[2] * 3, width[3] * 2, 12) << c.command << ": digits grow with the bars";
        } else {
            EXPECT_NEAR(width[2], width[3], 2) << c.command << ": not squashed by the module width";
            EXPECT_NEAR(height[2], height[3], 1) << c.command;
            EXPECT_GE(height[2], 14) << c.command;
            EXPECT_NEAR(height[6], 2 * height[3], 3) << c.command;
        }
    }
}

// The encoder takes the EAN symbol from the length of the data; each command keeps to its own.
TEST_F(Barcodes, EanCommandsKeepToTheirSymbol) {
    DotImage img = label("^XA^BY2^FO100,50^B8N,80,N^FD12345^FS^XZ");
    EXPECT_EQ(zxing(img, dir.path, "EAN-8"), "00123457") << "padded, not an add-on";
    img = label("^XA^BY2^FO100,50^BEN,80,N^FS^FO100,50^B8N,80,N^FD1234567^FS^XZ");
    EXPECT_EQ(zxing(img, dir.path, "EAN-8"), "12345670") << "the padding of an unused ^BE stays with it";
    img = label("^XA^BY2^FO100,50^B8N,80,N^FD400638133393^FS^FO600,600^GB8,8,8^FS^XZ");
    EXPECT_TRUE(img.ink_in(0, 0, 590, 590).empty) << "EAN-13 data under ^B8";
    img = label("^XA^BY2^FO100,50^BSN,80,N^FS^FO100,50^BEN,80,N^FD12345^FS^XZ");
    EXPECT_EQ(zxing(img, dir.path, "EAN-13"), "0000000123457");
}
