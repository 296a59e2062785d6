// Running other programs.
//
// The system's fixed command lines ("/root/engine_cmd B 0", "sync", "/root/dot_feeder &") go
// through the shell with run_shell(). Anything that carries data from a host or a file name
// read from a folder goes through run_argv(), which never involves a shell.
#pragma once

#include <string>
#include <vector>

// Runs a fixed command line through /bin/sh and waits for the shell. Returns the shell's exit
// status, or -1 when the shell could not be run.
int run_shell(const char* line);
inline int run_shell(const std::string& line) { return run_shell(line.c_str()); }

// Runs argv[0] (searched in PATH when it has no "/") with the given arguments. With wait, returns
// the exit status (-1 when it could not be started or was killed); without, returns the child's
// pid (the child is reaped by the caller or left to init) or -1.
int run_argv(const std::vector<std::string>& argv, bool wait = true);

// run_argv for outside tools that may never end (a converter caught in a looping program): the
// program runs in a process group of its own and is given limit_ms. A program still running then
// is stopped with its whole group (SIGTERM, SIGKILL a second later), reported on standard error,
// and RUN_TIMED_OUT is returned. Otherwise the exit status, or -1 when it could not be started or
// was ended by a signal.
inline constexpr int RUN_TIMED_OUT = -2;
int run_argv_limited(const std::vector<std::string>& argv, long limit_ms);

// Sleeps for the given number of milliseconds (restarted after signals).
void sleep_ms(long ms);
void sleep_us(long us);
