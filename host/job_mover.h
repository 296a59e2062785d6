// The job mover: hands complete whole-job files from the job intake to the engine intake.
#pragma once

#include <string>

inline constexpr size_t JOB_PATH_MAX = 128;  // "<job intake>/<name>"

// Handles one file of the job intake that was closed after writing. Files of at most
// MINIMUM_FILE_SIZE bytes are removed. Others: "/root/engine_cmd B 1", made readable for all,
// held while the abort input is active, copied to the reprint folder (Hexconfig 1), and renamed
// into dest_folder. Returns 1 moved, 0 removed or skipped, -1 failed.
int move_job_file(const std::string& intake, const char* name, const std::string& dest_folder);

// Thread: watches the job intake for files closed after writing and moves each.
void* move_to_emulation_intake_pthrd(void*);
