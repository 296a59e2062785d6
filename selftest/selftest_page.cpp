// The markup of the configuration page, in the order the page prints.
#include "selftest_state.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// A value from a key file or the language table as one markup text: a line end inside it is
// replaced, and it never starts a markup line.
std::string one_line(std::string v) {
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    return v;
}

class Markup {
public:
    explicit Markup(const LanguageTable& language) : language_(language) {}

    void tag(const char* t) { text_ += std::string(t) + "\n"; }
    // A line of text: never a tag, never "FF".
    void text(const std::string& line) {
        std::string l = one_line(line);
        if (!l.empty() && (l[0] == '[' || l == "FF")) l.insert(0, " ");
        text_ += l + "\n";
    }
    void empty_line() { text_ += "\n"; }
    const char* label(const char* key) const { return language_.lookup(key); }
    // "<label>: <value>", or the value alone when the label has no text.
    std::string item(const char* key, const std::string& value) const {
        std::string l = one_line(label(key));
        return l.empty() ? value : l + ": " + value;
    }

    // Lists: three columns, a new row after the third.
    void list(const std::string& value) {
        static const char* const columns[] = {"[LEFTLIST]", "[CENTERLIST]", "[RIGHTLIST]"};
        tag(columns[column_]);
        text("      " + one_line(value));
        if (++column_ == 3) {
            tag("[FILL_LINE]");
            column_ = 0;
        }
    }
    void end_list() {
        if (column_ != 0) tag("[FILL_LINE]");
        column_ = 0;
    }
    // A section title and the small type of its values.
    void section(const char* key) {
        end_list();
        tag("[LINE]");
        tag("[HEADER]");
        text(label(key));
        tag("[FILL_LINE]");
        tag("[FILL_LINE]");
        tag("[RESET]");
        tag("[SMALL]");
    }
    // A barcode on a row of its own; data ends at "^" or the line end.
    void barcode(int symbology, bool text, int scale, int height, const std::string& data) {
        end_list();
        std::string d = one_line(data);
        d = d.substr(0, d.find('^'));
        text_ += format("[BARCODE] %d %c %d %d ", symbology, text ? 'Z' : 'n', scale, height) + d + "\n";
        tag("[FILL_LINE]");
    }

    const std::string& str() const { return text_; }

private:
    const LanguageTable& language_;
    std::string text_;
    int column_ = 0;
};

std::string dotted(const int (&o)[4]) { return format("%d.%d.%d.%d", o[0], o[1], o[2], o[3]); }

}  // namespace

