// A client with headless canvases, connected to a ScriptedServer, for the
// tests of login, dispatch, reconciliation and the chat commands.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/layout.h"
#include "net/message.h"
#include "scripted_server.h"

namespace testsupport {

constexpr int TEST_SCREEN_W = 1024;
constexpr int TEST_SCREEN_H = 768;
constexpr time_t TEST_NOW = 1700000000;

// The tools in the order of their message codes (stamp last).
constexpr int DRAWING_TOOLS = DRAWING_TYPE_COUNT;

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
  // Connects and logs in as "Ann": checks the login request on the wire, then
  // answers with the reply given (default: id 1, no one else) and accepts
  // the request in a later frame.
  void login(const Bytes& reply = Bytes());
  // The stroke input's commit of a finished stroke: encode, draw into
  // LocalCanvas, send, queue. Returns the frame that will go out.
  Bytes our_stroke(int tool, unsigned variant);
  // A stroke command of another user, as the server relays it.
  Bytes other_stroke(uint8_t user, int tool, unsigned variant);
  // Every kept chat log line, oldest first.
  std::vector<std::string> chat_lines();
  int count_line(const std::string& line);
  // LocalCanvas must be ServerCanvas with the queued entries but chat drawn over it.
  void expect_invariant();
  // A fresh canvas in its reset state.
  BITMAP* reset_canvas();

  ScriptedServer server;
};

// Fills m with a command of the tool whose points follow from variant.
void encode_variant(Message* m, int tool, unsigned variant);

std::string system_line(const std::string& text);
std::string spoken_line(const std::string& name, const std::string& text);

}  // namespace testsupport
