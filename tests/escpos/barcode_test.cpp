// Barcodes and 2-D symbols decoded back from the paper with zbarimg and ZXingReader at two
// module widths; the data rules of GS k; the human-readable line; the symbol data buffers.
#include "escpos_test_support.h"

#include "render_symbols.h"

#include <algorithm>

using namespace escpos;
using namespace std::string_literals;

namespace {
std::string l16(long v) { return bytes({int(v & 0xff), int((v >> 8) & 0xff)}); }

// Black run lengths along row y.
std::vector<int> runs(const DotImage& img, int y, int x0, int x1) {
    std::vector<int> out;
    int n = 0;
    for (int x = x0; x <= x1 + 1; ++x) {
        if (x <= x1 && img.dot(x, y)) {
            ++n;
        } else if (n) {
            out.push_back(n);
            n = 0;
        }
    }
    return out;
}

struct LinearCase {
    const char* name;
    std::string command;  // GS k ...
    std::string text;     // the encoder's human-readable text
    std::string zbar;     // what zbarimg reads
    std::string format;   // ZXingReader's format
    std::string zxing;    // what it reads
};

std::string a_form(int m, const std::string& data) { return gs("k") + bytes({m}) + data + "\x00"s; }
std::string b_form(int m, const std::string& data) { return gs("k") + bytes({m, int(data.size())}) + data; }

const std::vector<LinearCase>& linear_cases() {
    static const std::vector<LinearCase> cases = {
        {"UPC-A", a_form(0, "123456789012"), "123456789012", "0123456789012", "UPC-A", "123456789012"},
        {"UPC-A B", b_form(65, "04210000526"), "042100005264", "0042100005264", "UPC-A", "042100005264"},
        {"UPC-E", a_form(1, "12345"), "00123457", "0001234000057", "UPC-E", "00123457"},
        {"UPC-E B", b_form(66, "42526"), "00425261", "0004252000061", "UPC-E", "00425261"},
        {"EAN-13", a_form(2, "590123412345"), "5901234123457", "5901234123457", "EAN-13", "5901234123457"},
        {"EAN-13 B", b_form(67, "4006381333931"), "4006381333931", "4006381333931", "EAN-13", "4006381333931"},
        {"EAN-8", a_form(3, "9638507"), "96385074", "96385074", "EAN-8", "96385074"},
        {"EAN-8 B", b_form(68, "5512345"), "55123457", "55123457", "EAN-8", "55123457"},
        {"CODE39", a_form(4, "CODE 39-$"), "*CODE 39-$*", "CODE 39-$", "Code39", "CODE 39-$"},
        {"CODE39 B", b_form(69, "ABC123"), "*ABC123*", "ABC123", "Code39", "ABC123"},
        {"ITF", a_form(5, "1234567890123"), "12345678901231", "12345678901231", "ITF", "12345678901231"},
        {"ITF B", b_form(70, "9501234"), "00000095012346", "00000095012346", "ITF", "00000095012346"},
        {"CODABAR", a_form(6, "A40156B"), "A40156B", "A40156B", "Codabar", "40156"},
        {"CODABAR B", b_form(71, "C31117013206375D"), "C31117013206375D", "C31117013206375D", "Codabar",
         "31117013206375"},
        {"CODE128 pairs", a_form(8, bytes({12, 34, 56, 78, 90, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9})), "123456789000010203040506070809",
         "123456789000010203040506070809", "Code128", "123456789000010203040506070809"},
        {"CODE128 text", a_form(24, "Receipt #0042"), "Receipt #0042", "Receipt #0042", "Code128", "Receipt #0042"},
        {"CODE93", b_form(72, "CODE93 TEST"), "CODE93 TEST", "CODE93 TEST", "Code93", "CODE93 TEST"},
        {"CODE128 sets", b_form(73, "{BNo.{C" + bytes({12, 34, 56}) + "{Aab"), "No.123456", "No.123456", "Code128",
         "No.123456"},
        {"GS1-128", b_form(74, "0109501101020917"), "(01)09501101020917", "0109501101020917", "Code128",
         "0109501101020917"},
    };
    return cases;
}
}  // namespace

class EscposSymbols : public EscposTest {};

