// The single TCP connection to the server with its send and receive buffers.
// After connecting, every socket call is guarded by a zero time-out select.
#pragma once
#include <cstddef>
#include <cstdint>

struct ByteBuffer {
  uint8_t* begin;
  uint8_t* end;
  uint8_t* limit;
};

struct Connection {
  int socket_handle;
  int failed;
  ByteBuffer send_buffer;
  ByteBuffer receive_buffer;
};

int net_startup();
void net_shutdown();

int connection_open(Connection* c, const char* host, uint16_t port);
void connection_close(Connection* c);
int connection_poll(Connection* c);
int connection_queue(Connection* c, const void* bytes, size_t length);
// Counts are full width: a backlog may exceed 65535 bytes.
size_t connection_received(const Connection* c);
// Bytes queued and not yet handed to the socket.
size_t connection_unsent(const Connection* c);
const uint8_t* connection_received_data(const Connection* c);
void connection_discard(Connection* c, size_t count);
