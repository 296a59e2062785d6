// The USB reader: reads the printer gadget and stores the jobs.
#pragma once

#include "job_files.h"
#include "recognisers.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

inline constexpr size_t USB_READ_SIZE = 512;
inline constexpr int USB_POLL_MS = 2000;

void* read_USB_pthrd(void*);

// ---- the reader's handling of one burst of data, reachable for tests and the fuzz target ----
struct UsbReader {
    int fd = -1;
    JobFile job;
    bool closed_by_size = false;  // the last file ended at the size limit: the job goes on
    // Package reassembly and the USB package serial numbers (Usb_Serial_Num, usb_serial_temp).
    PackageLink link;
};
// Reads while data keep coming and stores them: the emulation switch at the start of a job, job
// files in the running emulation's style, the split of long streaming jobs. Ends at the first read
// that finds nothing (after one more read usb_whole_job_retry_ms later for a whole-job emulation),
// and after a control message.
void read_while_data(UsbReader& r);
// The host went quiet: the open job file (one a control message left open in the middle of a job)
// is closed and the next data start a new job.
void usb_reader_quiet(UsbReader& r);
// How the reader reads (read(2); the fuzz target reads from its input) and how long a whole-job
// emulation waits before its last look (10 ms).
extern ssize_t (*usb_read)(int fd, void* buf, size_t n);
extern long usb_whole_job_retry_ms;
// Sees every piece of host data stored in a job file, in order (nullptr: nobody looks).
extern void (*usb_stored_hook)(const uint8_t* data, size_t len);
