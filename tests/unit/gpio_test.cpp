#include "gpio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

TEST(Gpio, PinSymbols) {
    EXPECT_EQ(gpio_pin_symbol(70), "C6");
    EXPECT_EQ(gpio_pin_symbol(37), "B5");
    EXPECT_EQ(gpio_pin_symbol(0), "A0");
    EXPECT_EQ(gpio_pin_symbol(159), "E31");
    EXPECT_EQ(gpio_pin_symbol(160), "");
    EXPECT_EQ(gpio_pin_symbol(-1), "");
    EXPECT_EQ(gpio_value_path(70), "/sys/class/gpio/pioC6/value");
    EXPECT_EQ(gpio_value_path(200), "");
}

namespace {
struct StandIn {
    std::string dir, value;
    StandIn() {
        char tmpl[] = "/tmp/gpio_test.XXXXXX";
        dir = mkdtemp(tmpl);
        value = dir + "/value";
    }
    ~StandIn() { std::string cmd = "rm -rf '" + dir + "'"; (void)std::system(cmd.c_str()); }
};
}  // namespace

TEST(Gpio, StandInEdgesAreNeverLostEvenForShortPulses) {
    StandIn s;
    long count = 0;
    ASSERT_TRUE(gpio_write_standin(s.value, 1, count));
    GpioEdgeWaiter w;
    ASSERT_TRUE(w.open(s.value));
    EXPECT_EQ(w.level(), '1');
    EXPECT_EQ(w.wait(30), 0);  // nothing happened

    // A pulse that is over before the waiter looks: low then high again at once.
    std::atomic<int> ready{0};
    constexpr int rounds = 200;
    std::thread pulser([&] {
        for (int i = 0; i < rounds; ++i) {
            while (ready.load() <= i) std::this_thread::yield();
            gpio_write_standin(s.value, 0, ++count);
            gpio_write_standin(s.value, 1, count);
        }
    });
    int seen = 0;
    for (int i = 0; i < rounds; ++i) {
        ready.store(i + 1);
        if (w.wait(2000) == 1) ++seen;
    }
    pulser.join();
    EXPECT_EQ(seen, rounds);
    EXPECT_EQ(gpio_read_char(s.value), '1');
}

TEST(Gpio, StandInHeldLowAndPlainLevelFiles) {
    StandIn s;
    ASSERT_TRUE(gpio_write_standin(s.value, 1, 4));
    GpioEdgeWaiter w;
    ASSERT_TRUE(w.open(s.value));
    gpio_write_standin(s.value, 0, 5);
    EXPECT_EQ(w.wait(1000), 1);
    EXPECT_EQ(w.level(), '0');
    EXPECT_EQ(gpio_read_char(s.value), '0');

    // A value file without a count: a change from "1" to "0" is the edge.
    std::string plain = s.dir + "/plain";
    FILE* f = fopen(plain.c_str(), "w");
    fputs("1\n", f);
    fclose(f);
    GpioEdgeWaiter p;
    ASSERT_TRUE(p.open(plain));
    f = fopen(plain.c_str(), "w");
    fputs("0\n", f);
    fclose(f);
    EXPECT_EQ(p.wait(1000), 1);
    EXPECT_EQ(p.wait(50), 0);  // still low: no new edge
}

TEST(Gpio, MissingValueFile) {
    GpioEdgeWaiter w;
    EXPECT_FALSE(w.open("/nonexistent/value"));
    EXPECT_EQ(w.wait(10), -1);
    EXPECT_EQ(gpio_read_char("/nonexistent/value"), -1);
}
