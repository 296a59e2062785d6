// The input of the CPCL interpreter: job files into the ring buffer (intake thread), and bytes and
// lines out of it (command thread).
//
// The intake thread takes each job file of the engine intake (the ones already waiting at start
// first), converts it when the image configuration says the host sends UCS-2 or UTF-8, puts it
// into the 512 KiB ring and deletes it; it records where each job ends. The command thread reads
// lines of at most 127 characters. When no byte comes for a while (idle_limit) the job is over:
// the next line must begin with "!" again, as at start and after every PRINT.
#pragma once

#include "cpcl_state.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace cpcl {

// ---- intake thread ---------------------------------------------------------------------------
// Bytes of the job being put, and the end of that job.
void put_job_bytes(CpclInput& in, const uint8_t* bytes, size_t n);
void end_of_job(CpclInput& in);
// Puts a whole job file (converted by the encoding mode) into the ring and marks its end. False
// when the file cannot be opened or is not a regular file (errno tells why).
bool feed_job_file(CpclState& s, const std::string& path);
// One job file: the busy marker when the interpreter was idle, the default contrast, the bytes
// into the ring, the file removed. A file that cannot be opened is reported and removed; the next
// job is taken as usual.
void take_job_file(CpclState& s, const std::string& path);
// The intake thread: watches the folder for ever.
[[noreturn]] void run_intake(CpclState& s, const std::string& folder);

// ---- command thread --------------------------------------------------------------------------
// Empties the ring and forgets every job boundary (only while the intake thread is not running).
void reset_input(CpclState& s);
// The next byte, or INPUT_DRY (nothing came within idle_limit; the next line starts at a "!"),
// INPUT_END (test mode: nothing more will come) or SOURCE_END (replayed bytes used up).
int next_byte(CpclState& s);
// Bytes read before anything else: `sealed` ones end with SOURCE_END instead of going on with the
// input behind them.
void push_source(CpclState& s, std::string bytes, bool sealed);
void pop_source(CpclState& s);
void unget_byte(CpclState& s, int c);

enum class LineResult { Line, Dry, End };
// Reads the next line into s.line: up to a line feed (kept) or 127 characters. Skips to a "!"
// first when s.data_start is set. A line "PCX x y " or "CG w h x y " (COMPRESSED-GRAPHICS) ends
// after its last number so that the picture's bytes that follow are not read as text
// (s.binary_follows). A line cut short by a dry spell is still returned.
LineResult read_line(CpclState& s);

// The rest of the job being read, at most `limit` bytes kept (overflow set when there was more):
// the rest of a stored format being used, or the ring up to the end of the current job file (or
// until nothing more comes).
std::string read_rest_of_job(CpclState& s, size_t limit, bool& overflow);

}  // namespace cpcl
