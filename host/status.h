// The printer status for the host, and the abort input.
//
// engine_watch keeps the 23-character status string in "/tmp/return.dat" (replaced whole, by
// rename). The status thread reads it every 30 ms and keeps the last good copy; host answers are
// taken from that copy:
//   characters 0..11   the 12-byte status answer
//   characters 0..4, 9 status bits of the package answer; 10..11 the head temperature
//   characters 7..8    error code, forced to "01" while an abort is active and for 7.5 s after it
//   characters 12..22  firmware version, the 11-byte printer information answer
//
// The same thread follows the abort input (debounced: three equal readings in a row); the abort
// handler thread resets the slave and runs "/home/abort_deal.sh" when an abort starts and ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr size_t STATUS_STRING_LENGTH = 23;
inline constexpr const char* INITIAL_STATUS_STRING = "00000500002501.05.00.00";
inline constexpr long STATUS_PERIOD_MS = 30;
// The error code reads "01" for this long after an abort (250 periods of 30 ms).
inline constexpr long ABORT_DELAY_MS = 250 * STATUS_PERIOD_MS;
extern long abort_delay_ms;  // ABORT_DELAY_MS; tests shorten it

// ---- status string ---------------------------------------------------------------------------

// The current status string (23 characters).
std::string status_string();
// Back to the string of the start ("00000500002501.05.00.00").
void reset_status_string();
// One read of the status file: a complete string (23 characters or more, up to 24 are read)
// becomes the status; a file that opens but is empty or short leaves the last good copy; a file
// that does not open leaves the record as it is. Returns true when a new string was taken.
bool refresh_status_string(const std::string& path);

// ---- answers ---------------------------------------------------------------------------------

// The status string as the host sees it: characters 7 and 8 read "01" while the abort delay runs.
std::string answered_status_string();
// 12 bytes (selector 1) or 11 bytes (selector 0) into out; returns the count, 0 for other selectors.
size_t status_answer(uint8_t selector, uint8_t* out);
// The 4-byte answer to a complete package.
void package_answer(const uint8_t serial[2], uint8_t out[4]);

// ---- abort -----------------------------------------------------------------------------------

// Debounce of the abort input, one step per 30 ms period.
struct AbortDebounce {
    int zeros = 2;  // the first "0" after start already counts as the third
    int ones = 0;
    int pause = 0;  // periods in which the pin is not read
    // True when the pin is to be read in this period (otherwise the pause counts down).
    bool wants_pin();
    // A reading ('0', '1'; anything else counts as '1'); returns the new abort flag.
    int reading(int pin, int flag);
};

// True while the error code is forced to "01".
bool abort_delay_active();
// The abort delay runs until this long from now (negative: for as long as the abort lasts).
void set_abort_delay(long ms_from_now);
void clear_abort_delay();

// Thread: every 30 ms reads the abort input (debounced into abort_flag) and the status string.
void* get_abort_and_get_return_data_pthrd(void*);
// Thread: the abort handler.
void* check_abort_pthrd(void*);
// The loops of the two threads; they return once stop is set (tests only).
void status_loop(const std::atomic<bool>& stop);
void check_abort_loop(const std::atomic<bool>& stop);

// Runs "/home/abort_deal.sh <emulation> <s|e>" in the background; the name is an argument, never
// part of a shell line.
void run_abort_deal(const std::string& emulation, const char* phase);
// Writes "<command intake>/command-<letter>": 02, the letter, four zero bytes, 03.
bool write_command_now(char letter);
// Pause after each of the command files A, Q and T while an abort lasts (80 ms).
extern long abort_command_pause_ms;
