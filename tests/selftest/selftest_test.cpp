// The configuration page: the language table, the markup in its order with safe values, the
// battery icons, the markup drawn into one dot image, the bounded battery query and the whole run.
#include "render_test_support.h"

#include "selftest_state.h"

#include "image_builder.h"
#include "keyfile.h"

#include <cairo.h>

#include <chrono>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string IMAGE = std::string(PRINTER_SOURCE_DIR) + "/rootfs";

// ---- language table --------------------------------------------------------------------------

TEST(SelftestLanguage, TheDeviceFileGivesEveryLabelThePageUses) {
    LanguageTable t;
    load_language_table(t, IMAGE + "/var/www/languages/english_language.cfg");
    for (const char* key : {"Model", "FirmwareVersion", "SlaveVersion", "SerialNumber", "Headlife", "Interfaces",
                            "USBActive", "USBSetupIPAddress", "BluetoothActive", "ZADBluetoothActive", "LocalName",
                            "Security", "TurnedOn", "TurnedOff", "PairedMode", "Paired", "UnPaired", "Discoverability",
                            "Pin", "Connection", "PAN", "Printer", "MACAddress", "WIFIActive", "AddressMethod", "DHCP",
                            "Static", "AccessPoint", "SSID", "IPAddress", "SubnetMask", "Gateway", "WifiPort",
                            "ImageConfig", "Encoding", "UNICODE", "UTF-8", "GB18030", "Emulation", "Font",
                            "CharsPerInch", "TextLineSpacing", "EngFontType", "EngFontPoint", "EngFontFile",
                            "EngCharacterShape", "EngNumberShape", "ChnFontType", "ChnFontPoint", "ChnFontFile",
                            "CharacterType", "InstalledFonts", "NoneSelected", "InstalledLogos", "DeviceConfig",
                            "MaxPaperSpeed", "MarkSeek", "PostFeedDistance", "ThermalPaperType", "LeftMargin",
                            "PreFormFeedDistance", "MarkPrint", "MarkWidth", "MarkSeekDistance", "Contrast",
                            "PowerSleep", "BatteryStatus", "Charging", "Discharging", "Memory", "Used", "Free",
                            "Megabytes", "USBNote0"})
        EXPECT_STRNE(t.lookup(key), "") << key;
    EXPECT_STREQ(t.lookup("Model"), "Model");
    EXPECT_STREQ(t.lookup("UNICODE"), "Unicode (UCS-2)");
}

TEST(SelftestLanguage, KeysAndValuesAreBoundedGroupsHaveNoText) {
    TempDir dir;
    std::string path = dir.path + "/lang.cfg";
    std::string long_key(100, 'K');
    std::string long_value;
    while (long_value.size() < 300) long_value += "\xc3\xa9";  // two-byte characters
    write_text_file(path, "[group]\n" + long_key + "=\"x\"\nLong=\"" + long_value + "\"\nGroupOnly\nCR=\"a\"\r\n");
    LanguageTable t;
    load_language_table(t, path);
    ASSERT_EQ(t.entries.size(), 5u);
    EXPECT_TRUE(t.entries[0].group);
    EXPECT_EQ(std::strlen(t.entries[1].key), LANGUAGE_KEY_MAX);
    EXPECT_STREQ(t.lookup(std::string(LANGUAGE_KEY_MAX, 'K').c_str()), "x");
    size_t n = std::strlen(t.lookup("Long"));
    EXPECT_LE(n, LANGUAGE_VALUE_MAX);
    EXPECT_EQ(n % 2, 0u) << "never cut inside a character";
    EXPECT_GE(n, LANGUAGE_VALUE_MAX - 1);
    EXPECT_STREQ(t.lookup("GroupOnly"), "") << "a group marker is no label";
    EXPECT_STREQ(t.lookup("CR"), "a");
    EXPECT_STREQ(t.lookup("Missing"), "");
    LanguageTable none;
    load_language_table(none, dir.path + "/missing.cfg");
    EXPECT_TRUE(none.entries.empty());
}

// ---- the markup ------------------------------------------------------------------------------

