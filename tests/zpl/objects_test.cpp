// Downloaded graphics (~DG, ^GF) in their encodings, stored objects (^XG ^IL ^IM ^IS ^ID ^DF ^XF)
// and the checks on object names and graphic data.
#include "image_builder.h"
#include "zpl_label.h"
#include "zpl_objects.h"
#include "zpl_test_support.h"

#include "../support/failing_readdir.h"

#include <sys/stat.h>

#include <cstdio>

namespace {
std::string hex_of(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// Row r of a graphic placed at (x0, y0), as bytes, read back from the dot image.
std::string row_bytes_at(const DotImage& img, int x0, int y, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        int v = 0;
        for (int bit = 0; bit < 8; ++bit) v = v << 1 | (img.dot(x0 + 8 * i + bit, y) ? 1 : 0);
        out.push_back(static_cast<char>(v));
    }
    return out;
}
}  // namespace

class ZplObjects : public ZplTest {
protected:
    std::string ram_graphics, flash_graphics, ram_formats, flash_formats, logos;
    void SetUp() override {
        ZplTest::SetUp();
        ram_graphics = dir.path + "/ram_graphics";
        flash_graphics = dir.path + "/graphics";
        ram_formats = dir.path + "/ram_formats";
        flash_formats = dir.path + "/formats";
        logos = dir.path + "/logos";
        PATH_TO_RAM_GRAPHICS = ram_graphics;
        PATH_TO_GRAPHICS = flash_graphics;
        PATH_TO_RAM_FORMATS = ram_formats;
        PATH_TO_FORMATS = flash_formats;
        PATH_TO_LOGOS = logos;
    }
    std::string stored(const std::string& path) { return hex_of(read_text_file(path)); }
};

TEST_F(ZplObjects, DownloadGraphicStoresHeaderAndRows) {
    run("~DGR:LOGO.GRF,8,2,FF00FF00FF00FF00\n");
    EXPECT_EQ(stored(ram_graphics + "/LOGO.GRF"), "08 00 00 00 02 00 FF 00 FF 00 FF 00 FF 00");
    EXPECT_EQ(count_shell("sync"), 0) << "the RAM device is not synced";

    // Without an extension the name is a graphic's.
    run("~DGE:LOGO,4,2,0102A0B0\n");
    EXPECT_EQ(stored(flash_graphics + "/LOGO.GRF"), "04 00 00 00 02 00 01 02 A0 B0");
    EXPECT_EQ(count_shell("sync"), 1);
}

TEST_F(ZplObjects, AsciiHexRowShorthandsAndRepeatLetters) {
    // ',' zeros the row, '!' fills it with F, ':' copies the row above, J (4) repeats the next digit.
    run("~DGR:A.GRF,12,2,,!:J0:1:\n");
    EXPECT_EQ(stored(ram_graphics + "/A.GRF"), "0C 00 00 00 02 00 00 00 FF FF FF FF 00 00 00 00 10 00");

    // Rows of 30 bytes (60 digits): h then K is 45, h then B is a count of 40 and the digit B.
    run("~DGR:B.GRF,60,30,hKFO0IC,hB!\n");
    std::string b = read_text_file(ram_graphics + "/B.GRF").substr(6);
    ASSERT_EQ(b.size(), 60u);
    std::string row0(22, '\xff');
    row0 += std::string("\xf0\x00\x00\x00\x00\xcc\xc0\x00", 8);  // 45 F, 9 zeros, 3 C, 3 zeros from ','
    EXPECT_EQ(hex_of(b.substr(0, 30)), hex_of(row0));
    EXPECT_EQ(hex_of(b.substr(30)), hex_of(std::string(20, '\xbb') + std::string(10, '\xff')));

    // A colon on the first row leaves the rest of it blank; lower-case digits count.
    run("~DGR:C.GRF,4,2,A:ab\n");
    EXPECT_EQ(stored(ram_graphics + "/C.GRF"), "04 00 00 00 02 00 A0 00 AB 00");
}

