// The desktop client's TCP connection to the server: the socket alone. The
// bytes it moves live in byte buffers of their owner's (the session's).
// After connecting, every socket call is guarded by a zero time-out select.
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/byte_buffer.h"

struct Connection {
  int socket_handle;  // -1 when closed
  int failed;
};

// How long connection_open waits for a connect at most.
constexpr int CONNECT_WAIT_MS = 5000;

// POSIX sockets need no library start-up or clean-up; 1.
int net_startup();
void net_shutdown();

// Looks the host up (that blocks, as any name lookup) and starts connecting
// without waiting. 1 when connected or under way; else the connection is
// closed and failed.
int connection_start(Connection* c, const char* host, uint16_t port);
// A connect under way (or done), looked at for timeout_ms at most (0: a look
// only): 1 once connected, 0 while under way, -1 when it failed (closed and
// failed).
int connection_finish(Connection* c, int timeout_ms);
// Both, waiting CONNECT_WAIT_MS at most. 1 on success; else the connection is
// closed and failed.
int connection_open(Connection* c, const char* host, uint16_t port);
// Closes the socket; closing again does nothing.
void connection_close(Connection* c);
// One exchange, never blocking: at most 512 bytes from the front of out go to
// the socket (taken from out), then whatever the socket has is appended to in,
// which is offered at least 256 free bytes. 0 when the connection is lost:
// what came before stays in in.
int connection_poll(Connection* c, ByteBuffer* out, ByteBuffer* in);
