// Label format and field commands: placement, fonts and scaling, encodings, darkness, geometry.
#include "image_builder.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_test_support.h"

#include <cmath>

class Fields : public ZplTest {
protected:
    // Measured size of a text field as the interpreter measures it.
    TextSize measure(uint8_t font, int h, int w, const char* s) {
        text.rotate = 'N';
        set_bit_font(font, h, w);
        return text_get_layout_dimensions(s, 0);
    }
};

TEST_F(Fields, EmptyFormatPrintsNothing) {
    run("^XA^XZ");
    EXPECT_EQ(image_count(), 0);
    run("^XA^FO10,10^FD^FS^XZ");
    EXPECT_EQ(image_count(), 1) << "an empty field still makes a page";
}

TEST_F(Fields, FieldOriginAndLabelHome) {
    DotImage a = label("^XA^FO100,200^A0N,50,0^FDHI^FS^XZ");
    DotImage b = label("^XA^FO100,300^A0N,50,0^FDHI^FS^XZ");
    InkBox ia = a.ink(), ib = b.ink();
    EXPECT_NEAR(ia.left, 100, 8);
    EXPECT_GE(ia.top, 200);
    EXPECT_LT(ia.top, 200 + 25);
    EXPECT_EQ(ib.top - ia.top, 100);
    EXPECT_EQ(ib.left, ia.left);
    DotImage c = label("^XA^LH30,40^FO70,260^A0N,50,0^FDHI^FS^XZ");
    EXPECT_EQ(c.ink().top, ib.top);
    EXPECT_EQ(c.ink().left, ib.left);
    run("^XA^LH0,0^XZ");
}

TEST_F(Fields, TypesetPositionCountsUpFromTheLabelLengthAndRaisesTheText) {
    TextSize size = measure('0', 50, 0, "HI");
    int raised = int(std::trunc(350 - size.height * 3 / 4));
    DotImage origin = label("^XA^LL400^FO100," + std::to_string(raised) + "^A0N,50,0^FDHI^FS^XZ");
    DotImage typeset = label("^XA^LL400^FT100,50^A0N,50,0^FDHI^FS^XZ");
    EXPECT_EQ(typeset.ink().top, origin.ink().top);
    EXPECT_EQ(typeset.ink().left, origin.ink().left);
    EXPECT_LT(typeset.ink().bottom, 350 + 5) << "baseline near y = 400 - 50";
    EXPECT_GT(typeset.ink().bottom, 350 - 20);
    int pad = typeset.height - 400;
    EXPECT_GE(pad, 0);
    EXPECT_LT(pad, 40) << "exactly the label length plus the text padding";

    // A second ^FT without a position continues after the previous text.
    run("^XA^LL400^FT100,50^A0N,50,0^FDAB^FS^FT^A0N,50,0^FDCD^FS^XZ");
    DotImage both = take_image();
    InkBox ink = both.ink();
    double ab = measure('0', 50, 0, "AB").width;
    EXPECT_GT(ink.width(), 1.6 * ab) << "CD follows AB";
    EXPECT_LT(ink.height(), 50) << "on the same line";
}

TEST_F(Fields, PageWithoutLabelLengthKeepsItsLowestText) {
    DotImage img = label("^XA^FO10,500^A0N,100,0^FDLOW gjpq^FS^XZ");
    InkBox ink = img.ink();
    EXPECT_GT(ink.bottom, 560) << "the text is there below its origin";
    EXPECT_LT(ink.bottom, img.height - 1) << "and not cut off";
}

TEST_F(Fields, FontScaling) {
    text.rotate = 'N';
    set_bit_font('0', 50, 0);
    EXPECT_NEAR(pango_yscale, 50.0 / 15, 1e-9);
    EXPECT_NEAR(pango_xscale, 50.0 / 15 * 0.7, 1e-9);
    set_bit_font('A', 27, 15);
    EXPECT_EQ(pango_xscale, 3);
    EXPECT_EQ(pango_yscale, 3);
    set_bit_font('A', 20, 12);
    EXPECT_EQ(pango_xscale, 2);
    EXPECT_EQ(pango_yscale, 2);
    set_bit_font('E', 0, 30);
    EXPECT_NEAR(pango_xscale, 2, 1e-9);
    EXPECT_NEAR(pango_yscale, 2, 1e-9) << "a zero height follows the width";
    set_bit_font('a', 50, 50);
    EXPECT_EQ(pango_xscale, 0) << "unknown letters fall back with no stretch";
    EXPECT_STREQ(pango_font_description_get_family(global_pango_font_description), zpl_fonts[font_index('1')]);

    DotImage small = label("^XA^FO10,10^A0N,50,0^FDH^FS^XZ");
    DotImage big = label("^XA^FO10,10^A0N,100,0^FDH^FS^XZ");
    EXPECT_NEAR(double(big.ink().height()) / small.ink().height(), 2.0, 0.08);
    DotImage a3 = label("^XA^FO10,10^AAN,27,15^FDH^FS^XZ");
    DotImage a1 = label("^XA^FO10,10^AAN,9,5^FDH^FS^XZ");
    EXPECT_NEAR(double(a3.ink().height()) / a1.ink().height(), 3.0, 0.5);
}

