// The service language in the test process: a fresh state whose device files live in a temporary
// folder (copies of the device image's), whose shell lines are recorded instead of run and whose
// sleeps take no time.
#pragma once

#include "render_test_support.h"

#include "veltra_state.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Service sequences.
namespace seq {
inline const std::string enter_setup = std::string("\x1d\x1a\x1b\x1c\x1dMODE\x01", 10);
inline const std::string leave_setup = std::string("\x1d\x1a\x1b\x1c\x1dMODE\x02", 10);
inline std::string identity(int n) { return std::string("\x1d\x01", 2) + char(n); }
inline const std::string clear_head_life = std::string("\x1d\x03\x01\x04", 4);
inline const std::string factory = std::string("\x1d\x02\x02", 3);
inline std::string paper(int n) { return std::string("\x1d\x06", 2) + char(n); }
inline std::string wifi(int n) { return std::string("\x1d\x07", 2) + char(n); }
inline std::string contrast(int n) { return std::string("\x1d\x08", 2) + char(n); }
inline const std::string install = std::string("\x1b" "9\xb1\xb1", 4);
inline const std::string slave_firmware = std::string("\x1b@\xa5[", 4);
}  // namespace seq

class VeltraTest : public RenderTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs one job of these bytes through the job cycle.
    void job(const std::string& bytes);
    // The device path under the temporary root ("/home/x" -> "<root>/home/x").
    std::string at(const std::string& device_path) const { return root + device_path; }
    void set_busy(bool busy);
    bool ran(const std::string& line) const;
    int count(const std::string& line) const;
    // The recorded lines from index `from` on that are not "sync" or the busy query.
    std::vector<std::string> actions(size_t from = 0) const;
    std::string echoed();

    std::unique_ptr<VeltraState> s;
    std::string root;
    std::string last_trigger;  // the contrast trigger of the last job ("" when none)
    std::vector<std::string> lines;
    std::vector<std::vector<std::string>> programs;
    // Called for every shell line after it is recorded (tests simulate other programs with it).
    std::function<void(const std::string&)> on_line;
    // The extraction: by default the real tar (what the device runs), into the temporary root.
    std::function<int(const std::vector<std::string>&)> run_program;

private:
    char* echo_data_ = nullptr;
    size_t echo_size_ = 0;
    FILE* echo_ = nullptr;
};
