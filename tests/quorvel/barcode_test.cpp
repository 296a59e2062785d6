// Barcodes: every type decodes from the dot image, the human-readable line, the Code 128 code set
// byte, the place on the page, data cut short by the end of the job.
#include "quorvel_test_support.h"

namespace {
std::string barcode_command(char kind, char type, const std::string& data, int height) {
    return std::string("\x1B") + kind + type + char(data.size()) + char(height) + data;
}
}  // namespace

class QuorvelBarcode : public QuorvelTest {};

TEST_F(QuorvelBarcode, EveryTypeDecodes) {
    struct Case {
        char type;
        std::string data, decoded;
    } cases[] = {
        {'1', "CODE39-42", "CODE-39:CODE39-42"},
        {'3', "12345678", "I2/5:12345678"},
        {'4', "0123456", "EAN-13:0012345000065"},  // 7 digits: UPC-E (read back expanded)
        {'4', "01234567890", "EAN-13:0012345678905"},  // 11 digits: UPC-A (read as EAN-13 with a 0)
        {'5', "A40156B", "Codabar:A40156B"},
        {'9', "Quorvel-128", "CODE-128:Quorvel-128"},
        {'9', "\x88" "Set B 128", "CODE-128:Set B 128"},
        {'9', "\x89" "SETC", "CODE-128:SETC"},
    };
    for (const Case& c : cases) {
        DotImage img = page(barcode_command('Z', c.type, c.data, 80));
        EXPECT_EQ(decode_barcodes(img, dir.path), c.decoded) << "type " << c.type;
    }
    // UPC-E is the short form: 51 modules of 3 dots (UPC-A has 95).
    EXPECT_NEAR(page(barcode_command('z', '4', "0123456", 80)).ink().width(), 51 * 3, 3);
    EXPECT_NEAR(page(barcode_command('z', '4', "01234567890", 80)).ink().width(), 95 * 3, 3);
}

TEST_F(QuorvelBarcode, CodabarWithoutStartAndStopGetsThem) {
    EXPECT_EQ(decode_barcodes(page(barcode_command('z', '5', "31117013206375", 80)), dir.path),
              "Codabar:A31117013206375A");
}

TEST_F(QuorvelBarcode, HumanReadableLineHeightAndPlace) {
    DotImage bars = page(barcode_command('z', '9', "ABC123", 100));
    DotImage with_text = page(barcode_command('Z', '9', "ABC123", 100));
    InkBox b = bars.ink();
    EXPECT_NEAR(b.height(), 100, 2) << "bars as tall as asked";
    EXPECT_GT(with_text.ink().height(), b.height() + 10) << "the human-readable line under the bars";
    EXPECT_NEAR((b.left + b.right) / 2.0, 864, 3) << "centred across the head";
    // 3-dot modules: Code 128 of 6 characters has 11 * 6 + 35 modules = 101, 303 dots.
    EXPECT_NEAR(b.width(), 303, 3);

    // Text before and after: the barcode lies between them.
    DotImage page_img = page("ABOVE\n" + barcode_command('z', '9', "ABC123", 100) + "BELOW\n");
    InkBox above = page_img.ink_in(0, 0, 1728, 30);
    InkBox symbol = page_img.ink_in(700, 0, 1000, page_img.height);
    EXPECT_FALSE(above.empty);
    EXPECT_GT(symbol.top, above.bottom);
    EXPECT_EQ(read_text(page_img, dir.path, symbol.bottom + 1), "BELOW");
}

TEST_F(QuorvelBarcode, DataCutShortOrRefusedPrintsNothing) {
    EXPECT_EQ(print("\x1BZ9\x20\x40" "SHORT").size(), 0u) << "32 bytes announced, 5 sent";
    EXPECT_EQ(print(barcode_command('Z', '4', "ABCDEFG", 60)).size(), 0u) << "letters in UPC-E";
    EXPECT_EQ(print(barcode_command('Z', '9', "", 60)).size(), 0u);
    // Height 0 gets the default bars.
    EXPECT_NEAR(page(barcode_command('z', '9', "X1", 0)).ink().height(), QUORVEL_BARCODE_HEIGHT, 2);
}
