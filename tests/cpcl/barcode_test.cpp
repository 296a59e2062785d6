// Barcodes and 2-D symbols: every 1-D type of the table decoded back from the dot image, module
// sizes, placement by the justification, the human-readable line, refusals, PDF417 and QR Code.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

#include <zint.h>

namespace {
int smallest(const std::vector<int>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

// A barcode line on a label of its own.
std::string barcode_label(const std::string& line, const std::string& before = "") {
    std::vector<std::string> lines;
    if (!before.empty()) lines.push_back(before);
    lines.push_back(line);
    return one_label(lines, 300);
}
}  // namespace

using Barcodes = CpclTest;

// Every type name of the table, with data the reader gives back (the check characters the
// interpreter adds are part of what the readers return for Code 39 and Interleaved 2 of 5).
TEST_F(Barcodes, EveryLinearTypeDecodes) {
    struct Case {
        std::string type, data, expect, zxing_format;
    };
    const Case cases[] = {
        {"UPCA", "01234567890", "012345678905", "UPC-A"},
        {"UPCA2", "0123456789012", "012345678905", "UPC-A"},     // add-on 12
        {"UPCA5", "0123456789012345", "012345678905", "UPC-A"},  // add-on 12345
        {"UPCE", "0123456", "01234565", "UPC-E"},
        {"UPCE2", "012345612", "01234565", "UPC-E"},
        {"UPCE5", "012345612345", "01234565", "UPC-E"},
        {"EAN13", "400638133393", "4006381333931", "EAN-13"},
        {"EAN132", "40063813339312", "4006381333931", "EAN-13"},
        {"EAN135", "40063813339312345", "4006381333931", "EAN-13"},
        {"EAN8", "1234567", "12345670", "EAN-8"},
        {"EAN82", "123456712", "12345670", "EAN-8"},
        {"EAN85", "123456712345", "12345670", "EAN-8"},
        {"39", "CODE39", "CODE39", "Code39"},
        {"39C", "CODE39", "CODE39W", "Code39"},  // modulo 43 check character W
        {"F39", "CODE39", "CODE39", "Code39"},
        {"F39C", "CODE39", "CODE39W", "Code39"},
        {"93", "CODE93", "CODE93", "Code93"},
        {"I2OF5", "12345678", "12345678", "ITF"},
        {"I2OF5C", "1234567", "12345670", "ITF"},  // weighted modulo 10 check digit 0
        {"I2OF5G", "12345678", "12345678", "ITF"},
        {"UCCEAN128", "(01)09501101530003", "0109501101530003", "Code128"},
        {"128", "HELLO-128", "HELLO-128", "Code128"},
        {"CODABAR", "A123456B", "123456", "Codabar"},
        {"CODABAR16", "A123456B", "123456-", "Codabar"},  // modulo 16 check character "-"
        {"NOSUCHTYPE", "ANY 128", "ANY 128", "Code128"},
    };
    for (const Case& c : cases) {
        DotImage img = label(barcode_label("BARCODE " + c.type + " 2 1 80 100 50 " + c.data));
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << c.type;
        // EAN and UPC symbols keep room for a leading digit left of their guard bars
        bool ean = c.type.rfind("UPC", 0) == 0 || c.type.rfind("EAN", 0) == 0;
        if (ean) {
            EXPECT_GE(b.left, 100) << c.type;
            EXPECT_LE(b.left, 100 + 12 * 3) << c.type;
        } else {
            EXPECT_EQ(b.left, 100) << c.type;
        }
        EXPECT_EQ(b.top, 50) << c.type;
        // narrow width 2: modules of 3 dots
        EXPECT_EQ(smallest(runs(img, b.top + 30, b.left, b.right, true)), 3) << c.type;
        InkBox area = grown(b, 4);
        EXPECT_EQ(zxing(img, dir.path, c.zxing_format, &area), c.expect) << c.type;
    }
}

// zbar reads what ZXing does not read here (add-ons) and reads the others a second time.
TEST_F(Barcodes, ZbarReadsAddOnsAndTheMainTypes) {
    struct Case {
        std::string type, data, expect, option;
    };
    const Case cases[] = {
        {"EAN132", "40063813339312", "4006381333931", ""},
        {"EAN135", "40063813339312345", "12345", "-Sean5.enable"},
        {"UPCA", "01234567890", "0012345678905", ""},
        {"128", "ABC-123", "ABC-123", ""},
        {"39", "CODE39", "CODE39", ""},
        {"93", "CODE93", "CODE93", ""},
        {"I2OF5", "12345678", "12345678", ""},
    };
    for (const Case& c : cases) {
        DotImage img = label(barcode_label("BARCODE " + c.type + " 2 1 80 100 50 " + c.data));
        InkBox area = grown(img.ink(), 4);
        std::string read = zbar(img, dir.path, &area, c.option);
        EXPECT_NE(read.find(c.expect), std::string::npos) << c.type << ": " << read;
    }
}

// No reader here takes these; their bars are measured.
TEST_F(Barcodes, MsiPostnetAndFimHaveTheirBars) {
    // MSI: a start (2 modules bar), 4 bits a digit (bar-space pairs 1:2 or 2:1 of 3 modules),
    // a stop; modules of 3 dots. "1234" plus the check digits of each variant.
    const std::pair<std::string, int> msi[] = {{"MSI", 4}, {"MSI10", 5}, {"MSI1010", 6}, {"MSI1110", 6}};
    for (const auto& [type, digits] : msi) {
        DotImage img = label(barcode_label("BARCODE " + type + " 2 1 60 100 50 1234"));
        InkBox b = img.ink();
        ASSERT_FALSE(b.empty) << type;
        std::vector<int> bars = runs(img, b.top + 30, b.left, b.right, true);
        EXPECT_EQ(int(bars.size()), 1 + 4 * digits + 2) << type;
        for (int r : bars) EXPECT_TRUE(r == 3 || r == 6) << type << " bar " << r;
    }
    EXPECT_EQ(cpcl::linear_symbol("MSI10", "1234").data, "12344");
    EXPECT_EQ(cpcl::linear_symbol("MSI1010", "1234").data, "123448");
    EXPECT_EQ(cpcl::linear_symbol("MSI1110", "1234").data, "123430");

    // POSTNET: 5 bars a digit, 2 of them tall, a frame bar each end, and a check digit.
    DotImage post = label(barcode_label("BARCODE POSTNET 2 1 40 100 50 12345"));
    InkBox pb = post.ink();
    ASSERT_FALSE(pb.empty);
    EXPECT_EQ(runs(post, pb.bottom - 1, pb.left, pb.right, true).size(), size_t(2 + 5 * 6));
    EXPECT_EQ(runs(post, pb.top + 1, pb.left, pb.right, true).size(), size_t(2 + 2 * 6));

    // FIM A: five bars of one module, spaces of 1, 5, 5 and 1 modules (3-dot modules).
    DotImage fim = label(barcode_label("BARCODE FIM 2 1 60 100 50 A"));
    InkBox fb = fim.ink();
    ASSERT_FALSE(fb.empty);
    EXPECT_EQ(runs(fim, fb.top + 10, fb.left, fb.right, true), std::vector<int>({3, 3, 3, 3, 3}));
    EXPECT_EQ(runs(fim, fb.top + 10, fb.left, fb.right, false), std::vector<int>({3, 15, 15, 3}));
}

TEST_F(Barcodes, NarrowWidthSetsTheModuleAndHeightTheBars) {
    // narrow 1: scale 2; 2..12: one more than asked; beyond: 2
    const std::pair<int, int> modules[] = {{1, 2}, {2, 3}, {3, 4}, {5, 6}, {13, 2}};
    for (const auto& [narrow, module] : modules) {
        DotImage img = label(barcode_label("BARCODE 128 " + std::to_string(narrow) + " 1 60 100 50 HELLO128"));
        InkBox b = img.ink();
        EXPECT_EQ(smallest(runs(img, b.top + 20, b.left, b.right, true)), module) << narrow;
        EXPECT_EQ(b.width(), (11 * 10 + 13) * module) << narrow;
        // bars: whole rows of `module` dots, at least the height asked for
        EXPECT_EQ(b.height(), (60 + module - 1) / module * module) << narrow;
    }
    EXPECT_EQ(cpcl::narrow_scale(1), 2);
    EXPECT_EQ(cpcl::narrow_scale(3), 4);
    EXPECT_EQ(cpcl::narrow_scale(12), 13);
    EXPECT_EQ(cpcl::narrow_scale(0), 2);
}

TEST_F(Barcodes, PlacedByTheJustification) {
    DotImage none = label(barcode_label("BARCODE 128 1 1 50 240 60 ABC"));
    InkBox nb = none.ink();
    EXPECT_EQ(nb.left, 240) << "without a justification command the barcode is at x";
    EXPECT_EQ(nb.top, 60);
    int w = nb.width();

    DotImage center = label(barcode_label("BARCODE 128 1 1 50 240 60 ABC", "CENTER"));
    EXPECT_NEAR(center.ink().left, 1728 / 2 - w / 2, 1) << "centred on the page, x ignored";
    DotImage right = label(barcode_label("BARCODE 128 1 1 50 240 60 ABC", "RIGHT"));
    EXPECT_EQ(right.ink().right, 1727);
    DotImage left = label(barcode_label("BARCODE 128 1 1 50 240 60 ABC", "LEFT"));
    EXPECT_EQ(left.ink().left, 240);
    // a narrower page
    DotImage narrow = label(one_label({"PAGE-WIDTH 800", "RIGHT", "BARCODE 128 1 1 50 240 60 ABC"}, 300));
    EXPECT_EQ(narrow.ink().right, 799);
    // CENTER with a width: centred within that width from x
    DotImage within = label(barcode_label("BARCODE 128 1 1 50 100 60 ABC", "CENTER 600"));
    EXPECT_NEAR(within.ink().left, 100 + 300 - w / 2, 1);
    run(one_label({"LEFT"}));
    printed();
}

TEST_F(Barcodes, VerticalBarcodeReadsUpFromItsOrigin) {
    DotImage flat = label(one_label({"BARCODE 128 1 1 50 200 400 VERTICAL"}, 500));
    int w = flat.ink().width();
    DotImage img = label(one_label({"VBARCODE 128 1 1 50 200 400 VERTICAL"}, 500));
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 200);
    EXPECT_EQ(b.width(), 50);
    EXPECT_EQ(b.bottom, 399) << "lower-left corner at (x, y)";
    EXPECT_EQ(b.height(), w);
    InkBox area = grown(b, 4);
    EXPECT_EQ(zxing(img, dir.path, "Code128", &area), "VERTICAL");
}