TEST_F(Fields, DefaultFontAndOrientationCommands) {
    DotImage by_a = label("^XA^FO10,10^A0N,60,0^FDH^FS^XZ");
    DotImage by_cf = label("^XA^CF0,60^FO10,10^FDH^FS^XZ");
    EXPECT_EQ(config.ftype, '0');
    EXPECT_EQ(config.font_h, 60);
    EXPECT_EQ(config.font_w, 0);
    EXPECT_EQ(by_cf.ink().height(), by_a.ink().height());
    EXPECT_EQ(by_cf.ink().width(), by_a.ink().width());

    // ^FW turns every later field, not only the first one.
    DotImage turned = label("^XA^FWR^FO10,10^FDLONG TEXT^FS^FO300,10^FDLONG TEXT^FS^XZ");
    InkBox first = turned.ink_in(0, 0, 290, turned.height), second = turned.ink_in(290, 0, 1728, turned.height);
    EXPECT_GT(first.height(), 2 * first.width());
    EXPECT_GT(second.height(), 2 * second.width());
    run("^XA^FWN^XZ");
}

TEST_F(Fields, HexadecimalEscapesAndEncodings) {
    char out[64];
    config.hex_ind = '_';
    config.inte_code = 0;
    check_encoding("_41_42", 6, out, sizeof out);
    EXPECT_STREQ(out, "AB");
    check_encoding("x_4a_4*y_4", 10, out, sizeof out);
    EXPECT_STREQ(out, "xJ\xC3\xBFy_4")
        << "lower-case digits count; a character outside the table gives FF, in code page 0 the letter y with diaeresis";
    config.inte_code = 30;
    check_encoding("_41_00", 6, out, sizeof out);
    EXPECT_STREQ(out, "A") << "one UTF-16LE unit";
    check_encoding("x_2d_4e!", 8, out, sizeof out);
    EXPECT_STREQ(out, "x\xE4\xB8\xAD!");
    config.inte_code = 29;
    check_encoding("_00_41_4e_2d", 12, out, sizeof out);
    EXPECT_STREQ(out, "A\xE4\xB8\xAD");
    config.inte_code = 26;
    check_encoding("\xD6\xD0_41", 5, out, sizeof out);
    EXPECT_STREQ(out, "\xE4\xB8\xAD" "A") << "GB18030 after the escapes";
    check_encoding("OK\x81", 3, out, sizeof out);
    EXPECT_STREQ(out, "OK") << "converted as far as it goes";
    config.hex_ind = 0;
    config.inte_code = 0;
    check_encoding("_41", 3, out, sizeof out);
    EXPECT_STREQ(out, "_41");
    char tiny[4];
    config.inte_code = 26;
    check_encoding("\xD6\xD0\xD6\xD0\xD6\xD0", 6, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "\xE4\xB8\xAD") << "the output buffer bounds the conversion";
    config.inte_code = 0;

    run("^XA^FH^FO10,10^FD_41_42^FS");
    EXPECT_EQ(config.hex_ind, '_');
    run("^FH\\^FO10,10^FD\\41^FS");
    EXPECT_EQ(config.hex_ind, '\\');
    run("^XZ");
    EXPECT_EQ(config.hex_ind, 0) << "cleared at the end of the format";
    take_image();
    DotImage escaped = label("^XA^CI30^FH^FO10,10^A0N,50,0^FD_41_00_42_00^FS^CI0^XZ");
    DotImage plain = label("^XA^FO10,10^A0N,50,0^FDAB^FS^XZ");
    EXPECT_TRUE(escaped.raster == plain.raster);
}

TEST_F(Fields, DarknessArithmetic) {
    set_current_contrast(2);
    take_trigger();
    run("^MD-30");
    EXPECT_EQ(take_trigger(), "0\n");
    run("^MD9");
    EXPECT_EQ(take_trigger(), "3\n");
    run("^MD-4");
    EXPECT_EQ(take_trigger(), "2\n") << "-4 / 3 is -1";
    run("^MD60");
    EXPECT_EQ(take_trigger(), "10\n") << "limited to 10";
    run("~SD45");
    EXPECT_EQ(take_trigger(), "15\n") << "absolute and not limited";
    run("~SD5");
    EXPECT_EQ(take_trigger(), "1\n");
}

