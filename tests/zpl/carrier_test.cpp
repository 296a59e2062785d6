// Labels written the way carrier label systems write them: every symbol decodes to the content the
// host meant, field blocks, reversed fields, turned pages and typeset positions land where meant.
#include "image_builder.h"
#include "render_symbols.h"
#include "symbol_reading.h"
#include "zpl_code128.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_state.h"
#include "zpl_test_support.h"

#include <thread>

class Carrier : public ZplTest {
protected:
    void SetUp() override {
        ZplTest::SetUp();
        PATH_TO_BARCODE_SVG = dir.path + "/barcode.svg";
    }
    std::vector<ReadSymbol> symbols(const DotImage& img) { return read_symbols(img, dir.path); }
    // Ink bands of rows (lines of text) within the box.
    std::vector<InkBox> lines_in(const DotImage& img, InkBox area) {
        std::vector<InkBox> out;
        int start = -1;
        for (int y = area.top; y <= area.bottom + 1; ++y) {
            bool ink = y <= area.bottom && !img.ink_in(area.left, y, area.right + 1, y + 1).empty;
            if (ink && start < 0) start = y;
            if (!ink && start >= 0) {
                out.push_back(img.ink_in(area.left, start, area.right + 1, y));
                start = -1;
            }
        }
        return out;
    }
};

TEST_F(Carrier, Code128InvocationCodesAndModesScanAsTheHostMeant) {
    // GS1-128 as label systems send it: start C, FNC1, an element string, FNC1 after a variable
    // length field.
    DotImage gs1 = label("^XA^BY2^FO40,40^BCN,120,Y,N^FD>;>8010950110153000310ABC123>82112345^FS^XZ");
    std::vector<ReadSymbol> s = symbols(gs1);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].identifier, "]C1") << "FNC1 first: GS1 data";
    EXPECT_EQ(s[0].text, "010950110153000310ABC123\\x1d2112345");
    EXPECT_EQ(zbar_read(gs1, dir.path).find(">"), std::string::npos) << "no invocation code is a character";
    // Mode D: the element strings written with their identifiers in brackets.
    DotImage d = label("^XA^BY2^FO40,40^BCN,120,Y,N,N,D^FD(00)012345678901234567^FS^XZ");
    s = symbols(d);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].identifier, "]C1");
    EXPECT_EQ(s[0].text, "00012345678901234567");
    DotImage dv = label("^XA^BY2^FO40,40^BCN,120,Y,N,N,D^FD(10)ABC(21)XYZ^FS^XZ");
    s = symbols(dv);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].text, "10ABC\\x1d21XYZ") << "FNC1 after the variable-length lot number";
    // Mode U: 19 digits and their check digit after FNC1.
    std::string digits = "0012345678901234567";
    DotImage u = label("^XA^BY2^FO40,40^BCN,120,Y,N,N,U^FD" + digits + "^FS^XZ");
    s = symbols(u);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].identifier, "]C1");
    EXPECT_EQ(s[0].text, digits + gs1_check_digit(digits));
    // Mode A: digit runs in subset C, so the symbol is narrower than the same data in subset B.
    DotImage a = label("^XA^BY2^FO40,40^BCN,100,N,N,N,A^FD12345678ABCD567890^FS^XZ");
    DotImage n = label("^XA^BY2^FO40,40^BCN,100,N,N,N,N^FD12345678ABCD567890^FS^XZ");
    EXPECT_EQ(texts_of(symbols(a), "Code128"), std::vector<std::string>{"12345678ABCD567890"});
    EXPECT_EQ(texts_of(symbols(n), "Code128"), std::vector<std::string>{"12345678ABCD567890"});
    EXPECT_LT(a.ink().width(), n.ink().width() - 40);
    // The escapes for ">", "^" and "~", and a start in subset C with a switch to B.
    DotImage e = label("^XA^BY2^FO40,40^BCN,100,N^FDA>0B><C>=D^FS^XZ");
    EXPECT_EQ(texts_of(symbols(e), "Code128"), std::vector<std::string>{"A>B^C~D"});
    DotImage c = label("^XA^BY2^FO40,40^BCN,100,N^FD>;123456>6AB^FS^XZ");
    EXPECT_EQ(texts_of(symbols(c), "Code128"), std::vector<std::string>{"123456AB"});
    // Subset C from the start: 8 digits take 4 characters (start C + 4 + check + stop).
    DotImage tracking = label("^XA^BY1^FO40,40^BCN,100,N^FD>;12345678^FS^XZ");
    EXPECT_EQ(tracking.ink().width(), 11 * 6 + 13);
}

