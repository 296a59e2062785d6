// The settings shown on the configuration page, the battery reading and the flash figures.
#include "selftest_state.h"

#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string read_head(const std::string& path, size_t max) {
    std::string s;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        s.resize(max);
        s.resize(std::fread(s.data(), 1, max, f));
        std::fclose(f);
    }
    return s;
}

// A slave version as engine_watch writes it: four numbers of two or three digits with dots.
bool is_slave_version(const std::string& v) {
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        size_t digits = 0;
        while (i < v.size() && std::isdigit(static_cast<unsigned char>(v[i]))) ++i, ++digits;
        if (digits < 2 || digits > 3) return false;
        if (part < 3) {
            if (i >= v.size() || v[i] != '.') return false;
            ++i;
        }
    }
    return true;
}

// The slave version the slave last reported goes into the identity file when it changed.
void refresh_slave_version(SelftestState& s, KeyFile& oem) {
    std::string v = read_head(s.files.slave_version, 21);
    v = v.substr(0, v.find_first_of("\r\n"));
    if (!is_slave_version(v)) return;
    std::string stored = oem.get_string("PrinterInfo", "slaveVersion");
    if (stored.compare(0, 21, v, 0, 21) == 0) return;
    oem.set_string("PrinterInfo", "slaveVersion", v);
    oem.save(s.files.oem_config);
}

void read_octets(const KeyFile& kf, const char* prefix, int (&out)[4]) {
    for (int i = 0; i < 4; ++i) out[i] = kf.get_int("NetworkConfig", (prefix + std::to_string(i)).c_str());
}

void read_fonts(SelftestState& s) {
    s.settings.fonts.clear();
    DIR* d = opendir(s.files.fonts_folder.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        s.settings.fonts.push_back(std::string(e->d_name).substr(0, 64));
        if (s.settings.fonts.size() >= 256) break;
    }
    closedir(d);
    std::sort(s.settings.fonts.begin(), s.settings.fonts.end());
}

// Lines "<letter>=<file>" (or a bare file name) of the logo list.
void read_logos(SelftestState& s) {
    s.settings.logos.clear();
    FILE* f = std::fopen(s.files.logo_list.c_str(), "r");
    if (!f) return;
    char line[256];
    while (std::fgets(line, sizeof line, f) && s.settings.logos.size() < 24) {
        std::string text = line;
        text = text.substr(0, text.find_first_of("\r\n"));
        if (text.empty()) continue;
        std::string shown = text, file = text;
        if (text.size() > 2 && text[1] == '=') {
            shown = text.substr(0, 1) + "  " + text.substr(2);
            file = text.substr(2);
        }
        // A picture is taken from the logo folder only.
        if (file.find('/') != std::string::npos || file == "." || file == "..") file.clear();
        s.settings.logos.emplace_back(shown, file);
    }
    std::fclose(f);
}

void read_flash(SelftestState& s) {
    struct statvfs v {};
    SelftestSettings& st = s.settings;
    if (statvfs(s.files.flash_root.c_str(), &v) != 0 || v.f_blocks == 0) return;
    double unit = double(v.f_frsize) / (1024.0 * 1024.0);
    st.total_mb = int(double(v.f_blocks) * unit);
    st.free_mb = int(double(v.f_bavail) * unit);
    st.used_mb = int(double(v.f_blocks - v.f_bfree) * unit);
    char pct[32];
    std::snprintf(pct, sizeof pct, "%.1f%%", 100.0 * double(v.f_blocks - v.f_bfree) / double(v.f_blocks));
    st.used_percent = pct;
    char text[256];
    std::snprintf(text, sizeof text,
                  "[Flash Use]\nTOTAL_FLASH_MB=%d\nUSED_FLASH_MB=%d\nUSED_FLASH_PERCENT=%s\nFREE_FLASH_MB=%d\n",
                  st.total_mb, st.used_mb, pct, st.free_mb);
    if (FILE* f = std::fopen(s.files.current_flash.c_str(), "w")) {
        std::fputs(text, f);
        std::fclose(f);
        s.shell("sync");
    }
}
}  // namespace

SelftestState::SelftestState() : shell([](const std::string& line) { return run_shell(line); }) {}

bool print_engine_busy(const SelftestState& s) { return exists(s.files.prosize); }

