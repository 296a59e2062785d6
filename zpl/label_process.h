// The process frame of the label interpreters (zpl_interp, jpl_interp): settings, paper and label
// configuration, the emptied input ring, then the job intake thread and the command thread.
#pragma once

#include "zpl_label.h"

// Loads everything the dialect's interpreter needs before its first job and runs the two threads
// (they never end). command_thread draws the labels from the ring.
int run_label_interpreter(const LabelDialect& dialect, void* (*command_thread)(void*));