class SelftestPage : public ::testing::Test {
protected:
    void SetUp() override {
        load_language_table(language, IMAGE + "/var/www/languages/english_language.cfg");
        st.model = "KVX8";
        st.firmware = "01.05.00.00";
        st.slave = "01.10.00.00";
        st.serial = "10000001";
        st.company_web = "www.telmaron.example";
        st.interface = "USB";
        st.emulation = "ZPL";
        st.wifi_mac = "00:11:22:33:44:55";
        st.bt_mac = "66:77:88:99:aa:bb";
        st.ssid = "PRINTERNET";
        battery.state = BatteryReading::Present;
        battery.millivolts = 7400;
        battery.percent = 60;
    }
    std::string page() const { return build_testpage(st, language, battery, files); }
    static bool has_line(const std::string& markup, const std::string& line) {
        return ("\n" + markup).find("\n" + line + "\n") != std::string::npos;
    }
    static bool contains(const std::string& markup, const std::string& text) { return markup.find(text) != std::string::npos; }
    LanguageTable language;
    SelftestSettings st;
    BatteryReading battery;
    SelftestFiles files;
};

TEST_F(SelftestPage, SectionsComeInTheirOrder) {
    std::string m = page();
    const char* order[] = {"[LOGO] /home/testpage_logo.png", "Model: KVX8", "Firmware version: 01.05.00.00",
                           "Serial number: 10000001", "Head life: 0.00 m", "Interfaces", "USB active",
                           "Emulation and text", "Emulation: ZPL", "Installed fonts",
                           "Installed logos", "Paper handling", "Contrast: 0/10",
                           "Battery", "(Discharging:60%)", "[LOGO] /logos/battery/threequarter.png",
                           "Memory", "Total Memory:", "Hold the feed key", "Press the feed key twice",
                           "[BARCODE] 58 n 8 10 www.telmaron.example", "[NIB_TEST]"};
    size_t at = 0;
    for (const char* item : order) {
        size_t found = m.find(item, at);
        ASSERT_NE(found, std::string::npos) << item << " after position " << at;
        at = found;
    }
    EXPECT_TRUE(has_line(m, "[TITLE]"));
    EXPECT_EQ(m.rfind("[NIB_TEST]\n"), m.size() - 11) << "the page ends with it";
}

TEST_F(SelftestPage, ListsHaveThreeColumnsAndANewRowAfterTheThird) {
    st.fonts = {"one", "two", "three", "four"};
    std::string m = page();
    EXPECT_TRUE(contains(m, "[LEFTLIST]\n      one\n[CENTERLIST]\n      two\n[RIGHTLIST]\n      three\n[FILL_LINE]\n"
                            "[LEFTLIST]\n      four\n[FILL_LINE]\n"));
    st.fonts.clear();
    EXPECT_TRUE(contains(page(), "[LEFTLIST]\n      None\n"));
}

TEST_F(SelftestPage, UsbOnlyShowsTheSetupAddressWifiShowsItsBlockInstead) {
    std::string usb = page();
    EXPECT_TRUE(contains(usb, "USB set-up address:169.254.200.1"));
    EXPECT_FALSE(contains(usb, "Wi-Fi active"));
    EXPECT_FALSE(contains(usb, "[BARCODE] 20"));

    st.interface = "WIFI";
    st.address_method = "Static";
    int ip[4] = {192, 168, 1, 100};
    std::memcpy(st.ip, ip, sizeof ip);
    st.port = 6101;
    std::string wifi = page();
    EXPECT_FALSE(contains(wifi, "169.254.200.1"));
    for (const char* line : {"Wi-Fi active", "Address method: Static", "SSID: PRINTERNET", "IP address: 192.168.1.100",
                             "Port: 6101", "MAC address: 00:11:22:33:44:55", "[BARCODE] 20 Z 2 20 00:11:22:33:44:55"})
        EXPECT_TRUE(contains(wifi, line)) << line;
    EXPECT_TRUE(contains(wifi, "USB active"));

    st.interface = "NSCBT";
    st.bt_network = 1;
    std::string bt = page();
    for (const char* line : {"Bluetooth module active", "Connection: Network (PAN)", "[BARCODE] 20 Z 2 20 66:77:88:99:aa:bb"})
        EXPECT_TRUE(contains(bt, line)) << line;
    EXPECT_FALSE(contains(bt, "169.254.200.1"));
    EXPECT_FALSE(contains(bt, "Wi-Fi active"));
}