TEST_F(Fields, FontAssignment) {
    run("^CWA,E:OCRB.OTF");
    EXPECT_STREQ(zpl_fonts[font_index('A')], "OCR B");
    run("^CWc,E:LIBERATIONSANS.TTF");
    EXPECT_STREQ(zpl_fonts[font_index('C')], "Liberation Sans");
    run("^CWB,E:NOSUCHFONT.TTF");
    EXPECT_STREQ(zpl_fonts[font_index('B')], "Liberation Mono") << "unknown names change nothing";
    run("^CW5,R:UNIFONT.OTF");
    EXPECT_STREQ(zpl_fonts[font_index('5')], "Unifont");
    run("^CW*,E:OCRA.TTF^CWD,");
    EXPECT_STREQ(zpl_fonts[font_index('D')], "Liberation Mono");
    FONTS_LIST_PATH = dir.path + "/missing";
    run("^CWE,E:OCRA.TTF");
    EXPECT_STREQ(zpl_fonts[font_index('E')], "OCR B Std") << "no font list, no change";
}

TEST_F(Fields, HalfResolutionDoublesThePage) {
    DotImage normal = label("^XA^FO10,10^A0N,30,0^FDH^FS^XZ");
    DotImage doubled = label("^XA^JMB^FO10,10^A0N,30,0^FDH^FS^XZ");
    EXPECT_EQ(label_scale, 2);
    EXPECT_NEAR(double(doubled.ink().height()) / normal.ink().height(), 2.0, 0.1);
    run("^XA^JMA^XZ");
    EXPECT_EQ(label_scale, 1);
}

TEST_F(Fields, HostileNumbersStayBounded) {
    DotImage huge = label("^XA^LL99999999^FO10,10^A0N,40,0^FDX^FS^XZ");
    EXPECT_EQ(huge.height, MAX_PAGE_ROWS);
    DotImage odd = label("^XA^LL-5^PW-7^FO-100,99999999999^A0N,99999,99999^FDX^FS^FO-5,-5^AAN,-9,-9^FDY^FS^XZ");
    EXPECT_GE(odd.height, 1);
    EXPECT_LE(odd.height, MAX_PAGE_ROWS);
    EXPECT_EQ(label_width, -7) << "the print width is kept, the raster stays 1728 wide";
    EXPECT_EQ(odd.width, 1728);
    DotImage scaled = label("^XA^JMB^LL6000^FO10,10^A0N,40,0^FDX^FS^XZ");
    EXPECT_EQ(scaled.height, MAX_PAGE_ROWS);
    run("^XA^JMA^XZ");
}

TEST_F(Fields, SettingsFile) {
    std::string path = dir.path + "/zpl_emu.cfg";
    write_text_file(path,
                    "[command]\nformat_prefix=+\ncontrol_prefix=\nparameter_delimiter=;\n"
                    "[font]\ndefaultfont=D\ncharacter_height=36\n"
                    "[global]\nx_axis=5\norien=R\nconfig.inte_code=30\nlabel_len=800\n");
    update_zpl_emu(path);
    EXPECT_EQ(config.dfprefix, '+');
    EXPECT_EQ(config.dcprefix, '~') << "an empty key keeps the default";
    EXPECT_EQ(config.par_delim, ';');
    EXPECT_EQ(config.ftype, 'D');
    EXPECT_EQ(config.font_h, 36);
    EXPECT_EQ(config.font_w, 5) << "missing key: default";
    EXPECT_EQ(config.x_axis, 5);
    EXPECT_EQ(config.orien, 'R');
    EXPECT_EQ(config.inte_code, 30);
    EXPECT_EQ(global.lab_len, 800);
    EXPECT_EQ(config.bar_nwidth, 2);
    EXPECT_DOUBLE_EQ(config.bar_rat, 3.0);

    update_zpl_emu(dir.path + "/absent.cfg");
    EXPECT_EQ(config.dfprefix, '^');
    EXPECT_EQ(config.dcprefix, '~');
    EXPECT_EQ(config.par_delim, ',');
    EXPECT_EQ(config.ftype, 'A');
    EXPECT_EQ(config.font_h, 9);
    EXPECT_EQ(config.orien, 'N');
    EXPECT_EQ(global.lab_len, 1218);
}

TEST_F(Fields, DeviceSettingsFileMatchesTheDefaults) {
    update_zpl_emu(std::string(PRINTER_SOURCE_DIR) + "/rootfs/home/zpl_emu.cfg");
    GLOBAL_CONFIG d;
    EXPECT_EQ(config.dfprefix, d.dfprefix);
    EXPECT_EQ(config.dcprefix, d.dcprefix);
    EXPECT_EQ(config.par_delim, d.par_delim);
    EXPECT_EQ(config.ftype, d.ftype);
    EXPECT_EQ(config.font_h, d.font_h);
    EXPECT_EQ(config.font_w, d.font_w);
    EXPECT_EQ(config.bar_nwidth, d.bar_nwidth);
    EXPECT_EQ(config.bar_h, d.bar_h);
}
