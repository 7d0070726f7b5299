// Helpers for the protocol tests: frames, loopback sockets, byte views.
#pragma once
#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/byte_buffer.h"
#include "net/message.h"

namespace nettest {

using Bytes = std::vector<uint8_t>;

// The parts one after the other.
inline Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A text's characters and its terminating zero.
inline Bytes text_bytes(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

// A frame built by hand: type, 16-bit little-endian length, payload.
inline Bytes frame_bytes(int type, const Bytes& payload) {
  return concat({{uint8_t(type), uint8_t(payload.size() & 0xFF), uint8_t(payload.size() >> 8)}, payload});
}

// True when the socket has bytes to read within the time given.
inline bool readable(int fd, int timeout_ms = 1000) {
  pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1;
}

// A socket listening on 127.0.0.1 at a free port, written to *port; a
// receive_buffer above 0 sets its (and its accepted sockets') receive buffer.
inline int listen_on_loopback(uint16_t* port, int backlog, int receive_buffer = 0) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (receive_buffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, backlog);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

// A message whose payload is exactly these bytes.
inline Message raw_message(uint32_t type, const std::vector<uint8_t>& bytes) {
  Message m;
  message_init(&m, type);
  for (uint8_t b : bytes) message_put_byte(&m, b);
  return m;
}

inline std::vector<uint8_t> buffered(const ByteBuffer* b) {
  return b->begin ? std::vector<uint8_t>(b->begin, b->end) : std::vector<uint8_t>();
}

inline std::vector<uint8_t> payload(const Message* m) {
  return m->begin ? std::vector<uint8_t>(m->begin, m->end) : std::vector<uint8_t>();
}

// The wire frame of a message, through the shared frame writer.
inline std::vector<uint8_t> frame_of(const Message* m) {
  std::vector<uint8_t> out(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, out.data());
  return out;
}

// A frame of the given type whose payload bytes follow a pattern keyed by seed.
inline std::vector<uint8_t> patterned_frame(uint8_t type, size_t length, unsigned seed) {
  std::vector<uint8_t> f(FRAME_HEADER_SIZE + length);
  f[0] = type;
  f[1] = uint8_t(length & 0xFF);
  f[2] = uint8_t(length >> 8);
  for (size_t i = 0; i < length; ++i) f[3 + i] = uint8_t((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return f;
}

}  // namespace nettest
