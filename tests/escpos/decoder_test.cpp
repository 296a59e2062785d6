// The command decoder: every command reads exactly its own bytes, and the edge cases of the
// command set.
#include "escpos_test_support.h"

#include "escpos_decoder.h"
#include "escpos_intake.h"
#include "escpos_page.h"

#include <functional>
#include <set>

using namespace escpos;
using namespace std::string_literals;

namespace {
struct Consumption {
    const char* name;
    std::string command;  // exactly the bytes the command takes
    std::function<void(EscposState&)> prepare = nullptr;
};

std::string l16(int v) { return bytes({v & 0xff, (v >> 8) & 0xff}); }

const std::vector<Consumption>& consumption_cases() {
    static const std::vector<Consumption> cases = {
        {"HT", "\x09"},
        {"LF", "\x0a"},
        {"FF", "\x0c"},
        {"CR", "\x0d"},
        {"CAN", "\x18"},
        {"DLE alone", "\x10"},
        {"ESC FF", esc("\x0c")},
        {"ESC SP", esc(" \x05")},
        {"ESC !", esc("!\x38")},
        {"ESC $", esc("$\x10\x01")},
        {"ESC %", esc("%\x01")},
        {"ESC & one character", esc("&\x03" "AA\x02") + "abcdef"},
        {"ESC & two characters", esc("&\x03" "AB\x01") + "abc" + "\x01" + "def"},
        {"ESC & wide character", esc("&\x03" "AA\x0e") + std::string(42, 'x')},
        {"ESC & y not 3", esc("&\x02")},
        {"ESC & c1 below range", esc("&\x03\x10")},
        {"ESC & c2 below c1", esc("&\x03" "BA")},
        {"ESC -", esc("-1")},
        {"ESC 2", esc("2")},
        {"ESC 3", esc("3\x40")},
        {"ESC <", esc("<")},
        {"ESC =", esc("=\x01")},
        {"ESC ?", esc("?A")},
        {"ESC @", esc("@")},
        {"ESC D to NUL", esc("D\x08\x10\x10\x00"s)},
        {"ESC D falling stop", esc("D\x08\x04")},
        {"ESC D 32 stops", esc("D") + [] {
             std::string s;
             for (int i = 1; i <= 32; ++i) s += char(i);
             return s;
         }()},
        {"ESC E", esc("E\x01")},
        {"ESC G", esc("G\x01")},
        {"ESC J", esc("J\x40")},
        {"ESC K", esc("K\x40")},
        {"ESC L", esc("L")},
        {"ESC M", esc("M1")},
        {"ESC R", esc("R\x02")},
        {"ESC S", esc("S")},
        {"ESC T", esc("T1")},
        {"ESC U", esc("U\x01")},
        {"ESC V", esc("V1")},
        {"ESC W", esc("W") + l16(0) + l16(0) + l16(512) + l16(800)},
        {"ESC \\", esc("\\\x20\x00"s)},
        {"ESC a", esc("a1")},
        {"ESC d", esc("d\x02")},
        {"ESC e", esc("e\x01")},
        {"ESC t", esc("t\x02")},
        {"ESC {", esc("{\x01")},
        {"ESC * 8-dot", esc("*\x00\x03\x00"s) + "abc"},
        {"ESC * 24-dot", esc("*\x21\x02\x00"s) + "abcdef"},
        {"ESC * bad mode", esc("*\x05")},
        {"ESC i", esc("i")},
        {"ESC p", esc("p\x00\x19\xfa"s)},
        {"ESC u", esc("u\x00"s)},
        {"ESC v", esc("v\x00"s)},
        {"ESC 0xCC on continuous paper", esc("\xcc")},
        {"ESC 0xCC on black-mark paper", esc("\xcc") + "x" + "abc" + l16(2) + l16(3) + "123456",
         [](EscposState& s) { s.device.currentMarkSeek = 1; }},
        {"ESC 0xCC after CR", esc("\xcc") + "\x0d" + "y" + "abc" + l16(1) + l16(1) + "z",
         [](EscposState& s) { s.device.currentMarkSeek = 2; }},
        {"ESC 0xEE", esc("\xee")},
        {"ESC 0xFF", esc("\xff")},
        {"ESC unknown", esc("z")},
        {"FS !", fs("!\x0c")},
        {"FS &", fs("&")},
        {"FS ( L", fs("(L\x02\x00\x30\x00"s)},
        {"FS ( other", fs("(X")},
        {"FS -", fs("-1")},
        {"FS .", fs(".")},
        {"FS 2", fs("2")},
        {"FS C", fs("C\x01")},
        {"FS S", fs("S\x02\x04")},
        {"FS W", fs("W\x01")},
        {"FS g 1", fs("g\x01\x00\x10\x00\x00\x00\x03\x00"s) + "abc"},
        {"FS g 1 out of range", fs("g\x01\x00\x00\x08\x00\x00\x03\x00"s)},
        {"FS g 1 m not 0", fs("g\x01\x05")},
        {"FS g 2", fs("g\x02\x00\x10\x00\x00\x00\x03\x00"s)},
        {"FS p 0", fs("p\x00"s)},
        {"FS p 1", fs("p\x01\x00"s)},
        {"FS q", fs("q")},
        {"FS unknown", fs("z")},
        {"GS FF", gs("\x0c")},
        {"GS RS", gs("\x1e\x00"s)},
        {"GS !", gs("!\x11")},
        {"GS #", gs("#\x0c")},
        {"GS $ standard mode", gs("$\x10\x00"s)},
        {"GS $ page mode", gs("$\x10\x00"s), [](EscposState& s) { s.page.page_mode = true; }},
        {"GS ( A", gs("(A\x02\x00\x00\x01"s)},
        {"GS ( A wrong pL", gs("(A\x03")},
        {"GS ( A wrong pH", gs("(A\x02\x01")},
        {"GS ( D pairs", gs("(D\x05\x00\x14\x01\x01\x02\x00"s)},
        {"GS ( D pair without b", gs("(D\x03\x00\x14\x03"s)},
        {"GS ( D other m", gs("(D\x03\x00\x07"s)},
        {"GS ( E", gs("(E\x03\x00\x01IN"s)},
        {"GS ( F", gs("(F\x04\x00\x01\x00\x64\x00"s)},
        {"GS ( H", gs("(H\x06\x00" "00abcd"s)},
        {"GS ( H wrong fn", gs("(H\x06\x00" "1"s)},
        {"GS ( K", gs("(K\x02\x00\x30\x01"s)},
        {"GS ( K wrong pL", gs("(K\x03")},
        {"GS ( L print buffer", gs("(L\x02\x00" "02"s)},
        {"GS ( L wrong m", gs("(L\x02\x00" "1"s)},
        {"GS ( L store NV", gs("(L\x0c\x00" "0C0AB\x01"s) + l16(10) + l16(2) + "1" + "abcd"},
        {"GS ( L print buffer store", gs("(L\x0c\x00" "0p0\x01\x01" "1"s) + l16(9) + l16(2) + "abcd"},
        {"GS ( L delete all", gs("(L\x05\x00" "0ACLR"s)},
        {"GS ( L print NV", gs("(L\x06\x00" "0EAB\x01\x01"s)},
        {"GS ( L bad key code", gs("(L\x06\x00" "0E\x05"s)},
        {"GS 8 L", gs("8L\x02\x00\x00\x00" "02"s)},
        {"GS 8 other", gs("8X")},
        {"GS ( k", gs("(k\x03\x00" "1C\x05"s)},
        {"GS ( k data", gs("(k\x07\x00" "1P0abcd"s)},
        {"GS ( unknown", gs("(Z")},
        {"GS *", gs("*\x01\x02") + std::string(16, 'x')},
        {"GS /", gs("/\x00"s)},
        {"GS :", gs(":") + "AB\x1d" + "CD" + gs(":")},
        {"GS B", gs("B\x01")},
        {"GS H", gs("H2")},
        {"GS I", gs("I\x01")},
        {"GS L standard mode", gs("L\x10\x00"s)},
        {"GS L page mode", gs("L"), [](EscposState& s) { s.page.page_mode = true; }},
        {"GS P", gs("P\xcb\xcb")},
        {"GS V full cut", gs("V1")},
        {"GS V with feed", gs("VB\x03")},
        {"GS V 101", gs("Ve\x03")},
        {"GS W", gs("W\x00\x02"s)},
        {"GS W page mode", gs("W\x00\x02"s), [](EscposState& s) { s.page.page_mode = true; }},
        {"GS \\", gs("\\\x10\x00"s), [](EscposState& s) { s.page.page_mode = true; }},
        {"GS ^", gs("^\x01\x01\x00"s)},
        {"GS a", gs("a\x00"s)},
        {"GS b", gs("b\x01")},
        {"GS f", gs("f1")},
        {"GS g 0", gs("g\x00\x00\x01\x00"s)},
        {"GS g 2", gs("g\x02\x00\x01\x00"s)},
        {"GS h", gs("h\x50")},
        {"GS k A form", gs("k\x04") + "CODE39" + "\x00"s},
        {"GS k number pairs", gs("k\x08") + "\x01\x00\x03"s + std::string(12, '\x05') + "\x00"s},
        {"GS k B form", gs("kE\x03") + "ABC"},
        {"GS k CODE128 with selectors", gs("kI\x08") + "{BAB{C\x0c\x22"},
        {"GS k CODE128 ends early", gs("kI\x05") + "{Bx\x01"},
        {"GS k CODE128 without selector", gs("kI\x05") + "A"},
        {"GS k unknown", gs("k\x1e")},
        {"GS r", gs("r\x01")},
        {"GS v 0", gs("v0\x00\x01\x00\x02\x00"s) + "ab"},
        {"GS v other", gs("v1")},
        {"GS w", gs("w\x03")},
        {"US DLE", "\x1f\x10\x02\x00" "ab"s},
        {"US DC3", "\x1f\x13\x01\x00" "a"s},
        {"US SUB Z T", "\x1f\x1aZT"},
        {"US SUB other", "\x1f\x1aX"},
        {"US GS", "\x1f\x1d" "x\x01"},
        {"US RS", "\x1f\x1e" "x\x02"},
        {"US SP", "\x1f \x03\x00\x02\x01\x00"s},
        {"US SP wrong first", "\x1f \x04"},
        {"US H", "\x1fHabcd"},
        {"US unknown", "\x1fz"},
    };
    return cases;
}
}  // namespace

