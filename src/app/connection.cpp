#include "app/connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// At most this many bytes leave per poll, so sending is paced by the frame rate.
constexpr size_t SEND_PER_POLL = 512;
// Every recv is offered at least this much free space.
constexpr size_t RECEIVE_ROOM = 256;

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

int connection_start(Connection* c, const char* host, uint16_t port) {
  c->failed = 1;
  c->socket_handle = -1;
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
  // Every later call is guarded or does not wait: the connect need not either.
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status | O_NONBLOCK) != 0) {
    close(fd);
    return 0;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    close(fd);
    return 0;
  }
  c->socket_handle = fd;
  c->failed = 0;
  return 1;
}

int connection_finish(Connection* c, int timeout_ms) {
  if (c->socket_handle < 0) return -1;
  pollfd watched = {c->socket_handle, POLLOUT, 0};
  const int ready = poll(&watched, 1, timeout_ms);
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
  int error = 0;
  socklen_t length = sizeof error;
  if (ready < 0 || getsockopt(c->socket_handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    connection_close(c);
    c->failed = 1;
    return -1;
  }
  return 1;
}

int connection_open(Connection* c, const char* host, uint16_t port) {
  if (!connection_start(c, host, port)) return 0;
  if (connection_finish(c, CONNECT_WAIT_MS) == 1) return 1;
  connection_close(c);
  c->failed = 1;
  return 0;
}

void connection_close(Connection* c) {
  if (c->socket_handle >= 0) close(c->socket_handle);
  // A second close must not close a descriptor that has been reused meanwhile.
  c->socket_handle = -1;
}

int connection_poll(Connection* c, ByteBuffer* out, ByteBuffer* in) {
  size_t pending = byte_buffer_used(out);
  if (pending > 0 && socket_ready(c->socket_handle, true)) {
    size_t chunk = pending < SEND_PER_POLL ? pending : SEND_PER_POLL;
    // MSG_NOSIGNAL: a peer that went away must give an error, not end the process.
    ssize_t sent = send(c->socket_handle, out->begin, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && transient_error()) {
      sent = 0;
    } else if (sent <= 0) {
      c->failed = 1;
      return 0;
    }
    byte_buffer_drop(out, size_t(sent));
  }

  if (c->failed) return 1;
  if (!socket_ready(c->socket_handle, false)) return 1;

  if (!byte_buffer_reserve(in, RECEIVE_ROOM)) {
    c->failed = 1;
    return 1;
  }
  ssize_t got = recv(c->socket_handle, in->end, byte_buffer_room(in), MSG_DONTWAIT);
  if (got < 0 && transient_error()) return 1;
  if (got <= 0) {
    c->failed = 1;
    return 0;
  }
  in->end += got;
  return 1;
}
