#include "keyfile.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/keyfile_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::string cmd = "rm -rf '" + path + "'"; (void)std::system(cmd.c_str()); }
    std::string file(const std::string& name, const std::string& text) const {
        std::string p = path + "/" + name;
        std::ofstream(p) << text;
        return p;
    }
};

std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
}  // namespace

TEST(KeyFile, MissingFileGroupOrKeyReadsAsAbsentOrZero) {
    TempDir d;
    std::string p = d.file("a.cfg", "[Hardware]\nPRINTHEAD_DPI=203\n");
    EXPECT_EQ(key_int(p, "Misc", "DEBUG_MSG"), 0);
    EXPECT_EQ(key_double(p, "Misc", "MAGIC_CPI_NUMERATOR"), 0.0);
    EXPECT_EQ(key_string(p, "FilePaths", "PATH_TO_JOB_INTAKE"), "");
    EXPECT_EQ(key_int(p, "Hardware", "PRINTHEAD_DOT_WIDTH"), 0);
    EXPECT_EQ(key_int(d.path + "/missing.cfg", "Hardware", "PRINTHEAD_DPI"), 0);
    EXPECT_EQ(key_string(d.path + "/missing.cfg", "Hardware", "PRINTHEAD_DPI"), "");
}

TEST(KeyFile, IntegerAndDoubleReadings) {
    TempDir d;
    std::string p = d.file("b.cfg",
                           "# comment\n[Hardware]\nPRINTHEAD_DPI=203\nHALF=203.5\n[Named Pipes]\nP=/tmp/x\n");
    EXPECT_EQ(key_int(p, "Hardware", "PRINTHEAD_DPI"), 203);
    EXPECT_DOUBLE_EQ(key_double(p, "Hardware", "PRINTHEAD_DPI"), 203.0);
    EXPECT_EQ(key_int(p, "Hardware", "HALF"), 0);  // a fraction fails the integer reader
    EXPECT_DOUBLE_EQ(key_double(p, "Hardware", "HALF"), 203.5);
    EXPECT_EQ(key_string(p, "Named Pipes", "P"), "/tmp/x");  // group names with blanks
}

TEST(KeyFile, RewriteKeepsEveryOtherKeyGroupAndComment) {
    TempDir d;
    const std::string before =
        "# OEM identity, edited by the web interface\n"
        "\n"
        "[CompanyInfo]\n"
        "companyName=Acme\n"
        "# the USB manufacturer string\n"
        "companyUSBManufactuer=Acme Inc\n"
        "\n"
        "[PrinterInfo]\n"
        "printerName=P\n"
        "firmwareVersion=1.2.3\n"
        "slaveVersion=00.00.00.00\n"
        "\n"
        "[WifiInfo]\n"
        "ssid=net\n"
        "ipAddress=192.168.1.5\n";
    std::string p = d.file("oem_config.cfg", before);
    ASSERT_TRUE(key_file_set_string(p, "PrinterInfo", "slaveVersion", "01.02.03.04"));
    std::string after = slurp(p);
    std::string expected = before;
    expected.replace(expected.find("00.00.00.00"), 11, "01.02.03.04");
    EXPECT_EQ(after, expected);
}

TEST(KeyFile, WriteToUnopenableTargetLeavesNothing) {
    EXPECT_FALSE(key_file_set_int("/nonexistent-folder/x.cfg", "G", "K", 1));
}

TEST(Settings, UnitsSelectDeviceAndMarkFiles) {
    TempDir d;
    std::string p = d.file("device_config_units.cfg", "[units]\nUNITS=mm\n");
    std::string units = read_units(p);
    EXPECT_EQ(units, "mm");
    EXPECT_EQ(device_config_path(units), "/home/mm_device_config.cfg");
    EXPECT_EQ(mark_config_path(units), "/home/mm_mark_config.cfg");
    EXPECT_EQ(units_file_in("/home"), "/home/device_config_units.cfg");
    EXPECT_EQ(device_config_path_in("/home", "inch"), "/home/inch_device_config.cfg");
}

TEST(Settings, GlobalDefinesReadsTypedValues) {
    TempDir d;
    std::string p = d.file("globalDefines.cfg",
                           "[FilePaths]\nPATH_TO_DOTIMAGE_FILES=/tmp/dot_feeder_intake\n"
                           "[Hardware]\nPRINTHEAD_DOT_WIDTH=1728\nPRINTHEAD_DPI=203\nABORT_GPIO_NUMBER=71\n"
                           "[Misc]\nFAILURE=-1\nDEBUG_MSG=1\nMAGIC_CPI_NUMERATOR=1500.5\n");
    GlobalDefines g;
    init_global_defines(g, p);
    EXPECT_EQ(g.PATH_TO_DOTIMAGE_FILES, "/tmp/dot_feeder_intake");
    EXPECT_EQ(g.PRINTHEAD_DOT_WIDTH, 1728);
    EXPECT_EQ(g.PRINTHEAD_DPI, 203);
    EXPECT_DOUBLE_EQ(g.PRINTHEAD_DPI_double, 203.0);
    EXPECT_EQ(g.ABORT_GPIO_NUMBER, 71);
    EXPECT_EQ(g.FAILURE, -1);
    EXPECT_EQ(g.DEBUG_MSG, 1);
    EXPECT_DOUBLE_EQ(g.MAGIC_CPI_NUMERATOR, 1500.5);
    EXPECT_EQ(g.PATH_TO_JOB_INTAKE, "");
}
