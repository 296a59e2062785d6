// Job intake and the input ring buffer of the label interpreters.
//
// The job intake thread watches the engine intake folder, copies each job file (converted to
// GB18030 when the image configuration asks for it) into one 512 KiB ring and deletes it; the
// command thread takes the bytes out (common/input_ring.h). Jobs already waiting when the
// interpreter starts are taken first, oldest first (common/job_intake.h).
#pragma once

#include "input_ring.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr size_t RING_SIZE = InputRing::SIZE;  // 524288 bytes
inline constexpr size_t RING_LOW_WATER = 52427;       // at or below this much room the intake waits ...
inline constexpr size_t RING_RESUME = 0x40000;        // ... until more than this is free
inline constexpr size_t INTAKE_CHUNK = InputRing::CHUNK;

extern InputRing char_buffter;

// 0: bytes as they come; 1: job files are UCS-2, 2: UTF-8; both converted to GB18030.
extern uint8_t CurrentEncodingMode;
extern std::string ENGINE_INTAKE_FOLDER;
extern std::string global_latest_job_path;

// Runs a fixed command line of the system ("/root/engine_cmd B 0", the idle echo); tests replace it.
extern int (*zpl_shell)(const char* line);
// Test mode: get_one_char returns -1 when the ring is empty instead of waiting, after asking
// zpl_refill (when set) to feed the ring as the intake thread would; it returns false when it has
// nothing more.
extern bool zpl_stop_when_dry;
extern bool (*zpl_refill)();

void init_data_inbuf();
size_t ring_free();
int get_char_num();
// Copies n bytes in, waiting while the ring is nearly full.
void ring_put(const uint8_t* bytes, size_t n);
// Feeds one job file into the ring, converted by CurrentEncodingMode. -1 when it cannot be opened.
int put_data_charbuf(const char* path);

// Bytes the command thread puts back in front of the ring (a stored format being replayed, a
// prefix read one byte too far): they are read before anything still in the ring.
void push_input(const std::string& bytes);
void unget_char(int c);

int get_datas();     // next byte, or -1 when empty
int get_one_char();  // next byte; when dry tells the slave once and waits
int gech();          // next byte of at least 0x20: control bytes are dropped
// Next byte of data whose length the host declared (binary graphics, binary parameters): waits
// at most binary_data_wait for it and gives -1 when none came, so a host that sends less than it
// declared never makes the interpreter swallow the jobs that follow.
int get_declared_byte();
extern int binary_data_wait_ms;  // 3000

// configEncoding of the image configuration.
void load_image_config(const std::string& image_config_path);
// One job file: the idle marker, the contrast trigger, the bytes into the ring, the file removed.
void take_job_file(const std::string& path);
void* main_emulation_job_intake_pthrd(void*);
