#include "engine_cmd_frame.h"

#include "keyfile.h"
#include "settings.h"

#include <cmath>
#include <cstdlib>

EngineCmdSettings load_engine_cmd_settings(char letter) {
    EngineCmdSettings s;
    KeyFile g(GLOBAL_DEFINES_PATH);
    s.PRINTHEAD_DPI = g.get_int("Hardware", "PRINTHEAD_DPI");
    s.PRINTHEAD_DPMM = g.get_int("Hardware", "PRINTHEAD_DPMM");
    s.DEBUG_MSG = g.get_int("Misc", "DEBUG_MSG");
    std::string paper_path = g.get_string("FilePaths", "PAPER_CONFIG_FILEPATH");

    std::string units = read_units();
    KeyFile dev(device_config_path(units));
    s.configUnits = dev.get_string("Form", "configUnits");
    s.configMaxPaperSpeed = dev.get_double("Form", "configMaxPaperSpeed");
    s.configPostFeed = dev.get_double("Form", "configPostFeed");
    s.configPreFeed = dev.get_double("Form", "configPreFeed");
    s.configMarkSkip = dev.get_double("Form", "configMarkSkip");
    s.configMarkSeekDistance = dev.get_double("Form", "configMarkSeekDistance");
    s.configMarkWidth = dev.get_double("Form", "configMarkWidth");

    KeyFile paper(paper_path);
    s.configMarkSeek = paper.get_int("Paper", "configMarkSeek");
    s.configLowBattery = paper.get_int("Battery", "configLowBattery");
    s.configBatterySleep = paper.get_int("Battery", "configBatterySleep");
    s.configFrontThreshold = paper.get_int("Paper", "configFrontThreshold");
    s.configRearThreshold = paper.get_int("Paper", "configRearThreshold");
    s.configGapThreshold = paper.get_int("Paper", "configGapThreshold");

    if (letter == 'E') {
        KeyFile mark(mark_config_path(units));
        s.mark_to_head = mark.get_double("Blackmark", "mark_to_head");
        s.mark_to_cut = mark.get_double("Blackmark", "mark_to_cut");
    }
    if (letter == 'N') {
        KeyFile label("/home/label_config.cfg");
        s.LabelLength = label.get_int("LabelConfig", "LabelLength");
        s.GapWidth = label.get_int("LabelConfig", "GapWidth");
        s.Sensorthreshold = label.get_int("LabelConfig", "Sensorthreshold");
        s.slaveVersion = key_string("/home/oem_config.cfg", "PrinterInfo", "slaveVersion");
    }
    return s;
}

namespace {
uint8_t lo(long v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t hi(long v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }
uint8_t first_char(const char* word) { return word ? static_cast<uint8_t>(word[0]) : 0; }
long decimal(const char* word) { return word ? std::strtol(word, nullptr, 10) : 0; }
long hexadecimal(const char* word) { return word ? std::strtol(word, nullptr, 16) : 0; }

// Dots for a length in the configured units: ceil(R x length).
long dots(const EngineCmdSettings& s, double length) {
    int r = s.configUnits == "inch" ? s.PRINTHEAD_DPI : s.PRINTHEAD_DPMM;
    return static_cast<long>(std::ceil(r * length));
}
}  // namespace

uint8_t paper_speed_byte(const EngineCmdSettings& s) {
    long v;
    if (s.configUnits == "inch")
        v = std::lround(s.configMaxPaperSpeed * 10 * 1e6) / 1000000;  // 4.2 -> 42, not 41.999...
    else
        v = static_cast<long>(std::ceil(s.configMaxPaperSpeed * 10 / 25.4));
    int b = lo(v);
    if (b < 10) b = 10;
    if (b >= 56) b = 55;
    if (b % 5 != 0) b = 55;
    return static_cast<uint8_t>(b);
}

std::optional<CommandFrame> engine_cmd_frame(char letter, const char* arg2, const char* arg3,
                                             const EngineCmdSettings& s) {
    std::array<uint8_t, 4> d{0, 0, 0, 0};
    switch (letter) {
    case 'A': case 'D': case 'H': case 'Q': case 'T': case 'X': case 'Y': case 'Z':
        break;
    case 'B': case 'S': case 'U':
        d[0] = first_char(arg2);
        break;
    case 'C':
        d = {lo(s.configBatterySleep), lo(s.configFrontThreshold), lo(s.configRearThreshold),
             lo(s.configGapThreshold)};
        break;
    case 'E': {
        long head = dots(s, s.mark_to_head), cut = dots(s, s.mark_to_cut);
        d = {hi(head), lo(head), hi(cut), lo(cut)};
        break;
    }
    case 'F': case 'R':
        d[0] = lo(decimal(arg2));
        break;
    case 'G': case 'J': {
        long v = hexadecimal(arg2);
        d[0] = static_cast<uint8_t>((v >> 16) & 0xFF);
        d[1] = hi(v);
        d[2] = lo(v);
        if (letter == 'J') {
            uint8_t b = lo(hexadecimal(arg3));
            d[3] = b > 120 ? 120 : b;
        }
        break;
    }
    case 'K': {
        long dist = dots(s, s.configMarkSeekDistance);
        d = {hi(dist), lo(dist), 0, 0};
        break;
    }
    case 'M':
        d = {paper_speed_byte(s), lo(s.configMarkSeek), lo(dots(s, s.configMarkWidth)), 0};
        break;
    case 'N':
        if (s.slaveVersion.size() >= 4 && s.slaveVersion[3] == '0') return std::nullopt;
        if (arg2 && std::string(arg2) == "1")
            d = {hi(s.LabelLength), lo(s.LabelLength), lo(s.GapWidth), lo(s.Sensorthreshold / 16)};
        break;
    case 'P': {
        long post = dots(s, s.configPostFeed);
        long pre = dots(s, s.configPreFeed < 0 ? 0 : s.configPreFeed);
        d = {hi(post), lo(post), lo(pre), 0};
        break;
    }
    default:  // I, L, O, V, W and anything outside A to Z
        return std::nullopt;
    }
    return command_frame(letter, d);
}
