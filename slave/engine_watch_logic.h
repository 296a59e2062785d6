// engine_watch: what the slave's replies mean. The reply table, the 23-character status string
// and its positions, the battery charge filter, the power-state debounce, the head temperature,
// the head-life sum and the label settings. No I/O here (files are published with
// write_file_whole of common/files.h).
#pragma once

#include "command_file.h"
#include "files.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using ReplyBytes = std::array<uint8_t, 4>;

// Whether the slave answers the frame with 4 bytes: A D H L N Q T Y Z; N only when d0, d1 and d2
// are all 0 (a label measurement query; with data it sends the label settings and has no reply).
bool command_has_reply(const CommandFrame& frame);

// d0 d1 d2 d3 as one big-endian 32-bit word (d0 most significant).
uint32_t reply_word(const ReplyBytes& d);

// Battery charge filter: the first non-zero reading is taken as it is; afterwards a reading is
// taken only when it differs by less than 11 from the previous raw reading, which is always kept.
// A reading of 0x71 counts as 13.
struct ChargeFilter {
    int accepted = 0;
    int last_raw = 0;
    bool primed = false;
    int apply(int reading);  // returns the accepted charge
};

// Status bits of the A reply.
inline constexpr uint32_t A_LID_OPEN = 0x1;
inline constexpr uint32_t A_PAPER_OUT = 0x2;
inline constexpr uint32_t A_HEAD_BIT = 0x80;
inline constexpr uint32_t A_TESTPAGE = 0x100;
inline constexpr uint32_t A_USB_NET_UP = 0x800;
inline constexpr uint32_t A_USB_NET_DOWN = 0x2000;
inline constexpr uint32_t A_POWER = 0x80000;
inline constexpr uint32_t A_HEADLIFE = 0x400000;
inline constexpr uint32_t A_POS1 = 0x800000;
inline constexpr uint32_t A_POS9_LOW = 0x08000000;
inline constexpr uint32_t A_POWER_NOW = 0x10000000;
inline constexpr uint32_t A_WIFI_LOG_START = 0x20000000;
inline constexpr uint32_t A_WIFI_LOG_STOP = 0x40000000;

// The outside scripts an A reply asks for, in the order they are run.
struct StatusActions {
    bool create_testpage = false;   // "/home/create_testpage.sh &"
    bool usb_net_up = false;        // "php /home/ipoverusbUP.php &"
    bool usb_net_down = false;      // ipoverusbDOWN, rm check_im, engine_cmd X, S 1, Y
    bool record_headlife = false;   // "/home/recode_headlife.sh &"
    bool wifi_log_start = false;    // "/home/recd_wifi_log.sh start" (after return.dat)
    bool wifi_log_stop = false;     // "/home/recd_wifi_log.sh stop"
};

inline constexpr int STATUS_LEN = 23;
inline constexpr const char* STATUS_INITIAL = "00000000000000.00.00.00";

// The printer status string with the state that feeds it.
class PrinterStatus {
public:
    PrinterStatus();
    const char* text() const { return s_; }
    std::string str() const { return std::string(s_, STATUS_LEN); }

    // A reply: positions 0, 1, 2, 3, 4, 9 and the error code.
    StatusActions apply_status_word(uint32_t w);
    // Q reply: the filtered charge into positions 5-6. Returns the text of
    // "/tmp/query_response.txt" ("%05d,%02d,%1d").
    std::string apply_query(int millivolts, int charge, int charging);
    // T reply: positions 10-11 (degrees), 3 (d2 not 0) and the error code. Returns the text of
    // "/tmp/temperature.txt" ("%04d").
    std::string apply_temperature(int millivolts, int flag);
    // D: up to 11 characters of the firmware version into positions 12-22 (stops at a line end).
    void set_firmware(const char* text, size_t len);

    int accepted_charge() const { return charge_.accepted; }

private:
    void set(int pos, bool on) { s_[pos] = on ? '1' : '0'; }
    void update_error_code();

    char s_[STATUS_LEN + 1];
    int power_on_count_ = 0;
    int power_off_count_ = 0;
    ChargeFilter charge_;
};

// Head temperature in degrees Celsius from the thermistor voltage, 0 when negative (or not a
// number), at most 99 so that it always fills two positions.
double head_celsius(int millivolts);

// D reply as "%02d.%02d.%02d.%02d", a byte 0xF2 counting as 0x0D.
std::string slave_version_text(const ReplyBytes& d);

// H: adds the increment unless the sum would pass 0xFEFFFFFE (then the old count stays).
uint32_t headlife_sum(uint32_t count, uint32_t increment);

// L reply: "[sensors]\nfront=%05d\nrear=%05d\n".
std::string sensor_text(const ReplyBytes& d);

// N reply: label length d0 d1, gap d2, threshold d3 × 16. Nothing is stored when the length is
// 0xFFFF or d3 is 0; LabelLength is the length less the gap (16-bit).
struct LabelSettings {
    bool store = false;
    int LabelLength = 0;
    int GapWidth = 0;
    int Sensorthreshold = 0;
};
LabelSettings label_settings(const ReplyBytes& d);