TEST_F(EscposSymbols, EveryBarcodeDecodesAtTwoModuleWidths) {
    for (const LinearCase& c : linear_cases()) {
        for (int module : {2, 3}) {
            fresh();
            run(gs("w") + bytes({module}) + gs("h\x50") + c.command + "\n");
            std::string what = std::string(c.name) + " at " + std::to_string(module);
            EXPECT_EQ(st->symbols_placed, 1) << what;
            EXPECT_EQ(st->bar.pdata, c.text) << what;
            DotImage p = paper();
            InkBox box = p.ink();
            ASSERT_FALSE(box.empty) << what;
            // EAN and UPC symbols carry their quiet zone on the left; the others begin at once.
            bool ean = c.format.rfind("UPC", 0) == 0 || c.format.rfind("EAN", 0) == 0;
            EXPECT_EQ(box.left % module, 0) << what;
            EXPECT_LE(box.left, ean ? 11 * module : 0) << what;
            EXPECT_EQ(box.top, c.format == "Code128" && c.text[0] == '(' ? 10 : 0) << what;
            EXPECT_GE(box.height(), 80) << what;
            if (c.format != "ITF") {
                std::vector<int> bars = runs(p, box.top + 40, box.left, box.right);
                ASSERT_FALSE(bars.empty()) << what;
                EXPECT_EQ(*std::min_element(bars.begin(), bars.end()), module) << what;
                for (int b : bars) EXPECT_EQ(b % module, 0) << what;
            }
            EXPECT_EQ(zbar_read(p, box, dir.path), c.zbar) << what;
            EXPECT_EQ(zxing_read(p, box, dir.path, c.format), c.zxing) << what;
        }
    }
}

TEST_F(EscposSymbols, UpcAKeepsElevenDigitsAndShowsTheEncodersText) {
    // The twelfth digit (a wrong check digit) is dropped; the encoder adds the right one.
    run(gs("H\x02") + a_form(0, "123456789125") + "\n");
    EXPECT_EQ(st->bar.pdata, "123456789128");
    DotImage p = paper();
    InkBox all = p.ink();
    // The bars, then the text line below them.
    int bars_bottom = all.top;
    while (bars_bottom < p.height && !p.ink_in(0, bars_bottom, 1728, bars_bottom + 1).empty) ++bars_bottom;
    InkBox text = p.ink_in(0, bars_bottom, 1728, p.height);
    ASSERT_FALSE(text.empty);
    EXPECT_GE(bars_bottom, 162) << "the default height (the guard bars reach lower)";
    EXPECT_EQ(zxing_read(p, all, dir.path, "UPC-A"), "123456789128");
    EXPECT_PRED2(read_as, ocr_line(p, text, dir.path, "0123456789"), "123456789128");
    // The characters are spread over the symbol (quiet zones included: 113 modules of 3 dots),
    // 1 mm (16 dots) in from each end for each module dot beyond the first: 2 mm.
    EXPECT_GE(text.left, 16);
    EXPECT_LE(text.right, 339 - 16);
    EXPECT_NEAR((text.left + text.right) / 2.0, 339 / 2.0, 6);
}

TEST_F(EscposSymbols, Code128SetSelectorsAndTheirEnds) {
    run(b_form(73, "{BAB{C" + bytes({12, 34})) + "\n");
    EXPECT_EQ(st->bar.pdata, "AB1234");
    DotImage p = paper();
    EXPECT_EQ(zbar_read(p, p.ink(), dir.path), "AB1234");
    // Without a leading selector no barcode is printed; the byte after the first is decoded anew.
    fresh();
    st->device.conti_mode = false;
    decode(b_form(73, "AB"));
    EXPECT_EQ(st->symbols_placed, 0);
    EXPECT_STREQ(st->line.string, "B");
    // A byte the code set does not take ends the data early: the rest is decoded anew.
    fresh();
    st->device.conti_mode = false;
    decode(b_form(73, "{AXY" + bytes({0x61}) + "Z"));
    EXPECT_EQ(st->symbols_placed, 1);
    EXPECT_EQ(st->bar.pdata, "XY");
    EXPECT_STREQ(st->line.string, "Z");
    // Code set B: "{{" is a literal brace; code set C ends at 100.
    fresh();
    st->device.conti_mode = false;
    decode(b_form(73, "{Ba{{b{C" + bytes({5, 100}) + "W"));
    EXPECT_EQ(st->bar.pdata, "a{b05");
    EXPECT_STREQ(st->line.string, "W");
}

TEST_F(EscposSymbols, HumanReadableLineAboveAndBelow) {
    st->device.conti_mode = false;
    decode(gs("H3") + gs("h\x40") + a_form(24, "HRI42"));
    // Text line (30), bars (64), text line (30): the print position below the lower line.
    EXPECT_EQ(st->page.ypos, 30 + 64 + 30);
    run("");
    DotImage p = paper();
    InkBox above = p.ink_in(0, 0, 1728, 30), bars = p.ink_in(0, 30, 1728, 94), below = p.ink_in(0, 94, 1728, 124);
    ASSERT_FALSE(above.empty);
    ASSERT_FALSE(below.empty);
    EXPECT_EQ(bars.height(), 64);
    EXPECT_PRED2(read_as, ocr_line(p, above, dir.path, "HRI0123456789"), "HRI42");
    EXPECT_PRED2(read_as, ocr_line(p, below, dir.path, "HRI0123456789"), "HRI42");
    EXPECT_EQ(zbar_read(p, bars, dir.path), "HRI42");
    // Font B sets the line in the smaller font; position 0 none.
    fresh();
    st->device.conti_mode = false;
    decode(gs("H2") + gs("f1") + gs("h\x40") + a_form(4, "HRI42"));
    EXPECT_EQ(st->page.ypos, 64 + 30);
    fresh();
    st->device.conti_mode = false;
    decode(gs("H0") + gs("h\x40") + a_form(4, "HRI42"));
    EXPECT_EQ(st->page.ypos, 64);
}