std::string build_testpage(const SelftestSettings& st, const LanguageTable& language, const BatteryReading& battery,
                           const SelftestFiles& files) {
    Markup m(language);

    // 1. Title: the company logo, centred.
    m.tag("[TITLE]");
    m.tag("[CENTERON]");
    m.tag(("[LOGO] " + files.testpage_logo).c_str());
    m.tag("[RESET]");
    m.empty_line();
    m.tag("[CENTEROFF]");

    // 2. Identity.
    m.tag("[SMALL]");
    m.list(m.item("Model", st.model));
    m.list(m.item("FirmwareVersion", st.firmware));
    m.list(m.item("SlaveVersion", st.slave));
    m.list(m.item("SerialNumber", st.serial));
    m.list(m.item("Headlife", format("%.2f m", st.headlife_m)));
    m.end_list();
    m.tag("[FILL_LINE]");

    // 3. Interfaces.
    m.section("Interfaces");
    bool bluetooth = st.interface == "BT" || st.interface == "NSCBT";
    bool wifi = st.interface == "WIFI";
    m.list(m.label("USBActive"));
    if (!bluetooth && !wifi) m.list(format("%s:169.254.200.1", m.label("USBSetupIPAddress")));
    if (bluetooth) {
        m.end_list();
        m.list(m.label(st.interface == "BT" ? "BluetoothActive" : "ZADBluetoothActive"));
        m.list(m.item("LocalName", st.bt_name));
        m.list(m.item("Security", m.label(st.bt_security ? "TurnedOn" : "TurnedOff")));
        m.list(m.item("PairedMode", m.label(st.bt_pairing ? "Paired" : "UnPaired")));
        m.list(m.item("Discoverability", m.label(st.bt_discoverability ? "TurnedOn" : "TurnedOff")));
        m.list(m.item("Pin", st.bt_pin));
        m.list(m.item("Connection", m.label(st.bt_network ? "PAN" : "Printer")));
        m.list(m.item("MACAddress", st.bt_mac));
        m.barcode(20, true, 2, 20, st.bt_mac);
    }
    if (wifi) {
        m.end_list();
        m.list(m.label("WIFIActive"));
        const char* method = st.address_method == "Static"        ? "Static"
                             : st.address_method == "AccessPoint" ? "AccessPoint"
                                                                  : "DHCP";
        m.list(m.item("AddressMethod", m.label(method)));
        m.list(m.item("SSID", st.ssid));
        m.list(m.item("IPAddress", dotted(st.ip)));
        m.list(m.item("SubnetMask", dotted(st.mask)));
        m.list(m.item("Gateway", dotted(st.gateway)));
        m.list(m.item("WifiPort", std::to_string(st.port)));
        m.list(m.item("MACAddress", st.wifi_mac));
        m.barcode(20, true, 2, 20, st.wifi_mac);
    }

    // 4. Emulation and text.
    m.section("ImageConfig");
    const char* encoding = st.encoding == 1 ? "UNICODE" : st.encoding == 2 ? "UTF-8" : "GB18030";
    m.list(m.item("Encoding", m.label(encoding)));
    m.list(m.item("Emulation", st.emulation));
    m.list(m.item("Font", st.font));
    m.list(m.item("CharsPerInch", format("%0.2f", st.cpi)));
    m.list(m.item("TextLineSpacing", std::to_string(st.line_spacing)));
    if (st.emulation == "ESCPOS") {
        m.list(m.item("EngFontType", std::to_string(st.eng_font_type)));
        m.list(m.item("EngFontPoint", std::to_string(st.eng_font_point)));
        m.list(m.item("EngFontFile", st.eng_font_file));
        m.list(m.item("EngCharacterShape", std::to_string(st.eng_character_shape)));
        m.list(m.item("EngNumberShape", std::to_string(st.eng_number_shape)));
        m.list(m.item("ChnFontType", std::to_string(st.chn_font_type)));
        m.list(m.item("ChnFontPoint", std::to_string(st.chn_font_point)));
        m.list(m.item("ChnFontFile", st.chn_font_file));
        m.list(m.item("CharacterType", std::to_string(st.character_type)));
    }

    // 5. Installed fonts, three to a row.
    m.section("InstalledFonts");
    if (st.fonts.empty()) m.list(m.label("NoneSelected"));
    for (const auto& font : st.fonts) m.list(font);

    // 6. Installed logos: the list, then each picture.
    m.section("InstalledLogos");
    if (st.logos.empty()) m.list(m.label("NoneSelected"));
    for (const auto& logo : st.logos) m.list(logo.first);
    m.end_list();
    for (const auto& logo : st.logos) {
        if (logo.second.empty()) continue;
        m.tag(("[LOGO] " + files.logos + "/" + one_line(logo.second)).c_str());
        m.tag("[FILL_LINE]");
    }

    // 7. Paper handling.
    m.section("DeviceConfig");
    bool mm = st.units == "mm";
    m.list(format("%s:%.1f %s", m.label("MaxPaperSpeed"), st.max_speed, mm ? "mm/s" : "in/s"));
    static const char* const modes[] = {"continuous", "black mark", "cut sheets", "labels with gaps"};
    std::string mode = st.mark_seek >= 0 && st.mark_seek <= 3 ? modes[st.mark_seek] : std::to_string(st.mark_seek);
    m.list(m.item("MarkSeek", format("%d (%s)", st.mark_seek, mode.c_str())));
    const char* unit = mm ? "mm" : "in";
    m.list(m.item("PostFeedDistance", format("%.2f %s", st.post_feed, unit)));
    m.list(m.item("ThermalPaperType", st.mark_seek == 3 ? format("%s, %d/%d dots", mode.c_str(), st.label_length, st.gap)
                                                        : mode));
    m.list(m.item("LeftMargin", format("%.2f %s", st.left_margin, unit)));
    m.list(m.item("PreFormFeedDistance", format("%.2f %s", st.pre_feed, unit)));
    m.list(m.item("MarkPrint", format("%.2f %s", st.mark_to_head, unit)));
    m.list(m.item("MarkWidth", format("%.2f %s", st.mark_width, unit)));
    m.list(m.item("MarkSeekDistance", format("%.2f %s", st.mark_seek_distance, unit)));
    m.list(format("%s: %d/10", m.label("Contrast"), st.contrast));
    m.list(format("%s: %d min(s)", m.label("PowerSleep"), st.sleep_minutes));

    // 8. Battery and its icon.
    m.section("BatteryStatus");
    m.end_list();
    if (battery.state == BatteryReading::Unknown) {
        m.text("      (unknown)");
    } else if (battery.state == BatteryReading::None) {
        m.text("      (NONE)");
    } else {
        m.text(format("      (%s:%d%%)", m.label(battery.charging ? "Charging" : "Discharging"), battery.percent));
    }
    m.tag("[FILL_LINE]");
    std::string icon = battery_icon(battery);
    if (!icon.empty()) {
        m.tag(("[LOGO] " + files.battery_icons + "/" + icon).c_str());
        m.tag("[FILL_LINE]");
    }

    // 9. Memory.
    m.section("Memory");
    const char* mb = m.label("Megabytes");
    m.list(format("Total Memory: %d %s", st.total_mb, mb));
    m.list(format("%s: %d %s (%s)", m.label("Used"), st.used_mb, mb, st.used_percent.c_str()));
    m.list(format("%s: %d %s", m.label("Free"), st.free_mb, mb));
    m.end_list();

    // 10. The USB notes.
    m.tag("[LINE]");
    for (int i = 0;; ++i) {
        std::string key = "USBNote" + std::to_string(i);
        bool found = false;
        for (const auto& e : language.entries)
            if (!e.group && key == e.key) found = true;
        if (!found) break;
        m.text("      " + std::string(language.lookup(key.c_str())));
        m.tag("[FILL_LINE]");
    }

    // 11. The company's QR Code and address, centred.
    m.tag("[CENTERON]");
    m.barcode(58, false, 8, 10, st.company_web);
    m.tag("[BOLD]");
    m.text(st.company_web);
    m.tag("[FILL_LINE]");
    m.tag("[RESET]");
    m.tag("[CENTEROFF]");
    m.empty_line();
    m.empty_line();
    m.empty_line();
    m.tag("[NIB_TEST]");
    return m.str();
}
