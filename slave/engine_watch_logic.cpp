#include "engine_watch_logic.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool command_has_reply(const CommandFrame& frame) {
    switch (frame[1]) {
        case 'A': case 'D': case 'H': case 'L': case 'Q': case 'T': case 'Y': case 'Z':
            return true;
        case 'N':
            return frame[2] == 0 && frame[3] == 0 && frame[4] == 0;
        default:
            return false;
    }
}

uint32_t reply_word(const ReplyBytes& d) {
    return (uint32_t(d[0]) << 24) | (uint32_t(d[1]) << 16) | (uint32_t(d[2]) << 8) | d[3];
}

int ChargeFilter::apply(int reading) {
    if (reading == 0x71) reading = 13;
    if (!primed) {
        if (reading != 0) {
            accepted = reading;
            last_raw = reading;
            primed = true;
        }
        return accepted;
    }
    if (std::abs(reading - last_raw) < 11) accepted = reading;
    last_raw = reading;
    return accepted;
}

PrinterStatus::PrinterStatus() { std::memcpy(s_, STATUS_INITIAL, STATUS_LEN + 1); }

void PrinterStatus::update_error_code() {
    const char* code = "00";
    if (s_[0] == '1') code = "01";
    else if (s_[2] == '1') code = "02";
    else if (s_[1] == '1') code = "04";
    int charge = (s_[5] - '0') * 10 + (s_[6] - '0');
    if (charge >= 1 && charge <= 19) code = "03";
    s_[7] = code[0];
    s_[8] = code[1];
}

StatusActions PrinterStatus::apply_status_word(uint32_t w) {
    StatusActions act;
    set(0, w & A_LID_OPEN);
    set(1, w & A_POS1);
    set(2, w & A_PAPER_OUT);
    // Power state: five replies in a row (or one with A_POWER_NOW) switch position 4.
    if (w & A_POWER) {
        power_off_count_ = 0;
        if (++power_on_count_ == 5 || (w & A_POWER_NOW)) {
            s_[4] = '1';
            power_on_count_ = 0;
        }
    } else {
        power_on_count_ = 0;
        if (++power_off_count_ == 5 || (w & A_POWER_NOW)) {
            s_[4] = '0';
            power_off_count_ = 0;
        }
    }
    set(9, w & (A_POS9_LOW | A_POWER_NOW));

    act.create_testpage = (w & A_TESTPAGE) && s_[0] == '0' && s_[2] == '0';
    if ((w & A_USB_NET_UP) && !(w & A_HEAD_BIT)) act.usb_net_up = true;
    else if (w & A_USB_NET_DOWN) act.usb_net_down = true;
    act.record_headlife = w & A_HEADLIFE;

    set(3, w & A_HEAD_BIT);
    update_error_code();
    if (w & A_WIFI_LOG_START) act.wifi_log_start = true;
    else if (w & A_WIFI_LOG_STOP) act.wifi_log_stop = true;
    return act;
}

std::string PrinterStatus::apply_query(int millivolts, int charge, int charging) {
    int accepted = charge_.apply(charge);
    int shown = accepted <= 0 ? 0 : accepted >= 100 ? 99 : accepted;
    s_[5] = char('0' + shown / 10);
    s_[6] = char('0' + shown % 10);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%05d,%02d,%1d", millivolts, accepted, charging);
    return buf;
}

std::string PrinterStatus::apply_temperature(int millivolts, int flag) {
    char deg[8];
    std::snprintf(deg, sizeof deg, "%02.0f", head_celsius(millivolts));
    s_[10] = deg[0];
    s_[11] = deg[1];
    set(3, flag != 0);
    update_error_code();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d", millivolts);
    return buf;
}

void PrinterStatus::set_firmware(const char* text, size_t len) {
    for (size_t i = 0; i < len && i < 11; ++i) {
        if (text[i] == '\n' || text[i] == '\r' || text[i] == '\0') break;
        s_[12 + i] = text[i];
    }
}

double head_celsius(int millivolts) {
    double r = 52.8 / (3.3 - millivolts / 1000.0) - 16;
    double t = 1 / (std::log(r / 30) / 3950 + 0.003356) - 273;
    if (!std::isfinite(t) || t < 0) return 0;
    // "%02.0f" of 99.5 or more would take three positions.
    return t < 99 ? t : 99;
}

std::string slave_version_text(const ReplyBytes& d) {
    int v[4];
    for (int i = 0; i < 4; ++i) v[i] = d[i] == 0xF2 ? 0x0D : d[i];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%02d.%02d", v[0], v[1], v[2], v[3]);
    return buf;
}

uint32_t headlife_sum(uint32_t count, uint32_t increment) {
    uint64_t sum = uint64_t(count) + increment;
    return sum > 0xFEFFFFFEull ? count : uint32_t(sum);
}

std::string sensor_text(const ReplyBytes& d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "[sensors]\nfront=%05d\nrear=%05d\n", (d[0] << 8) | d[1], (d[2] << 8) | d[3]);
    return buf;
}

LabelSettings label_settings(const ReplyBytes& d) {
    LabelSettings l;
    int length = (d[0] << 8) | d[1];
    if (length == 0xFFFF || d[3] == 0) return l;
    l.store = true;
    l.GapWidth = d[2];
    l.LabelLength = uint16_t(length - l.GapWidth);
    l.Sensorthreshold = d[3] * 16;
    return l;
}