TEST_F(EscposSymbols, BarcodeSettingsKeepTheirRanges) {
    decode(gs("h\x00"s) + gs("w\x07") + gs("H\x04") + gs("f2"));
    EXPECT_EQ(st->bar.height, 162);
    EXPECT_EQ(st->bar.scale, 3.0);
    EXPECT_EQ(st->bar.hri_pos, 0);
    EXPECT_EQ(st->bar.hri_font, 0);
    decode(gs("h\x20") + gs("w\x06") + gs("H2") + gs("f\x01"));
    EXPECT_EQ(st->bar.height, 32);
    EXPECT_EQ(st->bar.scale, 6.0);
    EXPECT_EQ(st->bar.hri_pos, 2);
    EXPECT_EQ(st->bar.hri_font, 1);
    // ESC @ brings the defaults back.
    decode(esc("@"));
    EXPECT_EQ(st->bar.height, 162);
}

TEST_F(EscposSymbols, RefusedDataPrintsNothingAndTheStreamGoesOn) {
    st->device.conti_mode = false;
    decode(a_form(2, "ABCDEF") + "Z");
    EXPECT_EQ(st->symbols_placed, 0);
    EXPECT_EQ(st->page.ypos, 0);
    EXPECT_STREQ(st->line.string, "Z");
    EXPECT_FALSE(file_exists(tmp + "/barcode.svg"));
    // GS k 7 uses the previous barcode's symbology: CODE39 after a reset, then CODE93.
    fresh();
    decode(a_form(7, "SEVEN"));
    EXPECT_EQ(st->bar.pdata, "*SEVEN*");
    decode(b_form(72, "NINE") + a_form(7, "THREE"));
    EXPECT_EQ(st->bar.pdata, "THREE");
    EXPECT_EQ(st->bar.symbology, 25);
    // Number pairs: a NUL among the first 15 bytes is the pair 00.
    fresh();
    decode(gs("k\x08"s) + bytes({1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0}) + "Z");
    EXPECT_EQ(st->bar.pdata, "010002030405060708091011121314");
    EXPECT_STREQ(st->line.string, "Z");
}

TEST_F(EscposSymbols, SymbolThatCannotBeReadIsLeftOut) {
    std::string svg = tmp + "/broken.svg";
    write_text_file(svg, "<svg this is not");
    SymbolDots dots;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(rasterise_symbol_file(svg, 203, 0, 1728, 1000, dots));
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("FAIL:"), std::string::npos) << said;
    EXPECT_TRUE(dots.bits.empty());
    // The scratch file cannot be written: nothing is drawn, the job goes on.
    st->device.conti_mode = false;
    st->env.barcode_svg = tmp + "/missing/barcode.svg";
    decode(a_form(4, "LOST") + "Z");
    EXPECT_EQ(st->symbols_placed, 0);
    EXPECT_STREQ(st->line.string, "Z");
}

namespace {
std::string symbol_cmd(int cn, int fn, const std::string& params) {
    return gs("(k") + l16(long(params.size()) + 2) + bytes({cn, fn}) + params;
}
std::string store(int cn, const std::string& data) { return symbol_cmd(cn, 80, "0" + data); }
std::string print(int cn) { return symbol_cmd(cn, 81, "0"); }
}  // namespace

TEST_F(EscposSymbols, QrCodeDecodesAtTwoModuleSizes) {
    const std::string data = "https://example.com/receipt?id=004217&total=24.10";
    for (int module : {3, 6}) {
        fresh();
        run(symbol_cmd('1', 67, bytes({module})) + symbol_cmd('1', 69, "1") + store('1', data) + print('1') + "\n");
        std::string what = "module " + std::to_string(module);
        EXPECT_EQ(st->symbols_placed, 1) << what;
        DotImage p = paper();
        InkBox box = p.ink();
        EXPECT_EQ(box.width(), box.height()) << what;
        EXPECT_EQ(box.width() % module, 0) << what;
        // The finder pattern: seven modules of ink down the left edge.
        std::vector<int> col;
        int n = 0;
        for (int y = box.top; y <= box.bottom && p.dot(box.left, y); ++y) ++n;
        EXPECT_EQ(n, 7 * module) << what;
        EXPECT_EQ(zbar_read(p, box, dir.path), data) << what;
        EXPECT_EQ(zxing_read(p, box, dir.path, "QRCode"), data) << what;
    }
}