TEST_F(Carrier, Code128ModulesMatchTheEncoderTables) {
    // The values of a plain subset B field, read back through the module patterns.
    Code128Symbol sym = code128_from_field("HELLO128", 'N');
    EXPECT_EQ(code128_content(sym.values), "HELLO128");
    EXPECT_EQ(code128_modules(sym.values).size(), size_t(11 * 10 + 13));
    Code128Symbol gs1 = code128_from_field(">;>80112345678901231", 'N');
    EXPECT_EQ(code128_content(gs1.values), "]C10112345678901231");
    EXPECT_EQ(gs1.text, "0112345678901231");
    EXPECT_EQ(gs1_bracketed("0109501101530003172601011\x1d" "10ABC"), "");
    EXPECT_EQ(gs1_bracketed("01095011015300031726010110ABC\x1d" "2112"), "[01]09501101530003[17]260101[10]ABC[21]12");
}

TEST_F(Carrier, HexEscapesInEverySymbol) {
    // Carrier messages in PDF417 and Code 128 with record and group separators written as ^FH
    // escapes.
    DotImage pdf = label("^XA^BY2^FO40,40^B7N,4,3,6^FH^FD[)>_1E01_1D961Z12345678_1DUPSN_1E_04^FS^XZ");
    EXPECT_EQ(texts_of(symbols(pdf), "PDF417"),
              std::vector<std::string>{"[)>\\x1e01\\x1d961Z12345678\\x1dUPSN\\x1e\\x04"});
    DotImage c128 = label("^XA^BY2^FO40,40^BCN,100,N^FH^FD>:AB_1DCD_7E^FS^XZ");
    EXPECT_EQ(texts_of(symbols(c128), "Code128"), std::vector<std::string>{"AB\\x1dCD~"});
    DotImage qr = label("^XA^FO40,40^BQN,2,5^FH^FDMA,AB_5FCD^FS^XZ");
    EXPECT_EQ(texts_of(symbols(qr), "QRCode"), std::vector<std::string>{"AB_CD"});
}

TEST_F(Carrier, DataMatrixAndAztec) {
    DotImage dm = label("^XA^FO50,50^BXN,6,200^FDDATA MATRIX 12345^FS^XZ");
    InkBox b = dm.ink();
    EXPECT_EQ(b.left, 50);
    EXPECT_EQ(b.top, 50);
    EXPECT_EQ(b.width() % 6, 0) << "6-dot modules";
    EXPECT_EQ(texts_of(symbols(dm), "DataMatrix"), std::vector<std::string>{"DATA MATRIX 12345"});
    // GS1 Data Matrix: FNC1 first and between the element strings, as the escape sequence ~1.
    DotImage gs1 = label("^XA^FO50,50^BXN,6,200^FD~10109501101530003~110ABC~121XYZ^FS^XZ");
    std::vector<ReadSymbol> s = symbols(gs1);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].identifier, "]d2");
    EXPECT_EQ(s[0].text, "010950110153000310ABC\\x1d21XYZ");
    // A rectangle of 16 x 48 modules when asked for by columns and rows.
    DotImage rect = label("^XA^FO50,50^BXN,4,200,48,16^FDRECT^FS^XZ");
    EXPECT_EQ(rect.ink().width(), 48 * 4);
    EXPECT_EQ(rect.ink().height(), 16 * 4);
    EXPECT_EQ(texts_of(symbols(rect), "DataMatrix"), std::vector<std::string>{"RECT"});
    // Aztec is ^BO; ^B0 stays Interleaved 2 of 5 on this printer.
    DotImage az = label("^XA^FO60,60^BON,5,N,0,N,1,0^FDAZTEC PARCEL 0042^FS^XZ");
    EXPECT_EQ(az.ink().left, 60);
    EXPECT_EQ(texts_of(symbols(az), "Aztec"), std::vector<std::string>{"AZTEC PARCEL 0042"});
    DotImage i25 = label("^XA^BY2^FO60,60^B0N,5^FD12345678^FS^XZ");
    EXPECT_EQ(texts_of(symbols(i25), "ITF"), std::vector<std::string>{"12345678"});
}

