// The Bluetooth serial-port profile listener (RFCOMM stream socket, any local adapter).
//
// The device build always opens the real RFCOMM socket. A build for a PC (PRINTER_RFCOMM_STANDIN,
// on unless cross-compiling) puts a stand-in in its place where the machine has no Bluetooth
// sockets (socket(AF_BLUETOOTH) fails, as on an ordinary PC and inside every network namespace but
// the first): a Unix stream socket with the abstract name rfcomm_standin_name(channel), private to
// the network namespace. A host connects to it as it would to the RFCOMM channel; everything after
// accept (reads, hang-up, the answers written back) is the same.
#pragma once

#include <string>

// A listening socket on the channel, or -1 (errno set). standin: set when the stand-in was taken.
int rfcomm_listen(int channel, int backlog, bool* standin = nullptr);
// Accepts the next connection; peer gets the host's Bluetooth address as text
// ("00:1A:7D:DA:71:13"; the stand-in's hosts read "00:00:00:00:00:00"). -1 on failure.
int rfcomm_accept(int listener, std::string& peer);
// Abstract socket name of the stand-in (without the leading zero byte).
std::string rfcomm_standin_name(int channel);
