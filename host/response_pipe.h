// The response pipe: another process opens the named pipe HOST_RESPONSE_PIPE_FILEPATH, writes a
// short answer and closes it; host_link sends the answer to the USB host as one 128-byte block.
//
// One answer waits at a time (host_resp / host_resp_flag): the watcher holds a second answer until
// the first has been sent. The USB reader sends it while the response route is 'u' (the last data
// came over USB); after data from the network socket or the serial module the answer waits for
// the next USB data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr size_t HOST_RESP_SIZE = 128;
inline constexpr size_t HOST_RESP_TEXT_MAX = HOST_RESP_SIZE - 1;

// Makes the answer pending, after waiting while an earlier one is (the text is cut to 127 bytes
// and ends with a zero byte).
void post_host_resp(const char* text, size_t length);
// When an answer is pending: copies the 128-byte block, clears the flag, returns true.
bool take_host_resp(uint8_t out[HOST_RESP_SIZE]);
bool host_resp_pending();
// Drops a pending answer.
void clear_host_resp();
// An event descriptor that is readable while an answer is pending (the USB reader polls it).
int host_resp_event_fd();

// One answer from an opened pipe: reads until the writer closes it, keeps at most 127 bytes.
size_t read_pipe_answer(int fd, char out[HOST_RESP_SIZE]);

// Thread: makes the pipe when it is missing, then waits for writers for ever.
void* resp_pipe_watch_pthrd(void*);