void read_settings(SelftestState& s) {
    SelftestSettings& st = s.settings;
    const SelftestFiles& f = s.files;

    KeyFile oem(f.oem_config);
    refresh_slave_version(s, oem);
    st.model = oem.get_string("PrinterInfo", "printerName");
    st.firmware = oem.get_string("PrinterInfo", "firmwareVersion");
    st.slave = oem.get_string("PrinterInfo", "slaveVersion");
    st.company_web = oem.get_string("CompanyInfo", "companyWeb");
    st.ssid = oem.get_string("WifiInfo", "ssid");
    st.serial = key_string(f.serial_number, "Serial Number", "configSN");

    unsigned long count = 0;
    if (FILE* h = std::fopen(f.headlife.c_str(), "r")) {
        if (std::fscanf(h, "%lu", &count) != 1) count = 0;
        std::fclose(h);
    }
    st.headlife_m = double(count) / 203.0 * 0.0254;  // the counter counts dot rows

    st.interface = key_string(f.interface_config, "Interface", "configInterface");
    KeyFile net(f.network_config);
    st.address_method = net.get_string("NetworkConfig", "LANAddressMethod");
    st.port = net.get_int("NetworkConfig", "configPort");
    // The printer's own access point has addresses of its own.
    KeyFile ap(f.ap_config);
    const KeyFile& addresses = st.address_method == "AccessPoint" ? ap : net;
    read_octets(addresses, "IPAddress", st.ip);
    read_octets(addresses, "SubnetMask", st.mask);
    read_octets(addresses, "IPGateway", st.gateway);
    st.wifi_mac = key_string(f.wifi_mac, "MACAddress", "WIFI_ADDR");
    st.bt_mac = key_string(f.bt_mac, "MACAddress", "BT_ADDR");

    KeyFile bt(f.bluetooth);
    st.bt_network = bt.get_int("LocalBTSettings", "BT_NETWORK");
    st.bt_security = bt.get_int("LocalBTSettings", "BT_SECURITY");
    st.bt_pairing = bt.get_int("LocalBTSettings", "BT_PAIRING");
    st.bt_discoverability = bt.get_int("LocalBTSettings", "BT_DISCOVERABILITY");
    st.bt_pin = bt.get_string("LocalBTSettings", "BT_PIN");
    st.bt_name = key_string(f.bluetooth_main, "General", "Name");

    KeyFile image(f.image_config);
    st.encoding = image.get_int("Image", "configEncoding");
    st.emulation = image.get_string("Image", "configEmulation");
    st.font = image.get_string("Image", "configFontFamily");
    st.cpi = image.get_double("Image", "configCPI");
    st.line_spacing = image.get_int("Image", "configLineSpacing");

    KeyFile esc(f.escpos_emu);
    st.eng_font_type = esc.get_int("EmulConfig", "configEngFontType");
    st.eng_font_point = esc.get_int("EmulConfig", "configEngFontPoint");
    st.eng_font_file = esc.get_string("EmulConfig", "configEngFontFile");
    st.eng_character_shape = esc.get_int("EmulConfig", "configEngCharacterShap");
    st.eng_number_shape = esc.get_int("EmulConfig", "configEngNumberShap");
    st.chn_font_type = esc.get_int("EmulConfig", "configChnFontType");
    st.chn_font_point = esc.get_int("EmulConfig", "configChnFontPoint");
    st.chn_font_file = esc.get_string("EmulConfig", "configChnFontFile");
    st.character_type = esc.get_int("EmulConfig", "configCharacterType");

    read_fonts(s);
    read_logos(s);

    st.units = key_string(f.units, "units", "UNITS");
    std::string units = st.units.empty() ? "inch" : st.units;
    KeyFile form(f.config_folder + "/" + units + "_device_config.cfg");
    st.max_speed = form.get_double("Form", "configMaxPaperSpeed");
    st.post_feed = form.get_double("Form", "configPostFeed");
    st.pre_feed = form.get_double("Form", "configPreFeed");
    st.left_margin = form.get_double("Form", "configLeftMargin");
    st.mark_width = form.get_double("Form", "configMarkWidth");
    st.mark_seek_distance = form.get_double("Form", "configMarkSeekDistance");
    st.mark_to_head = key_double(f.config_folder + "/" + units + "_mark_config.cfg", "Blackmark", "mark_to_head");
    KeyFile paper(f.paper_config);
    st.mark_seek = paper.get_int("Paper", "configMarkSeek");
    st.contrast = paper.get_int("Paper", "configContrast");
    st.sleep_minutes = paper.get_int("Battery", "configBatterySleep");
    KeyFile label(f.label_config);
    st.label_length = label.get_int("LabelConfig", "LabelLength");
    st.gap = label.get_int("LabelConfig", "GapWidth");

    read_flash(s);

    std::string selected = key_string(f.selected_language, "language", "selectedLanguage");
    dbg("selected language %s; the page is printed in English\n", selected.c_str());
}

BatteryReading query_battery(SelftestState& s) {
    BatteryReading b;
    unlink(s.files.query_response.c_str());
    // In the background: engine_cmd itself waits while a request of the same letter is pending, which
    // is for ever when engine_watch does not take command files. The page waits only for the answer.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.battery_timeout_ms);
    s.shell("(/root/engine_cmd Q; /root/engine_cmd A) &");
    for (;;) {
        std::string text = read_head(s.files.query_response, 64);
        int mv = 0, pct = 0, charging = 0;
        if (std::sscanf(text.c_str(), "%d,%d,%d", &mv, &pct, &charging) == 3) {
            b.millivolts = mv;
            b.percent = pct;
            b.charging = charging;
            b.state = (mv == 0 && pct == 0) ? BatteryReading::None : BatteryReading::Present;
            break;
        }
        if (std::chrono::steady_clock::now() >= until) {
            std::fprintf(stderr, "selftest_interp: no battery reading within %g s; shown as unknown\n",
                         s.battery_timeout_ms / 1000.0);
            return b;
        }
        sleep_ms(20);
    }
    std::string status = read_head(s.files.return_dat, 24);
    dbg("battery %d mV, %d%%, charging %d; status %s\n", b.millivolts, b.percent, b.charging, status.c_str());
    return b;
}

std::string battery_icon(const BatteryReading& b) {
    if (b.state != BatteryReading::Present) return "";
    if (b.charging) return "charging.png";
    int p = b.percent;
    if (p > 74 || p == 0) return "full.png";
    if (p >= 50) return "threequarter.png";
    if (p >= 25) return "half.png";
    if (p >= 11) return "quarter.png";
    return "zero.png";
}
