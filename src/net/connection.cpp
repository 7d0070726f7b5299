#include "net/connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t BUFFER_START = 256;
// At most this many bytes leave per poll, so sending is paced by the frame rate.
constexpr size_t SEND_PER_POLL = 512;
// Every recv is offered at least this much free space.
constexpr size_t RECEIVE_ROOM = 256;

size_t buffer_used(const ByteBuffer* b) { return b->begin ? size_t(b->end - b->begin) : 0; }
size_t buffer_free(const ByteBuffer* b) { return b->begin ? size_t(b->limit - b->end) : 0; }

// Doubles the storage (or gives it its first 256 bytes); the contents keep their
// place. On failure the buffer is unchanged.
int buffer_grow(ByteBuffer* b) {
  size_t size = b->begin ? size_t(b->limit - b->begin) : 0;
  size_t used = buffer_used(b);
  size_t bigger = size ? size * 2 : BUFFER_START;
  if (bigger < size) return 0;
  uint8_t* p = static_cast<uint8_t*>(realloc(b->begin, bigger));
  if (!p) return 0;
  b->begin = p;
  b->end = p + used;
  b->limit = p + bigger;
  return 1;
}

int buffer_allocate(ByteBuffer* b) {
  b->begin = static_cast<uint8_t*>(malloc(BUFFER_START));
  b->end = b->begin;
  b->limit = b->begin ? b->begin + BUFFER_START : nullptr;
  return b->begin != nullptr;
}

void buffer_release(ByteBuffer* b) {
  free(b->begin);
  b->begin = b->end = b->limit = nullptr;
}

// Drops count bytes from the front; the rest moves to the front.
void buffer_drop(ByteBuffer* b, size_t count) {
  size_t used = buffer_used(b);
  if (count == 0 || used == 0) return;
  if (count < used) {
    memmove(b->begin, b->begin + count, used - count);
    b->end -= count;
  } else {
    b->end = b->begin;
  }
}

// Zero time-out select on one socket, for reading or for writing.
bool socket_ready(int fd, bool for_write) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  timeval zero = {0, 0};
  int n = for_write ? select(fd + 1, nullptr, &set, nullptr, &zero)
                    : select(fd + 1, &set, nullptr, nullptr, &zero);
  return n > 0 && FD_ISSET(fd, &set);
}

// A call that was interrupted or would block moved nothing but lost nothing.
bool transient_error() { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

// POSIX sockets need no library start-up or clean-up.
int net_startup() { return 1; }
void net_shutdown() {}

int connection_open(Connection* c, const char* host, uint16_t port) {
  c->failed = 1;
  c->socket_handle = -1;
  c->send_buffer = ByteBuffer{nullptr, nullptr, nullptr};
  c->receive_buffer = ByteBuffer{nullptr, nullptr, nullptr};
  if (!host) return 0;

  hostent* entry = gethostbyname(host);
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
    return 0;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;

  sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return 0;
  }

  if (!buffer_allocate(&c->send_buffer) || !buffer_allocate(&c->receive_buffer)) {
    buffer_release(&c->send_buffer);
    buffer_release(&c->receive_buffer);
    close(fd);
    return 0;
  }
  c->socket_handle = fd;
  c->failed = 0;
  return 1;
}

void connection_close(Connection* c) {
  buffer_release(&c->send_buffer);
  buffer_release(&c->receive_buffer);
  if (c->socket_handle >= 0) close(c->socket_handle);
  // A second close must not close a descriptor that has been reused meanwhile.
  c->socket_handle = -1;
}

int connection_poll(Connection* c) {
  size_t pending = buffer_used(&c->send_buffer);
  if (pending > 0 && socket_ready(c->socket_handle, true)) {
    size_t chunk = pending < SEND_PER_POLL ? pending : SEND_PER_POLL;
    // MSG_NOSIGNAL: a peer that went away must give an error, not end the process.
    ssize_t sent = send(c->socket_handle, c->send_buffer.begin, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && transient_error()) {
      sent = 0;
    } else if (sent <= 0) {
      c->failed = 1;
      return 0;
    }
    buffer_drop(&c->send_buffer, size_t(sent));
  }

  if (c->failed) return 1;
  if (!socket_ready(c->socket_handle, false)) return 1;

  ByteBuffer* in = &c->receive_buffer;
  while (buffer_free(in) < RECEIVE_ROOM) {
    if (!buffer_grow(in)) {
      c->failed = 1;
      return 1;
    }
  }
  ssize_t got = recv(c->socket_handle, in->end, buffer_free(in), MSG_DONTWAIT);
  if (got < 0 && transient_error()) return 1;
  if (got <= 0) {
    c->failed = 1;
    return 0;
  }
  in->end += got;
  return 1;
}

int connection_queue(Connection* c, const void* bytes, size_t length) {
  ByteBuffer* out = &c->send_buffer;
  if (length == 0) return 1;
  if (!bytes) return 0;
  // Growing only adds room: on failure the queued bytes are as they were.
  while (buffer_free(out) < length) {
    if (!buffer_grow(out)) return 0;
  }
  memcpy(out->end, bytes, length);
  out->end += length;
  return 1;
}

size_t connection_received(const Connection* c) { return buffer_used(&c->receive_buffer); }

size_t connection_unsent(const Connection* c) { return buffer_used(&c->send_buffer); }

const uint8_t* connection_received_data(const Connection* c) { return c->receive_buffer.begin; }

void connection_discard(Connection* c, size_t count) { buffer_drop(&c->receive_buffer, count); }