TEST_F(EscposSymbols, MicroQrDecodesAtTwoModuleSizes) {
    for (int module : {4, 6}) {
        fresh();
        run(symbol_cmd('1', 65, "1" + bytes({0})) + symbol_cmd('1', 67, bytes({module})) + store('1', "12345") +
            print('1') + "\n");
        std::string what = "module " + std::to_string(module);
        EXPECT_EQ(st->symbols_placed, 1) << what;
        DotImage p = paper();
        InkBox box = p.ink();
        EXPECT_EQ(box.width(), box.height()) << what;
        EXPECT_LE(box.width(), 17 * module) << what;
        EXPECT_EQ(zxing_read(p, box, dir.path, "MicroQRCode", true), "12345") << what;
    }
}

TEST_F(EscposSymbols, Pdf417DecodesAtTwoModuleWidths) {
    const std::string data = "PDF417 receipt 004217";
    for (int module : {2, 3}) {
        fresh();
        run(symbol_cmd('0', 65, bytes({4})) + symbol_cmd('0', 66, bytes({0})) + symbol_cmd('0', 67, bytes({module})) +
            symbol_cmd('0', 68, bytes({4})) + symbol_cmd('0', 69, "02") + store('0', data) + print('0') + "\n");
        std::string what = "module " + std::to_string(module);
        EXPECT_EQ(st->symbols_placed, 1) << what;
        EXPECT_EQ(st->pdf417.columns_number, 4);
        EXPECT_EQ(st->pdf417.security_level, 2);
        DotImage p = paper();
        InkBox box = p.ink();
        std::vector<int> bars = runs(p, box.top + 2, box.left, box.right);
        ASSERT_FALSE(bars.empty());
        EXPECT_EQ(*std::min_element(bars.begin(), bars.end()), module) << what;
        EXPECT_EQ(zxing_read(p, box, dir.path, "PDF417", true), data) << what;
    }
}

TEST_F(EscposSymbols, MaxiCodeDecodesAtItsPrintedSize) {
    const std::string data = "MaxiCode receipt 004217";
    for (int mode : {2, 3}) {
        fresh();
        run(symbol_cmd('2', 65, bytes({'0' + mode})) + store('2', data) + print('2') + "\n");
        std::string what = "mode " + std::to_string(mode);
        EXPECT_EQ(st->symbols_placed, 1) << what;
        DotImage p = paper();
        InkBox box = p.ink();
        // 1.11 inches wide at 203 dots an inch.
        EXPECT_NEAR(box.width(), 225, 3) << what;
        EXPECT_EQ(zxing_read(p, box, dir.path, "MaxiCode", true), data) << what;
    }
}

TEST_F(EscposSymbols, SymbolDataInGb18030IsEncodedAsUtf8) {
    run(store('1', "\xd6\xd0\xce\xc4 OK") + print('1') + "\n");
    DotImage p = paper();
    EXPECT_EQ(zxing_read(p, p.ink(), dir.path, "QRCode"), "\xe4\xb8\xad\xe6\x96\x87 OK");
}

TEST_F(EscposSymbols, SymbolDataBuffersKeepWhatFits) {
    st->device.conti_mode = false;
    // 65532 data bytes: 1024 kept, all read.
    job(gs("(k\xff\xff" "1P0"s));
    for (int i = 0; i < 4; ++i) job(std::string(16383, 'D'));
    decode("Z");
    EXPECT_EQ(st->qr.pdata.size(), 1024u);
    EXPECT_STREQ(st->line.string, "Z");
    // Settings need their exact length; out-of-range values keep the old one.
    fresh();
    decode(gs("(k\x04\x00" "1C\x05\x06"s) + symbol_cmd('1', 67, bytes({17})) + symbol_cmd('1', 69, "5") +
           symbol_cmd('0', 66, bytes({2})) + symbol_cmd('0', 67, bytes({9})) + "Y");
    EXPECT_EQ(st->qr.module_size, 3);
    EXPECT_EQ(st->qr.security_level, 1);
    EXPECT_EQ(st->pdf417.rows_number, 15);
    EXPECT_EQ(st->pdf417.module_width, 3.0);
    EXPECT_STREQ(st->line.string, "Y");
    // A data length of 0 or 1 reads only what it declares.
    fresh();
    decode(gs("(k\x01\x00" "1X"s));
    EXPECT_STREQ(st->line.string, "X");
}
