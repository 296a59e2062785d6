// The job intake of the receipt interpreter: each job file handed over by host_link is copied
// into the input ring (converted from UCS-2 to GB18030 first in encoding mode 1) and removed.
#pragma once

#include <string>

class InputRing;

namespace escpos {

// Feeds one job file into the ring; -1 when it cannot be opened. In encoding mode 1 the job is
// converted in this process with iconv(3): an invalid unit or an odd last byte becomes "?",
// and the rest of the job is kept.
int put_data_charbuf(InputRing& ring, const std::string& path, int encoding_mode);
// Converts a whole UCS-2 job to GB18030 (the same rules, for a job held in memory).
std::string ucs2_to_gb18030(const std::string& job);

// The intake thread's body: the jobs waiting in `folder` first, then each new one, for ever.
[[noreturn]] void run_job_intake(InputRing& ring, const std::string& folder, int encoding_mode);

}  // namespace escpos
