// Fixed command lines that a reader asks for without waiting for them: one thread runs them
// through the shell, in the order they were asked for. Starting a shell can take tens of
// milliseconds on a busy processor; the readers go on reading meanwhile.
#pragma once

// Queues the line; the runner thread (started on first use) runs it through the shell. The line that
// waits last in the queue (not yet started) is not queued a second time: "/root/engine_cmd B 1" for
// many job files in a row runs once after the last of them was made, and the queue cannot grow
// without bound while a fast host fills job file after job file.
void post_shell_command(const char* line);
// Tests and the fuzz target take the lines here instead (nothing is run while it is set).
extern void (*posted_shell_hook)(const char* line);

// Waits until every queued line has been run (for tests).
void drain_shell_commands();