TEST_F(Carrier, FieldBlockLinesAreCentredAndWrapped) {
    // A centred block three lines deep, as label systems centre an address line.
    DotImage img = label("^XA^CF0,40^FO100,100^FB600,3,10,C^FDFIRST LINE\\&THE SECOND ONE\\&3^FS^XZ");
    std::vector<InkBox> lines = lines_in(img, InkBox{false, 0, 90, img.width - 1, 300});
    ASSERT_EQ(lines.size(), 3u);
    for (const InkBox& l : lines) EXPECT_NEAR((l.left + l.right) / 2.0, 100 + 600 / 2.0, 2) << l.left << ".." << l.right;
    EXPECT_NEAR(lines[1].top - lines[0].top, 50, 3) << "40-dot letters and 10 dots between lines";
    // Wrapping at blanks within the width; a line of its own for each word that does not fit.
    DotImage wrap = label("^XA^CF0,30^FO50,50^FB200,9,10,L^FDTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG^FS^XZ");
    std::vector<InkBox> wl = lines_in(wrap, InkBox{false, 0, 40, wrap.width - 1, 400});
    EXPECT_GE(wl.size(), 3u);
    for (const InkBox& l : wl) {
        EXPECT_GE(l.left, 50);
        EXPECT_LE(l.right, 250);
    }
    // Right and justified lines end at the block's right edge; a hanging indent moves the lines
    // after the first.
    DotImage right = label("^XA^CF0,30^FO50,50^FB400,1,0,R^FDRIGHT^FS^XZ");
    EXPECT_NEAR(right.ink().right, 449, 2);
    DotImage just = label("^XA^CF0,30^FO50,50^FB400,2,0,J^FDAAA BBB CCC DDD EEE FFF GGG HHH III JJJ^FS^XZ");
    std::vector<InkBox> jl = lines_in(just, InkBox{false, 0, 40, just.width - 1, 200});
    ASSERT_EQ(jl.size(), 2u);
    EXPECT_NEAR(jl[0].right, 449, 4) << "justified to the full width";
    DotImage hang = label("^XA^CF0,30^FO50,50^FB300,3,0,L,40^FDAAAA BBBB CCCC DDDD EEEE FFFF GGGG^FS^XZ");
    std::vector<InkBox> hl = lines_in(hang, InkBox{false, 0, 40, hang.width - 1, 300});
    ASSERT_GE(hl.size(), 2u);
    EXPECT_NEAR(hl[1].left - hl[0].left, 40, 3);
    // Lines beyond the block's most are printed over its last line.
    DotImage over = label("^XA^CF0,30^FO50,50^FB100,2,0,L^FDAAAA BBBB CCCC DDDD^FS^XZ");
    EXPECT_EQ(lines_in(over, InkBox{false, 0, 40, over.width - 1, 400}).size(), 2u);
}

