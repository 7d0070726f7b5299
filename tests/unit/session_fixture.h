// A client with headless canvases, connected with its real Connection to a
// scripted server on 127.0.0.1: the test writes the server's frames and reads
// back the exact bytes the client sent. For the tests of login, dispatch,
// reconciliation and the chat commands.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/message.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

constexpr int TEST_SCREEN_W = 1024;
constexpr int TEST_SCREEN_H = 768;
constexpr time_t TEST_NOW = 1700000000;

class ScriptedServer {
 public:
  ScriptedServer();  // listens on an ephemeral port
  ~ScriptedServer();
  uint16_t port() const { return port_; }
  // Takes the client's pending connection; false when none arrives in time.
  bool accept_client();
  void send(const Bytes& bytes);
  // One whole frame the client sent (header and payload), waiting up to a
  // second; empty on time-out.
  Bytes receive_frame();
  // True when the client sent bytes that nobody has read yet.
  bool has_unread();
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
// True when the socket has bytes to read within the time given.
bool readable(int fd, int timeout_ms = 1000);

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The network part of a frame: received_this_frame cleared, then
  // network_step. Not client_frame: with no button held a whole frame would
  // finish the stroke some tests set up by hand.
  void step();
  // The server writes bytes; the next frame takes them.
  void deliver(const Bytes& bytes);
  // Connects and logs in as "Ann": checks the notice, and that the login
  // request is queued and leaves with the first poll and not before; then
  // answers with the reply given (default: id 1, no one else) and accepts the
  // request in a later frame.
  void login(const Bytes& reply = Bytes());
  // The stroke input's commit of a finished stroke: encode, draw into
  // LocalCanvas, send, queue. Returns the frame that will go out.
  Bytes our_stroke(int tool, unsigned variant);
  // A stroke command of another user, as the server relays it; its points
  // follow from variant.
  Bytes other_stroke(uint8_t user, int tool, unsigned variant);
  // Every kept chat log line, oldest first.
  std::vector<std::string> chat_lines();
  // LocalCanvas must be ServerCanvas with the queued entries but chat drawn over it.
  void expect_invariant();

  ScriptedServer server;
};

std::string system_line(const std::string& text);
std::string spoken_line(const std::string& name, const std::string& text);

}  // namespace testsupport
