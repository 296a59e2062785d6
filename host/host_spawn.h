// Starting other programs from host_link.
//
// An interpreter takes a job file at its last close (the close-after-write event). A child process
// holds copies of all open files from fork until exec closes them; a job file closed by a reader
// in that moment would raise its event only when the child gets to exec, and a later job file
// could overtake it. So host_link starts programs only through these routines, which create the
// child with posix_spawn (the caller resumes after the child's exec) under one lock, and readers
// close job files under the same lock (close_job_stream).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// A fixed command line through "/bin/sh -c"; waits. Returns the shell's exit status, -1 when it
// could not be started.
int host_run_shell(const char* line);
// argv[0] (searched in PATH when it has no "/") with arguments, no shell; waits. Exit status or -1.
int host_run_argv(const std::vector<std::string>& argv);
// Tests: when set, gets every command instead of running it (a shell line as it is, an argument
// list joined by blanks) and its result is the command's.
extern std::function<int(const std::string&)> host_command_hook;
// fclose under the spawn lock.
int close_job_stream(FILE* f);
