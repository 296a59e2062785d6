// The TCP socket readers: a socket server on "wlan0" (Wi-Fi) or "bridge1" (Bluetooth PAN), port
// configPort, and the socket data receiver that serves one connection at a time.
//
// The server hands an accepted connection to the receiver through the connection slot. A new
// connection from the address the receiver is serving ends that connection at once (its job is
// closed; the new connection starts a new one); a connection from another address waits, accepted,
// until the receiver has let the previous one go.
#pragma once

#include <cstddef>
#include <netinet/in.h>
#include <string>

inline constexpr size_t SOCKET_READ_SIZE = 512000;
inline constexpr size_t SOCKET_STREAMING_SPLIT_BYTES = 61440;
inline constexpr int SOCKET_POLL_MS = 2000;

// Connection slot status.
enum : int { SLOT_FREE = 0, SLOT_HANDED = 1, SLOT_CLOSED_BY_SERVER = 2 };

// Listening socket bound to the interface (SO_BINDTODEVICE) and port; SO_REUSEADDR so that a
// restarted host_link binds again at once. Ends the process (255: interface, 1: port) on failure.
int open_server_socket(const char* interface, int port);

// The server's accept loop (read_ip_socket).
void read_ip_socket(const char* interface);
void* read_WIFI_pthrd(void*);
void* read_BT_PAN_pthrd(void*);
// The receiver.
void* receive_socket_data_pthrd(void*);

// Keep-alive on an accepted connection: 10 s idle, probes 3 s apart, 3 probes; answers that the
// host does not take within 2 s are given up.
void set_connection_options(int fd);
