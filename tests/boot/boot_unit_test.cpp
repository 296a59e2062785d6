// boot_supervisor's decisions: host name, slave version, MAC addresses.
#include "boot_steps.h"

#include <gtest/gtest.h>

TEST(HostName, ComposedAndComparedOverTheWholeFirstLine) {
    EXPECT_EQ(compose_host_name("P", "123"), "P-123");
    EXPECT_EQ(compose_host_name(std::string(40, 'n'), "1").size(), 31u);

    EXPECT_TRUE(host_name_matches("P-123\n", "P-123"));
    EXPECT_TRUE(host_name_matches("P-123", "P-123"));
    EXPECT_TRUE(host_name_matches("P-123\nsecond line", "P-123"));
    EXPECT_FALSE(host_name_matches("P-1234\n", "P-123"));  // begins with the name, is another name
    EXPECT_FALSE(host_name_matches("P-12\n", "P-123"));
    EXPECT_FALSE(host_name_matches("", "P-123"));
    EXPECT_FALSE(host_name_matches("P-123 \n", "P-123"));
}

TEST(SlaveVersion, OnlyACompleteVersionCounts) {
    EXPECT_EQ(complete_slave_version("01.10.00.00"), "01.10.00.00");
    EXPECT_EQ(complete_slave_version("01.10.00.00\n"), "01.10.00.00");
    EXPECT_EQ(complete_slave_version("01.10.00.00-20240517A-later"), "01.10.00.00-20240517A");
    EXPECT_EQ(complete_slave_version("100.10.00.00"), "100.10.00.00");
    // A file caught while it is being written, or something else.
    EXPECT_EQ(complete_slave_version(""), "");
    EXPECT_EQ(complete_slave_version("01.1"), "");
    EXPECT_EQ(complete_slave_version("01.10.00.0"), "");
    EXPECT_EQ(complete_slave_version("1.2.3.4"), "");
    EXPECT_EQ(complete_slave_version("01.10.00.00\x01"), "");
    EXPECT_EQ(complete_slave_version(std::string("01.10\0.00.00", 11)), "");
}

TEST(MacAddress, BluetoothLineAndWifiOctets) {
    EXPECT_EQ(bluetooth_address_from_line("\thci0\t00:1A:7D:DA:71:13\n"), "00:1A:7D:DA:71:13");
    EXPECT_EQ(bluetooth_address_from_line("\thci0\t00:1A:7D:DA:71:13:EXTRA\tmore"), "00:1A:7D:DA:71:13");
    EXPECT_EQ(bluetooth_address_from_line(""), "ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(bluetooth_address_from_line("\thci0\n"), "ff:ff:ff:ff:ff:ff");
    const unsigned char o[6] = {0x02, 0xab, 0x00, 0x10, 0xff, 0x7};
    EXPECT_EQ(format_mac(o), "02:ab:00:10:ff:07");
}
