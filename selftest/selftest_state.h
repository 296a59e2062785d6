// selftest_interp's state: the settings shown on the configuration page, the language table, the
// battery reading and the cursor of the page being drawn, in one record that the program, a test
// or the benchmark creates fresh.
//
// The page is built as a small markup file (one item a line, tags recognised only at the start of
// a line), rendered with the rendering library and handed to the print engine as one dot image.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The device paths the page reads and writes; tests point them elsewhere.
struct SelftestFiles {
    std::string prosize = "/tmp/profilesize/prosize";
    std::string language = "/var/www/languages/english_language.cfg";
    std::string selected_language = "/var/www/languages/selectedLanguage.cfg";
    std::string markup = "/tmp/setup_testpage.txt";  // PATH_TO_SETUP_TESTPAGE
    std::string interface_config = "/home/interface_config.cfg";
    std::string network_config = "/networkConfig/network_config.cfg";
    std::string ap_config = "/networkConfig/ap_config.cfg";
    std::string bluetooth = "/btConfig/blueTooth.cfg";
    std::string bluetooth_main = "/etc/bluetooth/main.conf";
    std::string bt_mac = "/home/btMAC.cfg";
    std::string wifi_mac = "/home/wifiMAC.cfg";
    std::string oem_config = "/home/oem_config.cfg";
    std::string serial_number = "/home/serial_number.cfg";
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string escpos_emu = "/home/escpos_emu.cfg";
    std::string units = "/home/device_config_units.cfg";
    std::string config_folder = "/home";  // "<folder>/<units>_device_config.cfg", "_mark_config.cfg"
    std::string paper_config = "/home/paper_config.cfg";
    std::string label_config = "/home/label_config.cfg";
    std::string headlife = "/headlife/liferecode";
    std::string fonts_folder = "/usr/share/fonts";
    std::string logo_list = "/imageConfig/logo_list";
    std::string logos = "/logos";
    std::string battery_icons = "/logos/battery";
    std::string testpage_logo = "/home/testpage_logo.png";
    std::string query_response = "/tmp/query_response.txt";
    std::string return_dat = "/tmp/return.dat";
    std::string slave_version = "/tmp/slave_version.txt";  // SLAVE_VERSION_FILEPATH
    std::string current_flash = "/home/current_flash.cfg";
    std::string flash_root = "/";
    std::string dot_images = "/tmp/dot_feeder_intake";  // PATH_TO_DOTIMAGE_FILES
};

// ---- language table ------------------------------------------------------------------------
inline constexpr size_t LANGUAGE_KEY_MAX = 32;
inline constexpr size_t LANGUAGE_VALUE_MAX = 216;
inline constexpr size_t LANGUAGE_ENTRIES_MAX = 2048;

struct LanguageEntry {
    char key[LANGUAGE_KEY_MAX + 1] = {};
    char value[LANGUAGE_VALUE_MAX + 1] = {};
    bool group = false;  // a line with a key and no value
};

struct LanguageTable {
    std::vector<LanguageEntry> entries;
    // The value of the first entry with this key; "" when there is none (a label without text).
    const char* lookup(const char* key) const;
};

// Reads the table: each line is split at double quotes, line feeds and "=" into a key (cut to 32
// bytes) and a value (cut to 216 bytes, never inside a UTF-8 character). A missing file gives an
// empty table.
void load_language_table(LanguageTable& table, const std::string& path);

// ---- settings --------------------------------------------------------------------------------
struct SelftestSettings {
    // identity
    std::string model, firmware, slave, serial, company_web;
    double headlife_m = 0;
    // interfaces
    std::string interface;  // configInterface
    std::string address_method;
    int port = 0;
    int ip[4] = {}, mask[4] = {}, gateway[4] = {};
    std::string ssid, wifi_mac, bt_mac;
    std::string bt_name, bt_pin;
    int bt_security = 0, bt_pairing = 0, bt_discoverability = 0, bt_network = 0;
    // image and text
    int encoding = 0;
    std::string emulation, font;
    double cpi = 0;
    int line_spacing = 0;
    int eng_font_type = 0, eng_font_point = 0, eng_character_shape = 0, eng_number_shape = 0;
    int chn_font_type = 0, chn_font_point = 0, character_type = 0;
    std::string eng_font_file, chn_font_file;
    // installed fonts and logos: (shown line, picture file name)
    std::vector<std::string> fonts;
    std::vector<std::pair<std::string, std::string>> logos;
    // paper handling
    std::string units;
    double max_speed = 0, post_feed = 0, left_margin = 0, pre_feed = 0;
    double mark_to_head = 0, mark_width = 0, mark_seek_distance = 0;
    int mark_seek = 0, contrast = 0, sleep_minutes = 0, label_length = 0, gap = 0;
    // memory (flash)
    int total_mb = 0, used_mb = 0, free_mb = 0;
    std::string used_percent;
};

struct BatteryReading {
    enum State { Unknown, None, Present } state = Unknown;
    int millivolts = 0, percent = 0, charging = 0;
};

// The icon of a reading: "charging.png" while charging, else by charge: above 74 or 0 "full.png",
// 50-74 "threequarter.png", 25-49 "half.png", 11-24 "quarter.png", 1-10 "zero.png". Empty without
// a battery or a reading.
std::string battery_icon(const BatteryReading& b);

struct SelftestState {
    SelftestFiles files;
    SelftestSettings settings;
    LanguageTable language;
    BatteryReading battery;
    int battery_timeout_ms = 3000;  // the longest wait for the battery reading

    // Fixed command lines ("/root/engine_cmd Q"); tests replace it.
    std::function<int(const std::string& line)> shell;

    // Drawing: the cursor and the markup's text settings.
    int horizontal_loc = 0;
    double page_y = 0;
    int left_margin_dots = 0;
    bool centre = false, small = false;
    int font_size = 0x3000;  // Pango units
    int font_weight = 400;
    std::string font_family = "Liberation Sans";

    std::string image_path;  // the dot image written ("" when none)

    SelftestState();
};

// ---- the steps of the page -------------------------------------------------------------------
// True when the print engine still has a profile to print (the page is then not made).
bool print_engine_busy(const SelftestState& s);
// Reads every setting the page shows (and refreshes the slave version and the flash figures).
void read_settings(SelftestState& s);
// "/root/engine_cmd Q" and "A" (in the background), then the reading of "/tmp/query_response.txt",
// waited for at most battery_timeout_ms; Unknown when none came.
BatteryReading query_battery(SelftestState& s);
// The markup of the whole page.
std::string build_testpage(const SelftestSettings& settings, const LanguageTable& language,
                           const BatteryReading& battery, const SelftestFiles& files);
// Draws a markup text and writes the page as "dotimage-0.pbm" in files.dot_images. False when no
// image could be written.
bool render_markup(SelftestState& s, const std::string& markup);
// Everything: the busy check, settings, battery, language, markup file, rendering; the markup file
// is deleted afterwards. False when nothing was printed.
bool selftest_run(SelftestState& s);