TEST_F(Carrier, ReversedFieldsInvertWhatLiesBelow) {
    // White text on a black bar, as carriers print the service level.
    DotImage img = label("^XA^FO50,50^GB500,120,120^FS^FO80,80^FR^A0N,60,60^FDEXPRESS^FS^XZ");
    InkBox box{false, 50, 50, 549, 169};
    size_t white = 0;
    for (int y = box.top; y <= box.bottom; ++y)
        for (int x = box.left; x <= box.right; ++x) white += !img.dot(x, y);
    EXPECT_GT(white, 2000u) << "the letters are white inside the bar";
    EXPECT_TRUE(img.dot(55, 55) && img.dot(545, 165)) << "the bar is still black";
    // The white letters read like black letters once the page is inverted.
    DotImage inverted = img;
    for (uint8_t& b : inverted.raster) b = uint8_t(~b);
    EXPECT_NE(ocr(inverted, dir.path, InkBox{false, 60, 60, 540, 160}, "ABCDEFGHIJKLMNOPQRSTUVWXYZ").find("EXPRESS"),
              std::string::npos);
    // Outside anything black a reversed field is plain ink; ^LR reverses every field until ^LRN.
    DotImage plain = label("^XA^FO80,80^FR^A0N,60,60^FDEXPRESS^FS^XZ");
    DotImage normal = label("^XA^FO80,80^A0N,60,60^FDEXPRESS^FS^XZ");
    // (Letters drawn through the inverting group may fall a dot apart at their edges.)
    auto differing = [](const DotImage& a, const DotImage& b) {
        int n = 0;
        for (int y = 0; y < std::min(a.height, b.height); ++y)
            for (int x = 0; x < a.width; ++x) n += a.dot(x, y) != b.dot(x, y);
        return n;
    };
    auto ink_dots = [](const DotImage& a) {
        int n = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) n += a.dot(x, y);
        return n;
    };
    EXPECT_LT(differing(plain, normal), ink_dots(normal) / 20) << "the same letters";
    EXPECT_NEAR(plain.ink().left, normal.ink().left, 1);
    EXPECT_NEAR(plain.ink().right, normal.ink().right, 1);
    DotImage lr = label("^XA^LRY^FO50,50^GB500,120,120^FS^FO80,80^A0N,60,60^FDEXPRESS^FS^LRN^XZ");
    EXPECT_LT(differing(lr, img), 400) << "with ^LRY the text field inverts the bar as with ^FR";
    EXPECT_EQ(lr.height, img.height);
    // Two reversed text fields on one page (the second once made the page's replay wait for ever).
    DotImage two = label("^XA^FO50,50^GB500,220,220^FS^FO80,80^FR^A0N,60,60^FDFIRST^FS"
                         "^FO80,180^FR^A0N,60,60^FDSECOND^FS^XZ");
    for (int top : {80, 180}) {
        int white_dots = 0;
        for (int y = top; y < top + 60; ++y)
            for (int x = 80; x < 500; ++x) white_dots += !two.dot(x, y);
        EXPECT_GT(white_dots, 500) << "white letters in the line at " << top;
    }
    EXPECT_TRUE(two.dot(55, 55));
}

TEST_F(Carrier, WhiteShapesTakeInkAway) {
    DotImage img = label("^XA^FO50,50^GB300,200,200^FS^FO100,100^GB100,50,50,W^FS"
                         "^FO250,80^GC40,20,W^FS^FO60,200^GE80,30,15,W^FS^FO300,150^GD40,80,6,W,L^FS^XZ");
    EXPECT_TRUE(img.dot(60, 60));
    EXPECT_FALSE(img.dot(150, 125)) << "white box";
    EXPECT_FALSE(img.dot(270, 82)) << "white circle";
    EXPECT_FALSE(img.dot(100, 214)) << "white ellipse";
    EXPECT_FALSE(img.dot(321, 191)) << "white diagonal line";
    EXPECT_TRUE(img.dot(150, 160)) << "below the white box";
}

TEST_F(Carrier, PrintOrientationTurnsThePageDotForDot) {
    const std::string body = "^PW812^LL600^FO40,40^A0N,50,50^FDTURN ME^FS^FO100,300^BY2^BCN,80,Y^FD12345^FS"
                             "^FO600,500^GB150,60,6^FS";
    DotImage upright = label("^XA" + body + "^XZ");
    DotImage turned = label("^XA^POI" + body + "^XZ");
    ASSERT_EQ(upright.height, turned.height);
    const int w = 812;
    int differ = 0;
    for (int y = 0; y < upright.height; ++y)
        for (int x = 0; x < w; ++x) differ += upright.dot(x, y) != turned.dot(w - 1 - x, upright.height - 1 - y);
    EXPECT_EQ(differ, 0);
    EXPECT_TRUE(turned.ink_in(w, 0, turned.width, turned.height).empty);
    // It stays for later labels until ^PON.
    DotImage still = label("^XA" + body + "^XZ");
    EXPECT_TRUE(still.raster == turned.raster);
    DotImage back = label("^XA^PON" + body + "^XZ");
    EXPECT_TRUE(back.raster == upright.raster);
}

