// The serial Bluetooth module: a UART ("/dev/ttyS2") that carries the host's bytes unchanged.
//
// The line is raw, 8 data bits, RTS/CTS flow control, at 57600, 115200, 230400 or 460800 baud
// (NSCBT_BAUD; any other value gives 115200). A read returns after NSCBT_TIMEOUT_TICKS tenths of a
// second without data, and such an empty read ends the job. Every read is data: the module's
// hosts use neither packages nor status requests; only the emulation switch at the start of a job
// is looked for.
#pragma once

#include <cstddef>
#include <string>
#include <termios.h>

inline constexpr size_t NSCBT_READ_SIZE = 16384;

// The line speed for NSCBT_BAUD.
speed_t nscbt_speed(int baud);
// Sets the line up (applied at once, then again with a flush). Returns 0, or -1 when the device
// cannot be opened or set.
int setup_serial_line(const std::string& device, int baud, int timeout_ticks);

void* read_ZAD_Bluetooth_pthrd(void*);