TEST_F(ZplObjects, ShortGraphicDataDoesNotSwallowTheNextLabel) {
    // 100 bytes announced, 2 given: the data ends at the format prefix and the label prints.
    DotImage img = label("~DGR:S.GRF,100,10,FFFF^XA^FO10,10^GB50,50,50^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 10);
    EXPECT_EQ(b.width(), 50);
    std::string s = read_text_file(ram_graphics + "/S.GRF");
    ASSERT_EQ(s.size(), 106u);
    EXPECT_EQ(hex_of(s.substr(6, 3)), "FF FF 00");

    // The same behind a control prefix, and data running straight into the next command.
    run("~DGR:T.GRF,4,2,AB~DGR:U.GRF,2,2,CDEF^XA^FO10,10^GB20,20,20^FS^XZ");
    EXPECT_EQ(stored(ram_graphics + "/T.GRF"), "04 00 00 00 02 00 AB 00 00 00");
    EXPECT_EQ(stored(ram_graphics + "/U.GRF"), "02 00 00 00 02 00 CD EF");
    EXPECT_EQ(take_image().ink().width(), 20);
}

TEST_F(ZplObjects, Base64AndZlibData) {
    // Made with Python: base64.b64encode(bm) and base64.b64encode(zlib.compress(bm)) of
    // bm = F0 0F 0F F0 AA 55 FF 81.
    const char* rows = "08 00 00 00 02 00 F0 0F 0F F0 AA 55 FF 81";
    run("~DGR:P.GRF,8,2,:B64:8A8P8KpV/4E=:89DF\n");
    EXPECT_EQ(stored(ram_graphics + "/P.GRF"), rows);
    run("~DGR:Z.GRF,8,2,:Z64:eJz7wM//YVXo/0YAEyEEfg==:09C3\n");
    EXPECT_EQ(stored(ram_graphics + "/Z.GRF"), rows);
    // Line ends inside the text are dropped; the CRC is not checked.
    run("~DGR:Y.GRF,8,2,:Z64:eJz7wM//\r\nYVXo/0YAEyEEfg==:0000\n");
    EXPECT_EQ(stored(ram_graphics + "/Y.GRF"), rows);
}

TEST_F(ZplObjects, OversizedDataStaysInsideTheGraphic) {
    // 1024 bytes of zlib data into a graphic of 8: only 8 are kept.
    run("~DGR:BIG.GRF,8,2,:Z64:eJxjYGRiZmFlY+fg5OLm4eXjFxAUEhYRFROXkJSSlpGVk1dQVFJWUVVT19DU0tbR1dM3MDQyNjE1M7"
        "ewtLK2sbWzd3B0cnZxdXP38PTy9vH18w8IDAoOCQ0Lj4iMio6JjYtPSExKTklNS8/IzMrOyc3LLygsKi4pLSuvqKyqrqmtq29"
        "obGpuaW1r7+js6u7p7eufMHHS5ClTp02fMXPW7Dlz581fsHDR4iVLly1fsXLV6jVr163fsHHT5i1bt23fsXPX7j179+0/cPDQ"
        "4SNHjx0/cfLU6TNnz52/cPHS5StXr12/cfPW7Tt3791/8PDR4ydPnz1/8fLV6zdv373/8PHT5y9fv33/8fPX7z9///1nGPX/q"
        "P9HsP8B5Mn+EA==:0000\n");
    EXPECT_EQ(stored(ram_graphics + "/BIG.GRF"), "08 00 00 00 02 00 00 01 02 03 04 05 06 07");
    // Plain Base64 longer than the graphic, and repeat counts far past its end.
    run("~DGR:B2.GRF,2,1,:B64:" + std::string(5000, 'Q') + ":0000\n");
    EXPECT_EQ(stored(ram_graphics + "/B2.GRF"), "02 00 00 00 01 00 41 04");
    run("~DGR:R.GRF,2,1,zzzzzzzzzzzzzzzzzzzzF\n");
    EXPECT_EQ(stored(ram_graphics + "/R.GRF"), "02 00 00 00 01 00 FF FF");
    // A broken zlib stream keeps what it gave and leaves the rest blank.
    run("~DGR:BAD.GRF,4,2,:Z64:AAAAAAAA:0000\n");
    EXPECT_EQ(stored(ram_graphics + "/BAD.GRF"), "04 00 00 00 02 00 00 00 00 00");
}

TEST_F(ZplObjects, ZeroAndHostileSizesStoreNothingAndKeepTheLabel) {
    for (const char* cmd : {"~DGR:W0.GRF,8,0,FFFF\n", "~DGR:W1.GRF,0,2,FFFF\n", "~DGR:W2.GRF,-8,-2,FFFF\n",
                            "~DGR:W3.GRF,99999999999,2,FFFF\n", "~DGR:W4.GRF,8,99999,FFFF\n", "~DGR:W5.GRF,1,2,FF\n"}) {
        DotImage img = label(std::string(cmd) + "^XA^FO10,10^GB40,40,40^FS^XZ");
        EXPECT_EQ(img.ink().width(), 40) << cmd;
    }
    struct stat st{};
    EXPECT_NE(stat(ram_graphics.c_str(), &st), 0) << "no graphic was written";
}

TEST_F(ZplObjects, ObjectNamesOutsideTheFoldersAreRefused) {
    std::string victim = dir.path + "/x.GRF";
    write_text_file(victim, "keep");
    run("~DGR:../x.GRF,2,1,FFFF\n~DGR:../../x.GRF,2,1,FFFF\n~DGR:A/B.GRF,2,1,FFFF\n");
    run("^XA^IDR:../x.GRF^FS^IDR:..^FS^XZ");
    EXPECT_EQ(read_text_file(victim), "keep");
    EXPECT_TRUE(dot_images_in(images).empty());

    StoredObject o;
    EXPECT_FALSE(parse_object_name("R:../../x.GRF", o));
    EXPECT_FALSE(parse_object_name("R:/etc/x.GRF", o));
    EXPECT_FALSE(parse_object_name(("R:" + std::string(70, 'A') + ".GRF").c_str(), o));
    EXPECT_FALSE(parse_object_name("R:A\x01.GRF", o));
    EXPECT_FALSE(parse_object_name("R:", o));
    ASSERT_TRUE(parse_object_name("LOGO.GRF", o));
    EXPECT_EQ(o.path, ram_graphics + "/LOGO.GRF");
    ASSERT_TRUE(parse_object_name("E:ship.zpl", o));
    EXPECT_EQ(o.path, flash_formats + "/ship.zpl");
    ASSERT_TRUE(parse_object_name("R:MARK.X.PNG", o));
    EXPECT_EQ(o.path, logos + "/MARK.png");
    ASSERT_TRUE(parse_object_name("R:NOTES.TXT", o));
    EXPECT_EQ(o.kind, ObjectKind::None);
    EXPECT_TRUE(o.path.empty());
}

TEST_F(ZplObjects, GraphicFieldInEveryEncoding) {
    // ASCII: two rows of 2 bytes at the field origin.
    DotImage img = label("^XA^FO100,40^GFA,4,4,2,F00F\n0FF0^FS^XZ");
    EXPECT_EQ(hex_of(row_bytes_at(img, 100, 40, 2)), "F0 0F");
    EXPECT_EQ(hex_of(row_bytes_at(img, 100, 41, 2)), "0F F0");
    EXPECT_EQ(img.ink().top, 40);

    // Z64 of 40 rows of 13 bytes (blocks of 8 rows alternating), made with Python's zlib.
    img = label("^XA^FO200,100^GFA,520,520,13,:Z64:eJz7z/AfAf/TjoMCacihoReGtX8AqQkHCA==:1234^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 200);
    EXPECT_EQ(b.top, 100);
    EXPECT_EQ(b.height(), 40);
    EXPECT_EQ(hex_of(row_bytes_at(img, 200, 100, 3)), "FF 00 FF");
    EXPECT_EQ(hex_of(row_bytes_at(img, 200, 108, 3)), "00 FF 00");

    // Binary bytes, control bytes and prefixes included.
    img = label("^XA^FO16,16^GFB,4,4,2," + std::string("\x5e\x0a\x7e\x80", 4) + "^FS^XZ");
    EXPECT_EQ(hex_of(row_bytes_at(img, 16, 16, 2)), "5E 0A");
    EXPECT_EQ(hex_of(row_bytes_at(img, 16, 17, 2)), "7E 80");
}

TEST_F(ZplObjects, RecallGraphicWithMagnification) {
    run("~DGR:SQ.GRF,4,1,F0F0F0F0\n");
    DotImage img = label("^XA^FO100,50^XG R:SQ,2,3^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 50);
    EXPECT_EQ(b.width(), 8);    // 4 dots x 2
    EXPECT_EQ(b.height(), 12);  // 4 rows x 3
    // Factors of 0 are 1; a missing graphic still makes a label (of nothing).
    img = label("^XA^FO10,10^XGSQ.GRF,0,0^FS^FO300,300^XGR:NONE.GRF^FS^XZ");
    EXPECT_EQ(img.ink().width(), 4);
    EXPECT_EQ(img.ink().height(), 4);
}

TEST_F(ZplObjects, LoadAndMoveStoredGraphics) {
    run("~DGR:SQ.GRF,4,1,F0F0F0F0\n");
    DotImage img = label("^XA^FO200,200^ILR:SQ.GRF^FS^XZ");
    EXPECT_EQ(img.ink().left, 0) << "^IL places at the label's origin";
    EXPECT_EQ(img.ink().top, 0);
    img = label("^XA^FO200,120^IMR:SQ.GRF^FS^XZ");
    EXPECT_EQ(img.ink().left, 200);
    EXPECT_EQ(img.ink().top, 120);
    run("^XA^FO200,120^IMR:MISSING.GRF^FS^XZ");
    EXPECT_TRUE(dot_images_in(images).empty()) << "^IM of a missing object draws nothing";
}

TEST_F(ZplObjects, SavedLabelIsRecalledAsAGraphic) {
    run("^XA^FO40,30^GB80,20,20^FS^ISR:SAVED.GRF,N^XZ");
    EXPECT_TRUE(dot_images_in(images).empty()) << "print flag N";
    std::string s = read_text_file(ram_graphics + "/SAVED.GRF");
    ASSERT_GE(s.size(), 6u + 216 * 50);
    EXPECT_EQ(hex_of(s.substr(4, 2)), "D8 00") << "216 bytes a row";

    DotImage img = label("^XA^FO100,0^XGR:SAVED.GRF,1,1^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 140);
    EXPECT_EQ(b.top, 30);
    EXPECT_EQ(b.width(), 80);
    EXPECT_EQ(b.height(), 20);

    // Without N the label prints too.
    img = label("^XA^FO10,10^GB30,30,30^FS^ISR:AGAIN.GRF^XZ");
    EXPECT_EQ(img.ink().width(), 30);
}

TEST_F(ZplObjects, DeleteOneObjectOrAFolderByPattern) {
    run("~DGR:A.GRF,2,1,FFFF\n~DGR:B.GRF,2,1,FFFF\n~DGR:KEEP.GRF,2,1,FFFF\n~DGE:A.GRF,2,1,FFFF\n");
    write_text_file(ram_graphics + "/notes.txt", "x");
    run("^XA^IDR:A.GRF^FS^XZ");
    EXPECT_FALSE(file_exists(ram_graphics + "/A.GRF"));
    EXPECT_TRUE(file_exists(flash_graphics + "/A.GRF")) << "another device";
    run("^XA^IDR:*.ZPL^FS^IDR:*.*^FS^XZ");
    EXPECT_TRUE(file_exists(ram_graphics + "/B.GRF")) << "no pattern of that folder";
    run("^XA^IDR:*.GRF^FS^XZ");
    EXPECT_FALSE(file_exists(ram_graphics + "/B.GRF"));
    EXPECT_FALSE(file_exists(ram_graphics + "/KEEP.GRF"));
    EXPECT_TRUE(file_exists(ram_graphics + "/notes.txt"));
    EXPECT_TRUE(file_exists(flash_graphics + "/A.GRF"));
    EXPECT_TRUE(dot_images_in(images).empty());
}

// A folder that cannot be read whole (EOVERFLOW on 32-bit builds without large-file support) is
// reported: the objects it did not give stay, and the failure does not pass for "all deleted".
TEST_F(ZplObjects, DeletingByPatternReportsAFolderThatCannotBeRead) {
    run("~DGR:A.GRF,2,1,FFFF\n~DGR:B.GRF,2,1,FFFF\n~DGR:C.GRF,2,1,FFFF\n");
    {
        FailingReaddir failing(1, EOVERFLOW);
        testing::internal::CaptureStderr();
        run("^XA^IDR:*.GRF^FS^XZ");
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("zpl_interp: cannot read folder " + ram_graphics), std::string::npos) << said;
    }
    int left = file_exists(ram_graphics + "/A.GRF") + file_exists(ram_graphics + "/B.GRF") +
               file_exists(ram_graphics + "/C.GRF");
    EXPECT_EQ(left, 2) << "only the object read before the failure is deleted";
    run("^XA^IDR:*.GRF^FS^XZ");
    EXPECT_FALSE(file_exists(ram_graphics + "/A.GRF") || file_exists(ram_graphics + "/B.GRF") ||
                 file_exists(ram_graphics + "/C.GRF"));
}

TEST_F(ZplObjects, StoredFormatIsRecalledWithItsFields) {
    const std::string fields = "^FO60,40^A0N,40,40^FN1^FDDEFAULT^FS^FO60,120^A0N,30,30^FN2^FS"
                               "^FO60,200^GB200,10,10^FS";
    run("^XA^DFR:SHIP.ZPL^FS" + fields + "^XZ");
    EXPECT_TRUE(dot_images_in(images).empty()) << "a format definition prints nothing";
    EXPECT_TRUE(file_exists(ram_formats + "/SHIP.ZPL"));

    DotImage recalled = label("^XA^XFR:SHIP.ZPL^FS^FN1^FDHELLO^FS^FN2^FDWORLD 42^FS^XZ");
    DotImage direct = label("^XA^FO60,40^A0N,40,40^FDHELLO^FS^FO60,120^A0N,30,30^FDWORLD 42^FS"
                            "^FO60,200^GB200,10,10^FS^XZ");
    EXPECT_EQ(recalled.height, direct.height);
    EXPECT_TRUE(recalled.raster == direct.raster) << "the format with the fields filled in";

    // A field the label does not give keeps the format's default (and one without a default
    // stays empty); the stored fields do not outlive their label.
    recalled = label("^XA^XFR:SHIP.ZPL^FS^XZ");
    direct = label("^XA^FO60,40^A0N,40,40^FDDEFAULT^FS^FO60,200^GB200,10,10^FS^XZ");
    EXPECT_TRUE(recalled.raster == direct.raster);

    // A missing format: the label's own fields still print.
    DotImage img = label("^XA^XFR:NONE.ZPL^FS^FO10,10^GB30,30,30^FS^XZ");
    EXPECT_EQ(img.ink().width(), 30);
}

TEST_F(ZplObjects, UnfinishedFormatIsNotStored) {
    // A new format starts before the definition ends: nothing stored, the next label prints.
    DotImage img = label("^XA^DFR:HALF.ZPL^FS^FO10,10^GB5,5,5^FS^XA^FO20,20^GB30,30,30^FS^XZ");
    EXPECT_FALSE(file_exists(ram_formats + "/HALF.ZPL"));
    EXPECT_EQ(img.ink().left, 20);
    // A refused name: the commands run as an ordinary label.
    img = label("^XA^DFR:../../x.ZPL^FS^FO20,20^GB30,30,30^FS^XZ");
    EXPECT_EQ(img.ink().width(), 30);
    EXPECT_FALSE(file_exists(dir.path + "/x.ZPL"));
}