// Each command followed by printable probe bytes: one decoding step must leave exactly the
// probe in the ring.
TEST_F(EscposTest, EveryCommandTakesExactlyItsParameters) {
    const std::string probe = "QRST";
    for (const auto& c : consumption_cases()) {
        fresh();
        if (c.prepare) c.prepare(*st);
        std::string input = c.command + probe;
        ring.put(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        bool ran_dry = false;
        try {
            escpos_step(*st);
        } catch (const InputEnded&) {
            ran_dry = true;
        }
        EXPECT_FALSE(ran_dry) << c.name << ": read past its parameters";
        EXPECT_EQ(ring.unread(), probe.size()) << c.name;
        EXPECT_EQ(get_datas(*st), 'Q') << c.name;
    }
}

// Every function byte that has a handler is covered above.
TEST_F(EscposTest, ConsumptionTableCoversEveryCommand) {
    std::set<std::string> covered;
    for (const auto& c : consumption_cases()) {
        const std::string& b = c.command;
        if (b.size() >= 2 && (b[0] == ESC || b[0] == FS || b[0] == GS || b[0] == US)) {
            covered.insert(b.substr(0, 2));
            if (b[1] == '(' && b.size() >= 3) covered.insert(b.substr(0, 3));
        }
    }
    const CommandTables& t = command_tables();
    for (int prefix : {ESC, FS, GS, US}) {
        Handler* table = const_cast<CommandTables&>(t).table(uint8_t(prefix));
        for (int fn = 0; fn < 256; ++fn)
            if (table[fn]) {
                EXPECT_TRUE(covered.count(bytes({prefix, fn}))) << prefix << " " << fn;
            }
    }
    for (int fn = 0; fn < 256; ++fn) {
        if (t.gs_paren[fn]) {
            EXPECT_TRUE(covered.count(bytes({GS, '(', fn}))) << "GS ( " << fn;
        }
        if (t.fs_paren[fn]) {
            EXPECT_TRUE(covered.count(bytes({FS, '(', fn}))) << "FS ( " << fn;
        }
    }
}

TEST_F(EscposTest, DigitFormsActLikeTheirValues) {
    run(esc("T\x02"s) + esc("T0"));
    EXPECT_EQ(st->page.page_print_dir, 0);
    run(esc("T3"));
    EXPECT_EQ(st->page.page_print_dir, 3);
    run(esc("T\x05"));  // out of range: unchanged
    EXPECT_EQ(st->page.page_print_dir, 3);
    run(esc("V\x01") + esc("V0"));
    EXPECT_EQ(st->eng.rotate_angle, 0);
    run(esc("V1"));
    EXPECT_EQ(st->eng.rotate_angle, -90);
    EXPECT_EQ(st->chn.rotate_angle, -90);
}

TEST_F(EscposTest, TabStopsKeepEqualAndLargeValues) {
    run(esc("D\x08\x10\x10\x00"s));
    EXPECT_EQ(st->tabs.pos[0], 96);
    EXPECT_EQ(st->tabs.pos[1], 192);
    EXPECT_EQ(st->tabs.pos[2], 192);
    EXPECT_EQ(st->tabs.pos[3], 0);
    // A stop smaller than the one before ends the list; it is consumed.
    run(esc("D\x28\x64\x10"s) + "A");
    EXPECT_EQ(st->tabs.pos[0], 480);
    EXPECT_EQ(st->tabs.pos[1], 1200);  // beyond 255 dots, kept whole
    EXPECT_EQ(st->tabs.pos[2], 0);
    EXPECT_STREQ(st->line.string, "A");
    // More than 32 values: 32 stops, the rest is text.
    std::string many;
    for (int i = 1; i <= 40; ++i) many += char(i + 0x20);
    fresh();
    run(esc("D") + many);
    EXPECT_EQ(st->tabs.pos[31], (32 + 0x20) * 12);
    EXPECT_EQ(std::string(st->line.string), many.substr(32));
}

TEST_F(EscposTest, UserCharacterDefinitionOfOneCode) {
    std::string glyph = bytes({0xff, 0xff, 0xff, 0x81, 0x81, 0x81});
    run(esc("&\x03" "AA\x02") + glyph + "Z");
    EXPECT_TRUE(st->user_chars['A' - 32].defined);
    EXPECT_FALSE(st->user_chars['B' - 32].defined);
    EXPECT_EQ(st->user_chars['A' - 32].dot_width, 2);
    EXPECT_EQ(st->user_chars['A' - 32].data[3], 0x81);
    EXPECT_STREQ(st->line.string, "Z");
    // Printed with ESC % 1: the glyph's two columns, 24 rows high.
    fresh();
    run(esc("&\x03" "AA\x02") + glyph + esc("%\x01") + "A\n");
    InkBox ink = paper().ink();
    EXPECT_EQ(ink.width(), 2);
    EXPECT_EQ(ink.height(), 24);
    // ESC ? cancels it: the font's own A prints again.
    fresh();
    run(esc("&\x03" "AA\x02") + glyph + esc("%\x01") + esc("?A") + "A\n");
    EXPECT_GT(paper().ink().width(), 2);
}

TEST_F(EscposTest, WideUserCharacterIsBounded) {
    // x above 12 is stored as 8 columns; all 3 * x data bytes are read.
    run(esc("&\x03" "AA\xc8") + std::string(600, '\xff') + "Z");
    EXPECT_EQ(st->user_chars['A' - 32].dot_width, 8);
    EXPECT_STREQ(st->line.string, "Z");
}

TEST_F(EscposTest, TestPrintWithWrongLengthLeavesTheRest) {
    run(gs("(A\x03") + "XY");
    EXPECT_STREQ(st->line.string, "XY");
}

TEST_F(EscposTest, DleEotPrintsOnlyPrintableBytes) {
    run("\x10\x04\x05"s);
    EXPECT_EQ(st->line.char_idx, 0);
    run("\x10\x04\x41"s);
    EXPECT_STREQ(st->line.string, "A");
}

TEST_F(EscposTest, Utf8LineIsDrawnOnlyAtLineFeed) {
    st->encoding_mode = 2;
    run("Gr\xc3\xbc\xc3\x9f Gott\r" + std::string("\x0c"));
    EXPECT_EQ(st->job.canvas_height, 0);
    EXPECT_EQ(st->char_buf, 11);
    run("\n");
    EXPECT_GT(st->job.canvas_height + images.size(), 0u);
    EXPECT_EQ(st->char_buf, 0);
    // A continuation byte that is not one is dropped.
    fresh();
    st->encoding_mode = 2;
    run("a\xc3" "b");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(st->character_buf), size_t(st->char_buf)), "a\xc3");
}

