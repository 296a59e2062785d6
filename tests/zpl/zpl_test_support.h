// A ZPL interpreter in the test process: the ring is fed directly and the command loop runs until
// the input is used up; shell lines are recorded instead of run.
#pragma once

#include "render_test_support.h"

#include <string>
#include <vector>

class ZplTest : public RenderTest {
protected:
    static std::vector<std::string> shell_lines;
    void SetUp() override;
    void TearDown() override;
    void feed(const std::string& bytes);
    // Feeds the bytes and runs the command loop until the ring is empty.
    void run(const std::string& bytes);
    // Job files delivered one after the other while the command loop waits for input; the
    // number of dot images written by the time each one arrives.
    void run_jobs(const std::vector<std::string>& files);
    std::vector<int> images_when_delivered;
    // Runs a whole label and returns its dot image (the test fails unless exactly one is written).
    DotImage label(const std::string& zpl);
    int count_shell(const std::string& line) const;
};