TEST_F(Barcodes, HumanReadableLine) {
    DotImage bare = label(barcode_label("BARCODE 128 2 1 50 100 50 12345678"));
    DotImage with = label(barcode_label("BARCODE 128 2 1 50 100 50 12345678", "BARCODE-TEXT 7 0 5"));
    EXPECT_EQ(bare.ink().height(), 51);
    EXPECT_GT(with.ink().height(), 51 + 8) << "the line under the bars";
    InkBox line = with.ink_in(0, 102, 1728, with.height);
    ASSERT_FALSE(line.empty);
    EXPECT_NE(ocr_line(with, dir.path, line, 3, "0123456789").find("12345678"), std::string::npos);
    DotImage off = label(barcode_label("BARCODE 128 2 1 50 100 50 12345678", "BT OFF"));
    EXPECT_EQ(off.ink().height(), 51);
}

TEST_F(Barcodes, RefusedDataDrawsTheEncodersMessage) {
    DotImage img = label(one_label({"BARCODE EAN13 2 1 80 100 50 NOTDIGITS", "BOX 600 250 620 270 20"}, 300));
    InkBox text = img.ink_in(0, 0, 1728, 240);
    ASSERT_FALSE(text.empty) << "the message is on the label";
    EXPECT_NEAR(text.left, 100, 4);
    EXPECT_NEAR(text.top, 50, 12);
    EXPECT_LT(text.height(), 60) << "one line of text, no bars";
    std::string read = ocr_line(img, dir.path, grown(text, 2), 2);
    EXPECT_NE(read.find("Invalid"), std::string::npos) << read;
    EXPECT_TRUE(img.dot(610, 260)) << "the rest of the label is drawn";
}