TEST_F(EscposTest, Utf8CollectionIsBounded) {
    st->encoding_mode = 2;
    std::string line;
    for (int i = 0; i < 500; ++i) line += "\xe4\xb8\xad";  // 1500 bytes of one line
    run(line + "\n");
    EXPECT_EQ(st->char_buf, 0);
    EXPECT_GE(images.size(), 1u);
}

TEST_F(EscposTest, MotionUnitOfZeroKeepsThePreviousUnit) {
    run(gs("P\x65\x00"s));
    EXPECT_DOUBLE_EQ(st->set.x_motion_unit, 203.0 / 101);
    EXPECT_DOUBLE_EQ(st->set.y_motion_unit, 1.0);
    run(gs("P\x00\x00"s) + esc("3\x0a"));
    EXPECT_DOUBLE_EQ(st->set.x_motion_unit, 203.0 / 101);
    EXPECT_EQ(st->line.line_spacing, 10);
}

TEST_F(EscposTest, ReverseFeedsStopAtTheTopOfThePage) {
    st->device.conti_mode = false;
    decode("A\n" + esc("K\xff") + "B");
    EXPECT_EQ(st->page.ypos, 0);
    decode(esc("e\x09"));
    EXPECT_EQ(st->page.ypos, 0);
}

TEST_F(EscposTest, JobWithSettingsOnlyPrintsNothing) {
    run(esc("a\x01") + esc("E\x01") + gs("!\x11") + esc("t\x02"));
    EXPECT_TRUE(images.empty());
    for (const auto& l : shell_lines) EXPECT_EQ(l.find(" F "), std::string::npos) << l;
}

