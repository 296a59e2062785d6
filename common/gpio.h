// sysfs GPIO lines.
//
// A line number n is reached as "/sys/class/gpio/pio%s/value" where %s is the pin symbol: a port
// letter "A".."E" for n / 32 = 0..4 followed by n % 32 in decimal (70 -> "C6"). Numbers of 160 or
// more (and negative ones) have no symbol.
//
// Falling edges: on the printer the value file is a sysfs attribute and an edge is a priority
// event on it. Where the value file is a regular file (the virtual printer's stand-in), its text
// is "<level>\n" optionally followed by "<falling edge count>\n"; the writer replaces it whole
// (temporary file + rename) and counts every falling edge, so a waiter that compares counts never
// loses an edge however short the pulse. Without a count a change from "1" to "0" is an edge.
#pragma once

#include <string>

std::string gpio_pin_symbol(int n);      // "" when there is none
std::string gpio_value_path(int n);      // "" when there is no symbol
std::string gpio_line_path(int n, const char* attribute);  // ".../pio%s/<attribute>"

// Export the line and make it an input that reports falling edges.
void gpio_prepare_input(int n);

// First character of the value file: '0' or '1'; -1 when it cannot be opened or read.
int gpio_read_char(const std::string& value_path);

class GpioEdgeWaiter {
public:
    GpioEdgeWaiter() = default;
    ~GpioEdgeWaiter();
    GpioEdgeWaiter(const GpioEdgeWaiter&) = delete;
    GpioEdgeWaiter& operator=(const GpioEdgeWaiter&) = delete;

    // Opens the value file non-blocking and reads it once (this arms the edge detection).
    bool open(const std::string& value_path);
    // Waits for the next falling edge. timeout_ms < 0 waits forever.
    // Returns 1 on an edge, 0 on time-out, -1 on error.
    int wait(int timeout_ms);
    // The level read at the last edge (or at open): '0', '1' or -1.
    int level() const { return level_; }

private:
    bool read_state(int& level, long& count);
    int wait_sysfs(int timeout_ms);
    int wait_file(int timeout_ms);

    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
    int inotify_ = -1;
    int level_ = -1;
    long count_ = -1;
};

// Helper for the virtual printer: writes a stand-in value file atomically.
bool gpio_write_standin(const std::string& value_path, int level, long edge_count);
