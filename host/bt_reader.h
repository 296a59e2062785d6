// The Bluetooth serial-port profile reader: RFCOMM channel 1, one connection at a time.
//
// Streaming jobs close by size: the first file after a quiet time (a 2 s poll with nothing) once
// it passes 81920 bytes, every further one past 51200 bytes; in packet mode after every package.
// Otherwise the job closer ends a job after its idle time; a host that hangs up shortens that.
#pragma once

#include <cstddef>

inline constexpr size_t BT_READ_SIZE = 500000;
inline constexpr size_t BT_FIRST_SPLIT_BYTES = 81920;
inline constexpr size_t BT_NEXT_SPLIT_BYTES = 51200;
inline constexpr int BT_POLL_MS = 2000;

void* read_BLUETOOTH_pthrd(void*);