TEST(EscposIntake, Ucs2JobsAreConvertedWhole) {
    // 'A', U+4E2D, a lone surrogate (invalid), 'B', and an odd last byte.
    std::string job = bytes({0x41, 0x00, 0x2d, 0x4e, 0x00, 0xd8, 0x42, 0x00, 0x43});
    EXPECT_EQ(ucs2_to_gb18030(job), "A\xd6\xd0?B?");
    EXPECT_EQ(ucs2_to_gb18030(bytes({0x41, 0x00})), "A");
}

TEST_F(EscposTest, EncodingMode1PrintsGb18030Text) {
    st->encoding_mode = 1;
    run(ucs2_to_gb18030(bytes({0x2d, 0x4e, 0x87, 0x65, 0x41, 0x00, 0x0a, 0x00})));
    ASSERT_EQ(images.size(), 1u);
    InkBox ink = images[0].image.ink();
    EXPECT_GE(ink.right, 48);  // two 24-dot characters and a letter
}

TEST_F(EscposTest, EscTSelectsCodePages) {
    run(esc("t\x02"));
    EXPECT_EQ(st->eng.cFont.charGrp, 130);
    run(esc("t\x10"));
    EXPECT_EQ(st->eng.cFont.charGrp, 114);
    run(esc("t\x2d"));
    EXPECT_EQ(st->eng.cFont.charGrp, 25);
    run(esc("t\x07"));
    EXPECT_EQ(st->eng.cFont.charGrp, 66);
    // ESC @ brings the configured code page back (character type 0: 66).
    run(esc("t\x02") + esc("@"));
    EXPECT_EQ(st->eng.cFont.charGrp, 66);
}

TEST(EscposIntake, JobFilesGoIntoTheRingConverted) {
    TempDir dir;
    InputRing ring(5241, 26214);
    std::string job = dir.path + "/printjob-1";
    write_text_file(job, bytes({0x2d, 0x4e, 0x41, 0x00, 0x42}));
    ASSERT_EQ(put_data_charbuf(ring, job, 1), 0);
    std::string got;
    for (int c; (c = ring.get()) >= 0;) got += char(c);
    EXPECT_EQ(got, "\xd6\xd0" "A?");
    // Other modes: the bytes as they are.
    ASSERT_EQ(put_data_charbuf(ring, job, 0), 0);
    got.clear();
    for (int c; (c = ring.get()) >= 0;) got += char(c);
    EXPECT_EQ(got, bytes({0x2d, 0x4e, 0x41, 0x00, 0x42}));
    EXPECT_EQ(put_data_charbuf(ring, dir.path + "/missing", 0), -1);
}