TEST_F(SelftestPage, ValuesNeverStartOrBreakAMarkupLine) {
    st.interface = "WIFI";
    st.ssid = "net\n[LOGO] /etc/shadow";
    st.model = "[VERTICAL] 6000";
    st.company_web = "evil\n[BARCODE] 58 n 20 500 x^more";
    st.fonts = {"[TITLE]", "FF"};
    std::string m = page();
    size_t pos = 0;
    while (pos < m.size()) {
        size_t nl = m.find('\n', pos);
        std::string line = m.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.empty() || line[0] != '[') continue;
        // Every tag line is one the page itself writes.
        EXPECT_EQ(line.find("/etc/shadow"), std::string::npos) << line;
        EXPECT_EQ(line.find("6000"), std::string::npos) << line;
        EXPECT_NE(line, "[TITLE]      ") << line;
    }
    EXPECT_TRUE(contains(m, "SSID: net [LOGO] /etc/shadow"));
    EXPECT_TRUE(contains(m, "[BARCODE] 58 n 8 10 evil [BARCODE] 58 n 20 500 x\n")) << "data ends at ^";
    EXPECT_FALSE(has_line(m, "FF"));
    int titles = 0;
    for (size_t at = 0; (at = ("\n" + m).find("\n[TITLE]\n", at)) != std::string::npos; ++at) ++titles;
    EXPECT_EQ(titles, 1) << "only the page's own title tag";
}

TEST(SelftestBattery, IconsByCharge) {
    auto icon = [](int percent, int charging = 0) {
        BatteryReading b;
        b.state = BatteryReading::Present;
        b.millivolts = 7000;
        b.percent = percent;
        b.charging = charging;
        return battery_icon(b);
    };
    EXPECT_EQ(icon(74), "threequarter.png");
    EXPECT_EQ(icon(75), "full.png");
    EXPECT_EQ(icon(100), "full.png");
    EXPECT_EQ(icon(0), "full.png") << "0 % with a voltage";
    EXPECT_EQ(icon(50), "threequarter.png");
    EXPECT_EQ(icon(49), "half.png");
    EXPECT_EQ(icon(25), "half.png");
    EXPECT_EQ(icon(24), "quarter.png");
    EXPECT_EQ(icon(11), "quarter.png");
    EXPECT_EQ(icon(10), "zero.png");
    EXPECT_EQ(icon(1), "zero.png");
    EXPECT_EQ(icon(30, 1), "charging.png");
    EXPECT_EQ(battery_icon(BatteryReading{}), "") << "unknown";
    BatteryReading none;
    none.state = BatteryReading::None;
    EXPECT_EQ(battery_icon(none), "");
}

TEST_F(SelftestPage, BatteryLines) {
    battery.percent = 74;
    EXPECT_TRUE(contains(page(), "      (Discharging:74%)\n[FILL_LINE]\n[LOGO] /logos/battery/threequarter.png\n"));
    battery.percent = 75;
    EXPECT_TRUE(contains(page(), "[LOGO] /logos/battery/full.png\n"));
    battery.charging = 1;
    EXPECT_TRUE(contains(page(), "      (Charging:75%)\n"));
    battery = BatteryReading{};
    std::string unknown = page();
    EXPECT_TRUE(contains(unknown, "      (unknown)\n"));
    EXPECT_FALSE(contains(unknown, "/logos/battery/"));
    battery.state = BatteryReading::None;
    EXPECT_TRUE(contains(page(), "      (NONE)\n"));
}

// ---- drawing the markup ------------------------------------------------------------------------

class SelftestRender : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        s.files.dot_images = images;
    }
    DotImage page_of(const std::string& markup) {
        EXPECT_TRUE(render_markup(s, markup));
        EXPECT_EQ(s.image_path, images + "/dotimage-0.pbm");
        DotImage image;
        EXPECT_TRUE(read_dot_image_file(s.image_path, image));
        unlink(s.image_path.c_str());
        return image;
    }
    SelftestState s;
};

TEST_F(SelftestRender, OneDotImageWithThePlainHeader) {
    DotImage p = page_of("[SMALL]\nHello\n");
    EXPECT_EQ(p.width, 1728);
    EXPECT_EQ(p.header, "P4\n1728 " + std::to_string(p.height) + "\n");
    EXPECT_EQ(take_trigger(), "") << "no contrast trigger";
}