TEST_F(Barcodes, Pdf417RowsAndModules) {
    DotImage img = label(one_label({"BARCODE PDF-417 100 60 XD 2 YD 8 C 3 S 2", "PDF417 DATA 12345",
                                    "ENDPDF"}, 400));
    InkBox b = img.ink();
    ASSERT_FALSE(b.empty);
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 60);
    // start pattern: 8 modules bar, 1 space, 1 bar
    std::vector<int> bars = runs(img, b.top + 2, b.left, b.left + 40, true);
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars[0], 16);
    EXPECT_EQ(bars[1], 2);
    EXPECT_EQ(b.height() % 8, 0) << "whole rows of YD dots";
    InkBox area = grown(b, 6);
    EXPECT_EQ(zxing(img, dir.path, "PDF417", &area), "PDF417 DATA 12345");

    // several data lines, defaults (XD 2, YD 6, 3 columns)
    img = label(one_label({"B PDF-417 100 60", "FIRST LINE", "SECOND LINE", "ENDPDF"}, 400));
    b = img.ink();
    EXPECT_EQ(b.height() % 6, 0);
    area = grown(b, 6);
    EXPECT_EQ(zxing(img, dir.path, "PDF417", &area), "FIRST LINE\r\nSECOND LINE");
}

TEST_F(Barcodes, VerticalPdf417) {
    DotImage img = label(one_label({"VBARCODE PDF-417 100 380 XD 2 YD 6", "VERTICAL PDF", "ENDPDF"}, 400));
    InkBox b = img.ink();
    ASSERT_FALSE(b.empty);
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.bottom, 379);
    InkBox area = grown(b, 6);
    EXPECT_EQ(zxing(img, dir.path, "PDF417", &area), "VERTICAL PDF");
}

