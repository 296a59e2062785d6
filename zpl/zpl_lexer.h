// ZPL command lexer: prefixes, command letters, parameter text and the command table.
#pragma once

#include <cstdint>

struct ONE_LINE_COMMAND {
    char com_char[1024];  // parameter text of the current command
    int com_num;          // read position in com_char
    char par[100];        // the parameter most recently split off
};
extern ONE_LINE_COMMAND line_char;

// Reads the parameter text up to the next format prefix (which is remembered for the next
// command) into com_char, control bytes dropped; text past 1023 bytes is read and dropped.
void add_line();
// Splits off the next parameter up to `end` (at most 99 bytes kept; the rest of it is skipped).
const char* eat_one_par(uint8_t end);
// The next parameter up to the delimiter, and as a number (empty or not numeric: 0; limited to
// +-1000000 so that later sums cannot overflow).
const char* next_par();
int next_par_int();
int par_to_int(const char* s);
void clear_line_char();

void change_fprefix();    // ^CC ~CC
void change_cprefix();    // ^CT ~CT
void change_pdelimiter(); // ^CD ~CD
void main_command();      // after the format prefix
void tilde_command();     // after the control prefix
// One step of the command loop; false when the input ran dry (test mode only).
bool process_one_command();
// Test mode: runs commands until the ring is empty.
void zpl_run_until_dry();
void* process_data_pthrd(void*);
