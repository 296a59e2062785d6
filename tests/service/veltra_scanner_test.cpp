// The service language's scanner and its set-up commands: which bytes make which sequence, what
// each command changes in its key file and which slave commands and scripts it runs.
#include "veltra_test_support.h"

#include "veltra_scanner.h"

#include "keyfile.h"

#include <cstring>

namespace {

VeltraMatch match(const std::string& bytes) {
    return veltra_match(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(VeltraScanner, EachSequenceWithItsLengthAndNumber) {
    struct Case {
        std::string bytes;
        VeltraToken token;
        size_t length;
        int arg;
    } cases[] = {
        {seq::enter_setup, VeltraToken::EnterSetup, 10, 0},
        {seq::leave_setup, VeltraToken::LeaveSetup, 10, 0},
        {seq::identity(0x02), VeltraToken::Identity, 3, 2},
        {seq::identity(0x14), VeltraToken::Identity, 3, 0x14},
        {seq::clear_head_life, VeltraToken::ClearHeadLife, 4, 0},
        {std::string("\x1d\x1d\x05", 3), VeltraToken::Accepted1D1D, 3, 5},
        {seq::install + "\n", VeltraToken::InstallArchive, 4, 0},
        {"TAR_ENABLE", VeltraToken::TarEnable, 10, 0},
        {"BTMAC00:11:22:33:44:55", VeltraToken::BtMac, 22, 0},
        {seq::slave_firmware, VeltraToken::SlaveFirmware, 4, 0},
        {seq::factory, VeltraToken::FactoryDefaults, 3, 0},
        {seq::paper(0x14), VeltraToken::PaperSensing, 3, 0x14},
        {seq::wifi(0x01), VeltraToken::WifiMode, 3, 1},
        {seq::contrast(0x10), VeltraToken::Contrast, 3, 16},
        {std::string(1, '\0'), VeltraToken::Nul, 1, 0},
        {"x", VeltraToken::Other, 1, 0},
    };
    for (const auto& c : cases) {
        VeltraMatch m = match(c.bytes);
        EXPECT_EQ(int(m.token), int(c.token)) << veltra_token_name(c.token);
        EXPECT_EQ(m.length, c.length) << veltra_token_name(c.token);
        EXPECT_EQ(m.arg, c.arg) << veltra_token_name(c.token);
    }
}

TEST(VeltraScanner, NumbersOutsideTheirRangeAndCutSequencesAreOrdinaryBytes) {
    for (const std::string& bytes :
         {seq::identity(0x01), seq::identity(0x15), seq::paper(0x00), seq::paper(0x15), seq::contrast(0x11),
          std::string("\x1d\x1d\x15", 3), std::string("\x1d\x1d\x00", 3), std::string("TAR_ENABL"),
          std::string("BTMAC00:11:22:33:44:5"), std::string("BTMAC00:11:22:33:44\x1f" "55"),
          seq::enter_setup.substr(0, 9), std::string("\x1b" "9\xb1", 3)}) {
        VeltraMatch m = match(bytes);
        EXPECT_EQ(int(m.token), int(VeltraToken::Other)) << bytes.size() << " bytes";
        EXPECT_EQ(m.length, 1u);
    }
    EXPECT_EQ(veltra_longest_pattern(), 22u);
}

TEST(VeltraScanner, OnlySetupCommandsNeedSetupMode) {
    for (VeltraToken t : {VeltraToken::Identity, VeltraToken::ClearHeadLife, VeltraToken::FactoryDefaults,
                          VeltraToken::PaperSensing, VeltraToken::WifiMode, VeltraToken::Contrast})
        EXPECT_TRUE(veltra_needs_setup(t)) << veltra_token_name(t);
    for (VeltraToken t : {VeltraToken::EnterSetup, VeltraToken::LeaveSetup, VeltraToken::Accepted1D1D,
                          VeltraToken::InstallArchive, VeltraToken::TarEnable, VeltraToken::BtMac,
                          VeltraToken::SlaveFirmware})
        EXPECT_FALSE(veltra_needs_setup(t)) << veltra_token_name(t);
}

class VeltraJobTest : public VeltraTest {};

TEST_F(VeltraJobTest, IdentityOutsideSetupModeDrawsNothingAndTellsTheSlaveTheJobIsDone) {
    job(seq::identity(0x02));
    EXPECT_EQ(image_count(), 0);
    EXPECT_EQ(s->print_out_enable_flag, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "/root/engine_cmd B 0");
    EXPECT_FALSE(ran("/root/engine_cmd A")) << "an ignored command does not even ask whether the printer is busy";
    EXPECT_EQ(echoed(), "");
}

TEST_F(VeltraJobTest, AfterOneIdentityPrintoutEveryJobEndsWithAPage) {
    job(seq::enter_setup + seq::identity(0x02) + seq::identity(0x04));
    EXPECT_EQ(s->SETUP_ENABLE_FLAG, 1);
    DotImage first = take_image();
    InkBox ink = first.ink();
    ASSERT_FALSE(ink.empty) << "the identity lines are printed";
    EXPECT_GE(ink.left, 10);
    EXPECT_LE(ink.bottom, 60) << "two identity lines take 30 dots each";
    EXPECT_GE(ink.bottom, 35) << "the second line is below the first";
    EXPECT_FALSE(ran("/root/engine_cmd B 0"));

    size_t before = lines.size();
    job("no service sequence here");
    DotImage blank = take_image();
    EXPECT_TRUE(blank.ink().empty) << "a later job gives a blank page";
    EXPECT_GE(blank.height, 1);
    EXPECT_EQ(actions(before), std::vector<std::string>{}) << "and no idle command";
    EXPECT_EQ(echoed(), "LINE: 02\nLINE: 04\nno service sequence here");
}

TEST_F(VeltraJobTest, IdentityLinesReadTheIdentityFilesUnlessBusy) {
    KeyFile oem(s->files.oem_config);
    job(seq::enter_setup + seq::identity(0x02) + seq::identity(0x12) + seq::identity(0x14) + seq::identity(0x03) +
        seq::identity(0x05) + seq::identity(0x04) + seq::identity(0x06));
    EXPECT_EQ(s->printer_model, oem.get_string("PrinterInfo", "printerName"));
    EXPECT_EQ(s->firmwareVersion, oem.get_string("PrinterInfo", "firmwareVersion"));
    EXPECT_EQ(s->slaveVersion, oem.get_string("PrinterInfo", "slaveVersion"));
    EXPECT_EQ(s->manufacture_INFO, oem.get_string("CompanyInfo", "companyUSBManufactuer"));
    EXPECT_EQ(s->manufacture_SN, key_string(s->files.serial_number, "Serial Number", "configSN"));
    EXPECT_EQ(s->manufacture_DATE, key_string(s->files.serial_number, "MANUFACTURE_DATE", "MF_DATE"));
    EXPECT_EQ(s->y_loc, 6 * 30) << "n = 6 draws nothing";
    take_image();

    // While the printer is busy the values stay as they were.
    key_file_set_string(s->files.oem_config, "PrinterInfo", "printerName", "CHANGED");
    set_busy(true);
    job(seq::identity(0x02));
    take_image();
    EXPECT_EQ(s->printer_model, oem.get_string("PrinterInfo", "printerName"));
    set_busy(false);
    job(seq::identity(0x02));
    take_image();
    EXPECT_EQ(s->printer_model, "CHANGED");
}

TEST_F(VeltraJobTest, A1D1DSequenceIsConsumedSilentlyOtherBytesAreCopied) {
    job(std::string("ab\x1d\x1d\x05" "cd", 7) + std::string(1, '\0') + "BTMAC00:11:22:33:44:55" + "e");
    EXPECT_EQ(echoed(), "abcde");
    EXPECT_EQ(actions(), std::vector<std::string>{"/root/engine_cmd B 0"});
}

TEST_F(VeltraJobTest, SetupModeIsRefusedWhileThePrinterIsBusy) {
    set_busy(true);
    job(seq::enter_setup + seq::factory + seq::paper(1));
    EXPECT_EQ(s->SETUP_ENABLE_FLAG, 0);
    EXPECT_TRUE(ran("/root/engine_cmd A")) << "the busy query";
    EXPECT_FALSE(ran("/root/engine_cmd C")) << "factory defaults and paper sensing were ignored";
    EXPECT_NE(s->last_report.find("busy"), std::string::npos);
    set_busy(false);
    job(seq::enter_setup);
    EXPECT_EQ(s->SETUP_ENABLE_FLAG, 1);
    job(seq::leave_setup + seq::factory);
    EXPECT_EQ(s->SETUP_ENABLE_FLAG, 0);
    EXPECT_FALSE(ran("/root/engine_cmd C"));
}

TEST_F(VeltraJobTest, PaperSensingWritesThePaperFileAndSendsTheSlaveItsSettings) {
    job(seq::enter_setup);
    size_t from = lines.size();
    job(seq::paper(2));
    EXPECT_EQ(key_int(s->files.paper_config, "Paper", "configMarkSeek"), 2);
    EXPECT_EQ(key_int(s->files.paper_config, "Paper", "configContrast"), 5) << "the rest of the file stays";
    std::vector<std::string> expected = {"/root/engine_cmd C", "/root/engine_cmd M", "/root/engine_cmd P",
                                         "/root/engine_cmd K", "/root/engine_cmd E", "/root/engine_cmd Y",
                                         "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(from), expected);

    // Busy: the print engine is not restarted under a page, the file stays.
    set_busy(true);
    from = lines.size();
    job(seq::paper(3));
    EXPECT_EQ(key_int(s->files.paper_config, "Paper", "configMarkSeek"), 2);
    EXPECT_EQ(actions(from), std::vector<std::string>{"/root/engine_cmd B 0"});
}

TEST_F(VeltraJobTest, WifiModesSetTheAddressMethodAndRestartTheHostLink) {
    job(seq::enter_setup);
    size_t from = lines.size();
    job(seq::wifi(1));
    EXPECT_EQ(key_string(s->files.network_config, "NetworkConfig", "LANAddressMethod"), "AccessPoint");
    std::vector<std::string> expected = {"killall host_link", "/home/access_point_wifi.sh",
                                         "/root/host_link > /dev/null 2>/dev/null &", "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(from), expected);

    from = lines.size();
    job(seq::wifi(2));
    EXPECT_EQ(key_string(s->files.network_config, "NetworkConfig", "LANAddressMethod"), "DHCP");
    expected = {"killall host_link", "/home/udhcp_wifi.sh", "/root/host_link > /dev/null 2>/dev/null &",
                "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(from), expected);

    // 3 only restarts the host link.
    std::string before = read_text_file(s->files.network_config);
    from = lines.size();
    job(seq::wifi(3));
    EXPECT_EQ(read_text_file(s->files.network_config), before);
    expected = {"killall host_link", "/root/host_link > /dev/null 2>/dev/null &", "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(from), expected);
}

TEST_F(VeltraJobTest, ContrastInstallsItsPresetAndRebuildsTheBurnTables) {
    job(seq::enter_setup);
    size_t from = lines.size();
    job(seq::contrast(7));
    EXPECT_EQ(read_text_file(s->files.paper_config), read_text_file(at("/home/contrast/7.cfg")));
    EXPECT_EQ(key_int(s->files.paper_config, "Paper", "configContrast"), 7);
    EXPECT_FALSE(file_exists(s->files.contrast_staging));
    std::vector<std::string> expected = {"killall dot_feeder && killall dot_feeder_battery\n", "/root/burn_builder",
                                         "/root/engine_cmd Y", "/root/engine_cmd R 1", "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(from), expected);

    // No preset for 12: nothing is stopped, the paper file stays.
    std::string paper = read_text_file(s->files.paper_config);
    from = lines.size();
    job(seq::contrast(12));
    EXPECT_EQ(read_text_file(s->files.paper_config), paper);
    EXPECT_EQ(actions(from), std::vector<std::string>{"/root/engine_cmd B 0"});
}

TEST_F(VeltraJobTest, HeadLifeCounterStartsAgainAtZero) {
    write_text_file(s->files.headlife, "123456");
    job(seq::enter_setup + seq::clear_head_life);
    EXPECT_EQ(read_text_file(s->files.headlife), "0");
}

TEST_F(VeltraJobTest, FactoryDefaultsCopyTheFactorySetThenConfigureTheSlave) {
    job(seq::enter_setup);
    size_t from = lines.size();
    job(seq::factory);
    std::vector<std::string> expected = {
        "cp /home/factoryDefaults/networkConfig/network_config.cfg /networkConfig/",
        "cp -r /home/factoryDefaults/Wireless/* /etc/Wireless/",
        "cp /home/factoryDefaults/networkConfig/wpa_supplicant.conf /etc/",
        "php /home/access_point_ssid.php",
        "cp /home/factoryDefaults/hexdump_config.cfg /home/",
        "cp /home/factoryDefaults/escpos_emu.cfg /home/",
        "cp /home/factoryDefaults/image_config.cfg /imageConfig/",
        "cp /home/factoryDefaults/bluetooth/blueTooth.cfg /btConfig/",
        ". /home/bluez_update_config.sh",
        "cp /home/factoryDefaults/bluetooth/main.conf /etc/bluetooth/main.conf",
        "cp /home/factoryDefaults/inch_device_config.cfg /home/",
        "cp /home/factoryDefaults/mm_device_config.cfg /home/",
        "cp /home/factoryDefaults/paper_config.cfg /home/",
        "cp /home/factoryDefaults/inch_mark_config.cfg /home/",
        "cp /home/factoryDefaults/mm_mark_config.cfg /home/",
        "cp /home/factoryDefaults/device_config_units.cfg /home/",
        "cp /home/factoryDefaults/default_language.cfg /home/",
        "cp /home/factoryDefaults/selectedLanguage.cfg /home/",
        "/root/engine_cmd C",
        "/root/engine_cmd M",
        "/root/engine_cmd P",
        "/root/engine_cmd E",
        "/root/burn_builder",
        "/root/engine_cmd Y",
        "/root/engine_cmd R 1",
        "/root/engine_cmd B 0",
    };
    EXPECT_EQ(actions(from), expected);
    // The copies are committed before the slave hears of them.
    auto sync_at = std::find(lines.begin() + long(from), lines.end(), "sync");
    auto c_at = std::find(lines.begin() + long(from), lines.end(), "/root/engine_cmd C");
    EXPECT_LT(sync_at, c_at);
}

TEST_F(VeltraJobTest, TarEnableArmsTheNextJobAndMakesTheServiceLanguageTheDefault) {
    job("TAR_ENABLE");
    EXPECT_EQ(s->UPLOAD_TAR_FILE_FLAG, 1);
    EXPECT_EQ(key_string(s->files.image_config, "Image", "configEmulation"), "VELTRA");
    EXPECT_EQ(key_string(s->files.image_config, "Image", "configFontFamily"), "Liberation Mono") << "nothing else changes";
    EXPECT_EQ(image_count(), 0) << "the confirmation is drawn but no page is printed";
    EXPECT_EQ(lines.back(), "/root/engine_cmd B 0");
}

TEST_F(VeltraJobTest, EmulationTableIsBounded) {
    std::string list;
    for (int i = 0; i < 20; ++i) list += "EMU" + std::to_string(i) + std::string(40, 'N') + ",prog" + std::to_string(i) + ",7\n";
    write_text_file(s->files.emulation_list, list + "\nAFTER,after,1\n");
    load_emulation_tables(*s);
    ASSERT_EQ(s->emulation_count, VELTRA_EMULATIONS_MAX);
    EXPECT_EQ(std::strlen(s->emulations[0].name), VELTRA_NAME_MAX);
    EXPECT_STREQ(s->emulations[3].program, "prog3");
    EXPECT_EQ(s->emulations[14].index, 7);

    write_text_file(s->files.emulation_list, "ZPL,zpl_interp,2\n\nVELTRA,veltra_interp,5\n");
    load_emulation_tables(*s);
    EXPECT_EQ(s->emulation_count, 1u) << "an empty line ends the list";
}

}  // namespace
