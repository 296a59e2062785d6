// Fixed command lines that a reader asks for without waiting for them: one thread runs them
// through the shell, in the order they were asked for. Starting a shell can take tens of
// milliseconds on a busy processor; the readers go on reading meanwhile.
#pragma once

// Queues the line; the runner thread (started on first use) runs it through the shell.
void post_shell_command(const char* line);
// Tests and the fuzz target take the lines here instead (nothing is run while it is set).
extern void (*posted_shell_hook)(const char* line);

// Waits until every queued line has been run (for tests).
void drain_shell_commands();
