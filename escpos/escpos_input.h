// Taking bytes out of the input ring: raw reads for data, and the command byte reader with the
// page logic (the idle page end, the streaming rule of continuous paper).
#pragma once

#include "escpos_state.h"

#include <chrono>
#include <deque>
#include <string>

namespace escpos {

// The next byte (the bytes of a macro being played come first), or -1 when there is none.
int get_datas(EscposState& st);
// The next byte; waits for it without any page logic (image and other raw data).
int get_new_char(EscposState& st);
// The next command or parameter byte, with the page logic:
//  - the ring found empty with an empty page tells the slave ("/root/engine_cmd B 0");
//  - 200 ms (`data_delay`) without input ends the page (soft end) if bytes were decoded;
//  - 2 s without input starts the streaming thresholds over;
//  - on continuous paper in standard mode, once the page bottom is the print position and the
//    page holds print_len_table[print_len_indicator] dots, the page is sent out before the byte
//    is decoded (the first 200 dots of a job, then each completed line).
int get_one_char(EscposState& st);

// Input for the running interpreter: the ring, waited on with its condition variable.
Input ring_input(InputRing& ring);

// Input for tests, the fuzz target and the benchmark: jobs, each arriving after a pause. When the
// ring is empty, a wait with a limit lets that much simulated time pass; with nothing left to
// deliver, time passes until a wait without a limit, which ends the run (InputEnded).
class ScriptedInput {
public:
    explicit ScriptedInput(InputRing& ring) : ring_(ring) {}
    void add(const std::string& bytes, int pause_ms = 0) { steps_.push_back({bytes, pause_ms}); }
    Input input();
    long elapsed_ms() const { return now_ms_; }
    // Lets simulated time pass (a sleep of the decoder).
    void advance(long ms) { now_ms_ += ms; }
    // Simulated time at which each job arrived.
    const std::vector<long>& arrivals() const { return arrivals_; }
    // Called just before a job is put into the ring.
    std::function<void(size_t job)> before_delivery;
    // With nothing left to deliver, the run ends at once instead of letting time pass.
    bool end_when_dry = false;

private:
    bool wait(std::chrono::milliseconds limit);
    struct Step {
        std::string bytes;
        int pause_ms;
    };
    InputRing& ring_;
    std::deque<Step> steps_;
    long now_ms_ = 0;
    std::vector<long> arrivals_;
    size_t delivered_ = 0;
};

}  // namespace escpos