TEST_F(Barcodes, QrCodeAutomaticAndManualData) {
    DotImage img = label(one_label({"BARCODE QR 100 60 M 2 U 5", "MA,HELLO, QR CODE 123", "ENDQR"}, 400));
    InkBox b = img.ink();
    ASSERT_FALSE(b.empty);
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 60);
    EXPECT_EQ(b.width(), b.height());
    EXPECT_EQ(b.width() % 5, 0) << "modules of U dots";
    EXPECT_EQ(runs(img, b.top + 2, b.left, b.left + 40, true).front(), 7 * 5) << "finder pattern";
    InkBox area = grown(b, 10);
    EXPECT_EQ(zbar(img, dir.path, &area), "HELLO, QR CODE 123");
    EXPECT_EQ(zxing(img, dir.path, "QRCode", &area), "HELLO, QR CODE 123");

    // manual: numeric, alphanumeric and byte segments
    img = label(one_label({"B QR 100 60 U 4", "MM,N0123456789,AABC DEF,B0004a,b;", "ENDQR"}, 400));
    area = grown(img.ink(), 10);
    EXPECT_EQ(zbar(img, dir.path, &area), "0123456789ABC DEFa,b;");
    EXPECT_EQ(zxing(img, dir.path, "QRCode", &area), "0123456789ABC DEFa,b;");

    // centred like a barcode
    img = label(one_label({"CENTER", "B QR 100 60 U 4", "MA,CENTRED", "ENDQR", "LEFT"}, 400));
    b = img.ink();
    EXPECT_NEAR((b.left + b.right) / 2, 864, 2);
}

TEST_F(Barcodes, QrDataForms) {
    EXPECT_EQ(cpcl::qr_payload("MA,HELLO, WORLD\r\n"), "HELLO, WORLD");
    EXPECT_EQ(cpcl::qr_payload("HA,X\r\nsecond line\r\n"), "X");
    EXPECT_EQ(cpcl::qr_payload("MM,NABC,AXYZ"), "ABCXYZ");
    EXPECT_EQ(cpcl::qr_payload("MM,B0004DATA"), "DATA") << "B, a four-digit length, then the bytes";
    EXPECT_EQ(cpcl::qr_payload("MM,B0003a,b,N12"), "a,b12") << "the length lets commas through";
    EXPECT_EQ(cpcl::qr_payload("MM,KXY,ZZ"), "XYZZ") << "unknown mode letters stay";
    EXPECT_EQ(cpcl::qr_payload("NO COMMA"), "");
}

TEST_F(Barcodes, QrRefusedAndLongData) {
    // A line longer than 127 characters reaches the symbol whole: 1000 characters decode.
    std::string long_data;
    for (int i = 0; i < 100; ++i) long_data += "0123456789";
    DotImage img = label(one_label({"B QR 100 60 U 2", "MA," + long_data, "ENDQR"}, 400));
    InkBox area = grown(img.ink(), 10);
    EXPECT_EQ(zbar(img, dir.path, &area), long_data);
    // More than a QR Code holds: the encoder's message instead.
    std::string too_long(3000, 'x');
    img = label(one_label({"B QR 100 60 U 2", "MA," + too_long, "ENDQR"}, 400));
    InkBox b = img.ink();
    ASSERT_FALSE(b.empty);
    EXPECT_LT(b.height(), 60) << "a line of text, no symbol";
    EXPECT_NE(ocr_line(img, dir.path, grown(b, 2), 2).find("Error"), std::string::npos);
}

TEST_F(Barcodes, CheckCharacters) {
    EXPECT_EQ(cpcl::linear_symbol("39C", "CODE39").data, "CODE39W");
    EXPECT_EQ(cpcl::linear_symbol("I2OF5C", "1234567").data, "12345670");
    EXPECT_EQ(cpcl::linear_symbol("CODABAR", "123456").data, "A123456A") << "start and stop added";
    EXPECT_EQ(cpcl::linear_symbol("CODABAR16", "A123456B").data, "A123456-B");
    EXPECT_EQ(cpcl::linear_symbol("UPCA2", "0123456789012").data, "01234567890+12");
    EXPECT_EQ(cpcl::linear_symbol("UCCEAN128", "(01)09501101530003").data, "[01]09501101530003");
    EXPECT_EQ(cpcl::linear_symbol("EAN13", "1").symbology, BARCODE_EANX);
    EXPECT_EQ(cpcl::linear_symbol("F39", "a").symbology, BARCODE_EXCODE39);
    EXPECT_EQ(cpcl::linear_symbol("SOMETHING", "a").symbology, BARCODE_CODE128);
}
