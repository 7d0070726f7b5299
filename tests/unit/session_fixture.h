// A headless client connected with its real Connection to a server the test
// scripts on 127.0.0.1: the test writes the server's frames and reads back the
// exact bytes the client sent.
#pragma once
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include "headless_client.h"
#include "net_test_support.h"
#include "test_support.h"
#include "ui/chat_log.h"
#include "ui/roster.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using nettest::concat;
using nettest::frame_bytes;
using nettest::readable;
using nettest::text_bytes;

constexpr time_t TEST_NOW = 1700000000;

inline std::string system_line(const std::string& text) { return "\xFF\xFC" + text; }

inline std::string spoken_line(const std::string& name, const std::string& text) {
  return "\xFF\xFD" + name + "\xFF\xFE: \xFF\xFF" + text;
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    listener = nettest::listen_on_loopback(&port, 4);
    memset(&config, 0, sizeof config);
    strcpy(config.server_name, "127.0.0.1");
    config.server_port = port;
    strcpy(config.user_name, "Ann");
    start_headless_client(1024, 768);
    chat_log_set_clock([] { return TEST_NOW; });
    session_set_clock([] { return TEST_NOW; });
  }
  void TearDown() override {
    client_world_close();
    close(peer);
    close(listener);
  }

  // The network part of a frame. Not client_frame: with no button held it would
  // finish the stroke some tests set up by hand.
  void step() {
    received_this_frame = false;
    network_step();
  }
  void send(const Bytes& bytes) {
    ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // The server writes bytes; the next frame takes them.
  void deliver(const Bytes& bytes) {
    send(bytes);
    ASSERT_TRUE(readable(server_connection.socket_handle));
    step();
  }
  // One whole frame the client sent (header and payload); empty on time-out.
  Bytes receive_frame() {
    Bytes out(FRAME_HEADER_SIZE);
    if (recv(peer, out.data(), out.size(), MSG_WAITALL) != ssize_t(out.size())) return {};
    out.resize(FRAME_HEADER_SIZE + frame_payload_length(out.data()));
    const size_t length = out.size() - FRAME_HEADER_SIZE;
    if (length && recv(peer, &out[FRAME_HEADER_SIZE], length, MSG_WAITALL) != ssize_t(length))
      return {};
    return out;
  }
  // Logs in as "Ann": the request is queued and sent with the first poll, not
  // before; the reply (id 1, no one else) and its acceptance come in later frames.
  void login() {
    connect_and_login();
    ASSERT_TRUE(connected);
    ASSERT_EQ(chat_lines().back(), system_line("Attempting to connect to 127.0.0.1:" +
                                               std::to_string(port) + ". . ."));
    ASSERT_EQ(queue_count(&command_queue), 1);
    ASSERT_TRUE(readable(listener));
    peer = accept(listener, nullptr, nullptr);
    const timeval second = {1, 0};  // receive_frame waits this long at most
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    ASSERT_FALSE(readable(peer, 0));
    step();
    ASSERT_EQ(receive_frame(), (Bytes{0x06, 0x08, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E,
                                      0x6E, 0x00}));
    deliver(frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})));
    deliver(frame_bytes(MSG_ACCEPTED, {}));
    ASSERT_EQ(queue_count(&command_queue), 0);
  }
  // A finished stroke committed as the stroke input does it; returns its frame.
  Bytes our_stroke(int tool, unsigned variant) {
    const Bytes out = stroke(own_user_id, tool, variant);
    Message m;
    message_from_frame(&m, out.data());
    apply_command(&LocalCanvas, &m);
    EXPECT_EQ(link_submit(&m), LINK_SENT);
    return out;
  }
  // Every kept chat log line, oldest first.
  Lines chat_lines() {
    Lines out;
    for (int i = chat_log.oldest; i != chat_log.head; i = (i + 1) % CHAT_LOG_SLOTS)
      out.push_back(chat_log.lines[i].text);
    return out;
  }

  int listener = -1, peer = -1;  // the server's listening socket and its end of the client's
  uint16_t port = 0;

  // A short stroke's frame; where it lies, its colour and values follow from variant.
  static Bytes stroke(uint8_t author, int tool, unsigned variant) {
    const int x = int(variant * 37 % CANVAS_WIDTH), y = int(variant * 91 % CANVAS_HEIGHT);
    const int16_t xs[] = {int16_t(x), int16_t(x + 30), int16_t(x + 5)};
    const int16_t ys[] = {int16_t(y), int16_t(y + 20), int16_t(y - 25)};
    Message m;
    EXPECT_EQ(encode_command(&m, COMMAND_LAYOUTS[tool], author, float(variant * 53 % 256),
                             float(variant * 29 % 256), 90, float(2 + variant % 30),
                             float(variant * 7 % 400), xs, ys, 1 + variant % 3), 1);
    const Bytes out = nettest::frame_of(&m);
    message_free(&m);
    return out;
  }
};

}  // namespace testsupport