TEST_F(Carrier, TypesetPositionsFromTheTopWithTheSettingsKey) {
    write_text_file(ZPL_CONFIG_FILE, "[global]\ntypeset_from_top=1\n");
    zpl_fresh_state();
    DotImage img = label("^XA^FT100,300^A0N,60,60^FDHEH^FS^XZ");
    EXPECT_NEAR(img.ink().bottom, 299, 1) << "the baseline at y";
    DotImage bars = label("^XA^BY2^FT100,400^BCN,100,N^FD12345^FS^XZ");
    EXPECT_EQ(bars.ink().bottom, 399) << "barcodes stand on y";
    EXPECT_EQ(bars.ink().top, 300);
    DotImage qr = label("^XA^FT100,400^BQN,2,4^FDQA,TOP DOWN^FS^XZ");
    EXPECT_NEAR(qr.ink().bottom, 399, 1);
    // Without the key this printer's rule stays: y counts up from the label length.
    write_text_file(ZPL_CONFIG_FILE, "[global]\nlabel_len=1000\n");
    zpl_fresh_state();
    DotImage old = label("^XA^FT100,300^A0N,60,60^FDHEH^FS^XZ");
    EXPECT_GT(old.ink().bottom, 650);
}

TEST_F(Carrier, FieldDataCommandsAndCodePages) {
    DotImage fv = label("^XA^FO50,50^A0N,40,40^FVVARIABLE DATA^FS^XZ");
    DotImage fd = label("^XA^FO50,50^A0N,40,40^FDVARIABLE DATA^FS^XZ");
    EXPECT_TRUE(fv.raster == fd.raster);
    // Latin-1 / Windows-1252 bytes of a single-byte code page print as their letters.
    DotImage latin = label("^XA^CI27^FO50,50^A0N,50,50^FDM\xFC" "nchen \x80 5^FS^XZ");
    DotImage utf8 = label("^XA^CI28^FO50,50^A0N,50,50^FDM\xC3\xBC" "nchen \xE2\x82\xAC 5^FS^XZ");
    EXPECT_TRUE(latin.raster == utf8.raster);
    DotImage escaped = label("^XA^CI0^FH^FO50,50^A0N,50,50^FDM_FCnchen _80 5^FS^XZ");
    EXPECT_TRUE(escaped.raster == utf8.raster);
    // An empty ^FD keeps the field origin for the graphic that follows it.
    DotImage graphic = label("^XA^FO627,45^FD^GFA,16,16,2,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF^FS^XZ");
    EXPECT_EQ(graphic.ink().left, 627);
    EXPECT_EQ(graphic.ink().top, 45);
}

TEST_F(Carrier, ShortBinaryGraphicEndsAndPrintsTheLabel) {
    // The host declares 100 bytes and sends 20; the label is printed with what came, and the next
    // label is read as commands again.
    run("^XA^FO10,10^GFB,100,100,10," + std::string(20, '\xff'));
    DotImage first = take_image();
    EXPECT_EQ(first.ink().top, 10);
    EXPECT_EQ(first.ink().height(), 2);
    DotImage next = label("^XA^FO10,10^A0N,40,40^FDNEXT^FS^XZ");
    EXPECT_FALSE(next.ink().empty);
    // The same with the command thread waiting as on the device: the wait inside the declared
    // data is bounded.
    zpl_stop_when_dry = false;
    binary_data_wait_ms = 200;
    feed("^XA^FO10,10^GFB,100,100,10," + std::string(30, '\xff'));
    for (int i = 0; i < 3; ++i) process_one_command();  // ^XA, ^FO, ^GF
    binary_data_wait_ms = 3000;
    zpl_stop_when_dry = true;
    EXPECT_EQ(take_image().ink().height(), 3);
}

TEST_F(Carrier, AFieldAfterDefaultSizedLettersStaysOnItsOrigin) {
    // ^A...,0,0 takes the default size; for fonts B to D its whole-number stretch is 0, so the field
    // measured nothing. The next field at the same x must not be taken for a typeset continuation.
    for (char f : {'A', 'B', 'D'}) {
        std::string a = std::string("^A") + f + "N,0,0";
        DotImage img = label("^XA^FO50,100" + a + "^FDFIRST^FS^FO50,200^A0N,40,40^FDSECOND^FS^XZ");
        InkBox second = img.ink_in(0, 150, img.width, img.height);
        EXPECT_GE(second.top, 200) << f;
        EXPECT_LT(second.top, 215) << f;
    }
}
