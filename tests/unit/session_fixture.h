// A client with headless canvases, connected with its real Connection to a
// scripted server on 127.0.0.1: the test writes the server's frames and reads
// back the exact bytes the client sent. For the tests of login, dispatch,
// reconciliation and the chat commands.
#pragma once
#include <allegro.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "headless_client.h"
#include "net/command.h"
#include "net/layout.h"
#include "net/message.h"
#include "net_test_support.h"
#include "paint/canvas.h"
#include "test_support.h"
#include "ui/chat_log.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr int TEST_SCREEN_W = 1024;
constexpr int TEST_SCREEN_H = 768;
constexpr time_t TEST_NOW = 1700000000;

using nettest::readable;

// Frame bytes: type, 16-bit little-endian length, payload.
inline Bytes frame(uint8_t type, const Bytes& payload) {
  Bytes out = {type, uint8_t(payload.size() & 0xFF), uint8_t(payload.size() >> 8)};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// Payload bytes of a text: its characters and the terminating 0.
inline Bytes text_bytes(const std::string& s) {
  Bytes out(s.begin(), s.end());
  out.push_back(0);
  return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::string system_line(const std::string& text) { return "\xFF\xFC" + text; }

inline std::string spoken_line(const std::string& name, const std::string& text) {
  return "\xFF\xFD" + name + "\xFF\xFE: \xFF\xFF" + text;
}

class ScriptedServer {
 public:
  ScriptedServer() { listener_ = nettest::listen_on_loopback(&port_, 4); }
  ~ScriptedServer() {
    drop_client();
    stop_listening();
  }
  uint16_t port() const { return port_; }
  // Takes the client's pending connection; false when none arrives in time.
  bool accept_client() {
    if (listener_ < 0 || !readable(listener_)) return false;
    peer_ = accept(listener_, nullptr, nullptr);
    const timeval second = {1, 0};  // receive_frame waits this long at most
    setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    return peer_ >= 0;
  }
  void send(const Bytes& bytes) {
    ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // One whole frame the client sent (header and payload); empty on time-out.
  Bytes receive_frame() {
    Bytes out(FRAME_HEADER_SIZE);
    if (recv(peer_, out.data(), out.size(), MSG_WAITALL) != ssize_t(out.size())) return {};
    const size_t length = size_t(out[1]) | size_t(out[2]) << 8;
    out.resize(FRAME_HEADER_SIZE + length);
    if (length && recv(peer_, &out[FRAME_HEADER_SIZE], length, MSG_WAITALL) != ssize_t(length))
      return {};
    return out;
  }
  // True when the client sent bytes that nobody has read yet.
  bool has_unread() { return peer_ >= 0 && readable(peer_, 0); }
  void drop_client() {
    if (peer_ >= 0) close(peer_);
    peer_ = -1;
  }
  // Stops listening, so that connecting to port() fails.
  void stop_listening() {
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int peer_ = -1;
  uint16_t port_ = 0;
};

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&config, 0, sizeof config);
    strcpy(config.server_name, "127.0.0.1");
    config.server_port = server.port();
    strcpy(config.user_name, "Ann");
    start_headless_client(TEST_SCREEN_W, TEST_SCREEN_H);
    chat_log_set_clock([] { return TEST_NOW; });
    session_set_clock([] { return TEST_NOW; });
  }
  void TearDown() override { stop_headless_client(); }

  // The network part of a frame: received_this_frame cleared, then
  // network_step. Not client_frame: with no button held a whole frame would
  // finish the stroke some tests set up by hand.
  void step() {
    received_this_frame = false;
    network_step();
  }
  // The server writes bytes; the next frame takes them.
  void deliver(const Bytes& bytes) {
    server.send(bytes);
    ASSERT_TRUE(readable(server_connection.socket_handle));
    step();
  }
  // Connects and logs in as "Ann": checks the notice, and that the login
  // request is queued and leaves with the first poll and not before; then
  // answers with the reply given (default: id 1, no one else) and accepts the
  // request in a later frame.
  void login(const Bytes& reply = Bytes()) {
    connect_and_login();
    ASSERT_TRUE(connected);
    ASSERT_EQ(chat_lines().back(), system_line("Attempting to connect to 127.0.0.1:" +
                                               std::to_string(server.port()) + ". . ."));
    ASSERT_EQ(queue_count(&command_queue), 1);
    ASSERT_TRUE(server.accept_client());
    ASSERT_FALSE(server.has_unread());
    step();
    ASSERT_EQ(server.receive_frame(), (Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E,
                                             0x6E, 0x00}));
    deliver(reply.empty() ? frame(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})) : reply);
    deliver(frame(MSG_ACCEPTED, {}));
    ASSERT_EQ(queue_count(&command_queue), 0);
  }
  // The stroke input's commit of a finished stroke: encode, draw into
  // LocalCanvas, send, queue. Returns the frame that will go out.
  Bytes our_stroke(int tool, unsigned variant) {
    Message m;
    encode_variant(&m, tool, variant);
    apply_command(LocalCanvas, &m);
    Bytes out = nettest::frame_of(&m);
    EXPECT_EQ(link_submit(&m), LINK_SENT);
    return out;
  }
  // A stroke command of another user, as the server relays it.
  Bytes other_stroke(uint8_t user, int tool, unsigned variant) {
    Message m;
    encode_variant(&m, tool, variant);
    m.begin[0] = user;
    Bytes out = nettest::frame_of(&m);
    message_free(&m);
    return out;
  }
  // Every kept chat log line, oldest first.
  Lines chat_lines() {
    Lines out;
    for (int i = chat_log.oldest; i != chat_log.head; i = (i + 1) % CHAT_LOG_SLOTS)
      out.push_back(chat_log.lines[i].text);
    return out;
  }
  // LocalCanvas must be ServerCanvas with the queued entries but chat drawn over it.
  void expect_invariant() {
    BITMAP* expected = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    blit(ServerCanvas, expected, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
      Message* m = queue_at(&command_queue, i);
      if (m->type != MSG_CHAT) apply_command(expected, m);
    }
    EXPECT_EQ(count_differences(expected, LocalCanvas), 0);
    destroy_bitmap(expected);
  }

  ScriptedServer server;

 private:
  // Fills m with a command of the tool whose points follow from variant.
  static void encode_variant(Message* m, int tool, unsigned variant) {
    std::mt19937 gen(variant * 7919u + unsigned(tool));
    const int n = 1 + int(gen() % 12);
    int16_t xs[12], ys[12];
    int16_t x = int16_t(gen() % CANVAS_WIDTH), y = int16_t(gen() % CANVAS_HEIGHT);
    for (int i = 0; i < n; ++i) {
      xs[i] = x;
      ys[i] = y;
      x = int16_t(x + int(gen() % 81) - 40);
      y = int16_t(y + int(gen() % 81) - 40);
    }
    const float r = float(gen() % 256), g = float(gen() % 256), b = float(gen() % 256);
    const float v1 = float(2 + gen() % 40), v2 = float(gen() % 400);
    ASSERT_EQ(encode_command(m, COMMAND_LAYOUTS[tool], own_user_id, r, g, b, v1, v2, xs, ys,
                             unsigned(n)),
              1);
  }
};

}  // namespace testsupport
