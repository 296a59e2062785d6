// The USB reader: reads the printer gadget and stores the jobs.
#pragma once

#include <cstddef>

inline constexpr size_t USB_READ_SIZE = 512;
inline constexpr int USB_POLL_MS = 2000;

void* read_USB_pthrd(void*);
