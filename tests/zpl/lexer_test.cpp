// Command splitting: prefixes, letters, parameters, labels across job files, the dry input.
#include "image_builder.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_test_support.h"

class Lexer : public ZplTest {};

namespace {
const std::string LABEL = "^XA^FO50,50^A0N,50,0^FDSPLIT LABEL^FS^FO50,150^ADN,36,20^FDSECOND^FS^XZ";
}

TEST_F(Lexer, LabelSplitOverTwoJobFilesPrintsOnce) {
    DotImage whole = label(LABEL);
    std::string a = dir.path + "/printjob-1", b = dir.path + "/printjob-2";
    size_t cut = LABEL.find("LABEL");  // inside the field data
    write_text_file(a, LABEL.substr(0, cut));
    write_text_file(b, LABEL.substr(cut));
    run_jobs({a, b});
    EXPECT_EQ(images_when_delivered, (std::vector<int>{0, 0})) << "nothing printed before the end of the format";
    DotImage split = take_image();
    EXPECT_EQ(split.header, whole.header);
    EXPECT_TRUE(split.raster == whole.raster);
}

TEST_F(Lexer, LineEndsChangeNothing) {
    DotImage one_line = label(LABEL);
    std::string spread = "^XA\r\n^FO50,\r\n50\r\n^A0N,50,0\r\n^FDSPLIT \tLABEL^FS\r\n"
                         "^FO50,150^ADN,36,20\r\n^FDSEC\nOND\r\n^FS\r\n^XZ\r\n";
    DotImage spread_out = label(spread);
    EXPECT_EQ(spread_out.header, one_line.header);
    EXPECT_TRUE(spread_out.raster == one_line.raster);
}

TEST_F(Lexer, ChangedFormatPrefixMakesTheCaretData) {
    run("^CC+");
    EXPECT_EQ(config.dfprefix, '+');
    run("+XA+FO50,50+A0N,40,0+FDA^B");
    EXPECT_STREQ(line_char.com_char, "A^B");
    run("+FS^XZ");
    EXPECT_EQ(image_count(), 0) << "^XZ is data now";
    run("+XZ");
    EXPECT_EQ(image_count(), 1);
    run("~CC^");
    EXPECT_EQ(config.dfprefix, '^');
}

TEST_F(Lexer, DelimiterAndControlPrefixChanges) {
    run("^XA^CD;^FO10;20");
    EXPECT_EQ(global.x_loc, 10);
    EXPECT_EQ(global.y_loc, 20);
    run("^CT#");
    run("#SD30");
    EXPECT_EQ(take_trigger(), "10\n");
    run("~SD60");
    EXPECT_EQ(take_trigger(), "") << "~ is no longer the control prefix";
    run("^CC\n");
    EXPECT_EQ(config.dfprefix, '^') << "a control byte would never end a parameter scan";
}

TEST_F(Lexer, ControlCommandInsideParametersIsText) {
    DotImage img = label("^XA^FO10,10~SD45^A0N,40,0^FDX^FS^XZ");
    EXPECT_EQ(take_trigger(), "") << "~SD was parameter text of ^FO";
    EXPECT_EQ(get_current_contrast(), 5);
    EXPECT_FALSE(img.ink().empty);
}

TEST_F(Lexer, LetterCase) {
    DotImage img = label("^xa^fo50,50^a0n,40,0^fdlow^fs^xz");
    EXPECT_FALSE(img.ink().empty);
    run("~sd45");
    EXPECT_EQ(take_trigger(), "") << "after ~ the first letter must be upper case";
    run("~Sd45");
    EXPECT_EQ(take_trigger(), "15\n");
    run("~SD45");
    EXPECT_EQ(take_trigger(), "15\n");
}

TEST_F(Lexer, UnknownCommandsAreIgnored) {
    DotImage img = label("^XA^ZZjunk,1,2^PQ3^FO50,50^A0N,40,0^FDKEPT^FS~ZZ^XZ");
    EXPECT_FALSE(img.ink().empty);
    EXPECT_EQ(image_count(), 0) << "one label per format";
}

TEST_F(Lexer, DryInputTellsTheSlaveOnlyWithoutANewLabel) {
    run("^XA^XZ");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1);
    run("^XA^FO50,50^A0N,40,0^FDX^FS^XZ");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 1) << "a label was printed";
    take_image();
    run("^FX comment only");
    EXPECT_EQ(count_shell("/root/engine_cmd B 0"), 2);
}

TEST_F(Lexer, OverlongParametersAreCut) {
    std::string data(3000, 'W');
    run("^XA^FO10,10^A0N,20,0^FD" + data);
    EXPECT_EQ(std::string(line_char.com_char), std::string(1023, 'W'));
    run("^FS^XZ");
    EXPECT_EQ(image_count(), 1);
    take_image();

    run("^XA^FO" + std::string(500, '7') + ",5");
    EXPECT_EQ(global.x_loc, 1000000) << "a 500-digit number is cut to 99 digits and limited";
    EXPECT_EQ(global.y_loc, 5);
    run("^XZ");
}

TEST_F(Lexer, EmptyJobFileWhenIdle) {
    std::string job = dir.path + "/printjob-1";
    write_text_file(job, "");
    take_job_file(job);
    EXPECT_EQ(count_shell("echo \002B1 > /command_intake/commd-B  \n"), 1);
    EXPECT_EQ(take_trigger(), "5\n") << "the configured contrast";
    EXPECT_FALSE(file_exists(job));
    EXPECT_EQ(get_char_num(), 0);

    feed("^XA");  // not idle: no marker
    write_text_file(job, "^FO1,1");
    take_job_file(job);
    EXPECT_EQ(count_shell("echo \002B1 > /command_intake/commd-B  \n"), 1);
    EXPECT_EQ(take_trigger(), "5\n");
    EXPECT_EQ(get_char_num(), 9);
}

TEST_F(Lexer, VanishedJobFileIsSkipped) {
    take_job_file(dir.path + "/gone");
    take_job_file(dir.path);  // a folder
    EXPECT_TRUE(shell_lines.empty());
    EXPECT_EQ(take_trigger(), "");
    EXPECT_EQ(put_data_charbuf((dir.path + "/gone").c_str()), -1);
}