TEST_F(SelftestRender, TextStaysOnItsRowUntilAFillLine) {
    DotImage same = page_of("[SMALL]\n[LEFTLIST]\nAAAA\n[CENTERLIST]\nBBBB\n");
    InkBox left = same.ink_in(0, 0, 576, same.height), centre = same.ink_in(576, 0, 1152, same.height);
    ASSERT_FALSE(left.empty || centre.empty);
    EXPECT_NEAR(left.top, centre.top, 2) << "one row";
    EXPECT_GE(centre.left, 576);
    EXPECT_GE(left.top, 30) << "text is drawn 30 dots below the cursor";

    DotImage rows = page_of("[SMALL]\nAAAA\n[FILL_LINE]\nBBBB\n[FILL_LINE]\n[FILL_LINE]\nCCCC\n");
    InkBox first = rows.ink_in(0, 0, 1728, left.bottom + 2);
    InkBox all = rows.ink();
    EXPECT_EQ(first.top, left.top);
    EXPECT_NEAR(all.bottom - first.bottom, 90, 3) << "three fill lines of 30 dots";
}

TEST_F(SelftestRender, LinesCentringAndPictures) {
    DotImage line = page_of("[LINE]\n");
    InkBox rule = line.ink();
    EXPECT_EQ(rule.left, 0);
    EXPECT_EQ(rule.right, 1727);
    EXPECT_LE(rule.height(), 3);

    DotImage centred = page_of("[CENTERON]\n[HEADER]\nMIDDLE\n");
    InkBox c = centred.ink();
    EXPECT_NEAR((c.left + c.right) / 2.0, 864, 20);

    std::string icon = std::string(PRINTER_SOURCE_DIR) + "/rootfs/logos/battery/full.png";
    DotImage pic = page_of("[LOGO] " + icon + "\n[FILL_LINE]\n[SMALL]\nBELOW\n");
    cairo_surface_t* png = cairo_image_surface_create_from_png(icon.c_str());
    int pw = cairo_image_surface_get_width(png), ph = cairo_image_surface_get_height(png);
    cairo_surface_destroy(png);
    InkBox p = pic.ink_in(0, 0, 1728, 30 + ph);
    EXPECT_NEAR((p.left + p.right) / 2.0, 864, pw / 2.0);
    EXPECT_GE(p.top, 30);
    InkBox text = pic.ink_in(0, 30 + ph, 1728, pic.height);
    EXPECT_FALSE(text.empty) << "the text goes below the picture";
}

// The battery icon on the page: as much ink as the icon's own opaque pixels.
TEST_F(SelftestRender, TheBatteryIconOnThePageIsTheChosenOne) {
    auto opaque = [](const std::string& path) {
        cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
        cairo_surface_flush(png);
        int w = cairo_image_surface_get_width(png), h = cairo_image_surface_get_height(png);
        int stride = cairo_image_surface_get_stride(png);
        const uint8_t* d = cairo_image_surface_get_data(png);
        long n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) n += d[y * stride + 4 * x + 3] >= 128;
        cairo_surface_destroy(png);
        return n;
    };
    auto ink = [](const DotImage& p) {
        long n = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) n += p.dot(x, y);
        return n;
    };
    std::string folder = std::string(PRINTER_SOURCE_DIR) + "/rootfs/logos/battery/";
    long full = opaque(folder + "full.png"), three = opaque(folder + "threequarter.png");
    ASSERT_GT(full, three + 200) << "the icons differ in ink";
    for (int percent : {74, 75}) {
        BatteryReading b;
        b.state = BatteryReading::Present;
        b.percent = percent;
        b.millivolts = 7000;
        std::string markup = "[LOGO] " + folder + battery_icon(b) + "\n";
        long got = ink(page_of(markup));
        long want = percent == 74 ? three : full;
        EXPECT_NEAR(double(got), double(want), want * 0.03) << percent << " %";
    }
}

// ---- the battery query and the whole run -------------------------------------------------------

