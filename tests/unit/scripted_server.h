// A test-side server on 127.0.0.1: the client under test connects to it with
// its real Connection, the test writes the server's frames and reads back the
// exact bytes the client sent.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "net/message.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

class ScriptedServer {
 public:
  ScriptedServer();  // listens on an ephemeral port
  ~ScriptedServer();
  uint16_t port() const { return port_; }
  // Takes the client's pending connection; false when none arrives in time.
  bool accept_client();
  // Writes raw bytes to the client.
  void send(const Bytes& bytes);
  // Exactly n bytes the client sent, waiting up to a second; fewer on time-out.
  Bytes receive(size_t n);
  // One whole frame the client sent (header and payload); empty on time-out.
  Bytes receive_frame();
  // True when the client sent bytes that nobody has read yet.
  bool has_unread();
  // Closes the client's connection from the server side.
  void drop_client();
  // Stops listening, so that connecting to port() fails.
  void stop_listening();

 private:
  int listener_ = -1;
  int peer_ = -1;
  uint16_t port_ = 0;
};

// Frame bytes: type, 16-bit little-endian length, payload.
Bytes frame(uint8_t type, const Bytes& payload);
Bytes frame_of(const Message* m);
// Payload bytes of a text: its characters and the terminating 0.
Bytes text_bytes(const std::string& s);
Bytes concat(std::initializer_list<Bytes> parts);

// Waits up to a second until the socket has bytes to read.
bool wait_readable(int fd);
// True when the socket has bytes to read right now.
bool readable_now(int fd);

}  // namespace testsupport
