// The simulated slave's settable state and the replies it gives on the command port.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

using SimReply = std::array<uint8_t, 4>;

struct SlaveState {
    uint32_t status = 0;        // A: 32-bit status word
    int battery = 8000;         // Q: battery millivolts
    int charge = 0;             // Q: charge in percent (0: not measured yet, so the first
                                //    reading a test sets is taken as it is)
    int charging = 0;           // Q: charging flag
    int thermistor = 2085;      // T: thermistor millivolts (about 27 degrees)
    int thermflag = 0;          // T: d2
    std::array<uint8_t, 4> version{1, 10, 0, 0};  // D
    int power = 1;              // Y: d0 (1: mains)
    uint32_t headlife = 0;      // H: increment of the head-life count
    int run = 0;                // Z: paper-run state
    int front = 1000, rear = 1000;                  // L: sensor levels
    int label_length = 0xFFFF, label_gap = 0, label_threshold = 0;  // N: d0 d1, d2, d3
    bool silent = false;        // no reply, no acknowledgement
    int delay = 0;              // milliseconds before the reply and the acknowledgement
    int delay_for = 0;          // seconds after which delay goes back to 0 (0: it stays)
    bool fast = false;          // print without waiting for the step times
    std::string layout = "auto";  // profile layout: auto, normal, battery
    int buffer = 3;             // blocks the slave holds before it stops asking
    std::map<char, SimReply> reply_override;  // reply_X=8 hex digits

    // KEY=VALUE. Returns false with a message for an unknown key or a bad value.
    bool set(const std::string& key, const std::string& value, std::string& error);
    // One "key=value" line per field.
    std::string text() const;
    std::string get(const std::string& key) const;  // "" when unknown
};

// Whether the letter has a reply (A D H L Q T Y Z; N only with d0..d2 all 0) and, if so, its
// four bytes.
bool slave_reply(const SlaveState& s, char letter, const uint8_t data[4], SimReply& out);