class SelftestRun : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        root = dir.path + "/root";
        for (const char* d : {"/home", "/networkConfig", "/imageConfig", "/btConfig", "/etc/bluetooth",
                              "/var/www/languages", "/tmp/profilesize", "/headlife"})
            fs::create_directories(root + d);
        for (const char* f : {"/home/oem_config.cfg", "/home/serial_number.cfg", "/home/interface_config.cfg",
                              "/home/paper_config.cfg", "/home/label_config.cfg", "/home/device_config_units.cfg",
                              "/home/inch_device_config.cfg", "/home/inch_mark_config.cfg", "/home/escpos_emu.cfg",
                              "/home/wifiMAC.cfg", "/home/btMAC.cfg", "/networkConfig/network_config.cfg",
                              "/networkConfig/ap_config.cfg", "/imageConfig/image_config.cfg",
                              "/imageConfig/logo_list", "/btConfig/blueTooth.cfg", "/etc/bluetooth/main.conf",
                              "/var/www/languages/english_language.cfg", "/var/www/languages/selectedLanguage.cfg"})
            fs::copy_file(IMAGE + f, root + f);
        SelftestFiles& f = s.files;
        for (std::string* p :
             {&f.prosize, &f.language, &f.selected_language, &f.markup, &f.interface_config, &f.network_config,
              &f.ap_config, &f.bluetooth, &f.bluetooth_main, &f.bt_mac, &f.wifi_mac, &f.oem_config, &f.serial_number,
              &f.image_config, &f.escpos_emu, &f.units, &f.config_folder, &f.paper_config, &f.label_config,
              &f.headlife, &f.logo_list, &f.query_response, &f.return_dat, &f.slave_version, &f.current_flash})
            *p = root + *p;
        f.logos = IMAGE + "/logos";
        f.battery_icons = IMAGE + "/logos/battery";
        f.testpage_logo = IMAGE + "/home/testpage_logo.png";
        f.fonts_folder = root + "/fonts";
        f.flash_root = root;
        f.dot_images = images;
        s.shell = [this](const std::string& line) {
            lines.push_back(line);
            if (line.find("/root/engine_cmd Q") != std::string::npos && !answer.empty())
                write_text_file(s.files.query_response, answer);
            return 0;
        };
    }
    SelftestState s;
    std::string root, answer = "07400,74,0";
    std::vector<std::string> lines;
};

TEST_F(SelftestRun, TheBatteryQueryWaitsAtMostItsBound) {
    write_text_file(s.files.query_response, "08000,99,0");  // an old reading is not taken
    answer = "";
    s.battery_timeout_ms = 300;
    auto t0 = std::chrono::steady_clock::now();
    BatteryReading b = query_battery(s);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(b.state, BatteryReading::Unknown);
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(lines, (std::vector<std::string>{"(/root/engine_cmd Q; /root/engine_cmd A) &"}));
    EXPECT_EQ(SelftestState().battery_timeout_ms, 3000);

    answer = "07400,74,1";
    b = query_battery(s);
    EXPECT_EQ(b.state, BatteryReading::Present);
    EXPECT_EQ(b.percent, 74);
    EXPECT_EQ(b.charging, 1);
    answer = "00000,00,0";
    EXPECT_EQ(query_battery(s).state, BatteryReading::None);
}

TEST_F(SelftestRun, AWholePageIsOneImageAndTheMarkupFileGoes) {
    write_text_file(s.files.slave_version, "01.11.00.00");
    write_text_file(s.files.headlife, "203000");
    ASSERT_TRUE(selftest_run(s));
    EXPECT_FALSE(file_exists(s.files.markup));
    DotImage page;
    ASSERT_TRUE(read_dot_image_file(images + "/dotimage-0.pbm", page));
    EXPECT_GT(page.height, 1000);
    EXPECT_FALSE(page.ink().empty);
    EXPECT_EQ(key_string(s.files.oem_config, "PrinterInfo", "slaveVersion"), "01.11.00.00")
        << "the version the slave reported";
    EXPECT_EQ(key_string(s.files.oem_config, "PrinterInfo", "printerName"), "KVX8") << "the rest stays";
    EXPECT_NEAR(s.settings.headlife_m, 25.4, 0.01) << "203000 dot rows";
    std::string flash = read_text_file(s.files.current_flash);
    EXPECT_EQ(flash.rfind("[Flash Use]\nTOTAL_FLASH_MB=", 0), 0u) << flash;
    EXPECT_NE(flash.find("USED_FLASH_PERCENT="), std::string::npos);
    EXPECT_EQ(s.battery.percent, 74);
}

TEST_F(SelftestRun, NothingWhileAProfileIsWaitingToBePrinted) {
    write_text_file(s.files.prosize, "4096\n");
    EXPECT_FALSE(selftest_run(s));
    EXPECT_EQ(image_count(), 0);
    EXPECT_TRUE(lines.empty()) << "not even the battery query";
}

TEST_F(SelftestRun, AMissingLanguageFileGivesAPageWithoutLabels) {
    s.files.language = root + "/no_language.cfg";
    ASSERT_TRUE(selftest_run(s));
    EXPECT_EQ(image_count(), 1);
    std::string markup = build_testpage(s.settings, s.language, s.battery, s.files);
    EXPECT_NE(markup.find("      KVX8\n"), std::string::npos);
    EXPECT_EQ(markup.find("Model"), std::string::npos);
}

}  // namespace
