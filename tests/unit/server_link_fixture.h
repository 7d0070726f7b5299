// A headless client connected with its real Connection to a server the test
// scripts on 127.0.0.1: the test writes the server's frames and reads back the
// exact bytes the client sent.
#pragma once
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include "headless_client.h"
#include "net_test_support.h"
#include "session_support.h"
#include "test_support.h"
#include "ui/chat_view.h"

namespace testsupport {

using nettest::readable;

class ServerLink : public ::testing::Test {
 protected:
  void SetUp() override {
    listener = nettest::listen_on_loopback(&port, 4);
    memset(&config, 0, sizeof config);
    strcpy(config.server_name, "127.0.0.1");
    config.server_port = port;
    strcpy(config.user_name, "Ann");
    start_headless_client(1024, 768);
    board.now = TEST_NOW;
  }
  void TearDown() override {
    client_world_close();
    close(peer);
    close(listener);
  }

  // The network part of a frame. Not client_frame: with no button held it would
  // finish the stroke some tests set up by hand.
  void step() {
    board_frame_start(&board, TEST_NOW);
    network_step();
  }
  void send(const Bytes& bytes) {
    ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // The server writes bytes; the next frame takes them (a message a frame:
  // the test's clock is long past the frame's second).
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
  // before; the reply (id 1, no one else) with a new session (token 7s) and
  // its acceptance come in later frames.
  void login() {
    connect_and_login();
    ASSERT_TRUE(board.connected);
    ASSERT_EQ(chat_lines().back(), system_line("Attempting to connect to 127.0.0.1:" +
                                               std::to_string(port) + ". . ."));
    ASSERT_EQ(queue_count(&board.command_queue), 1);
    ASSERT_TRUE(readable(listener));
    peer = accept(listener, nullptr, nullptr);
    const timeval second = {1, 0};  // receive_frame waits this long at most
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    ASSERT_FALSE(readable(peer, 0));
    step();
    // On the paper (no bg.bmp here) the client asks for a checkpoint, and to resume.
    ASSERT_EQ(receive_frame(), (Bytes{0x06, 0x09, 0x00, 0x09, 0x00, 0x00, 0x00, 0x41, 0x6E, 0x6E, 0x00, 0x03}));
    deliver(frame_bytes(MSG_LOGIN, concat({{1}, text_bytes("Ann"), {0}})));
    deliver(resume_frame(RESUME_NEW, 7, 0));
    deliver(frame_bytes(MSG_ACCEPTED, {}));
    ASSERT_EQ(queue_count(&board.command_queue), 0);
  }
  // A finished stroke committed as the stroke input does it; returns its frame.
  Bytes our_stroke(int tool, unsigned variant) {
    const Bytes out = stroke_frame(board.own_user_id, tool, variant);
    Message m = frame_message(out);
    EXPECT_EQ(board_session_submit(&board, &m), SUBMIT_SENT);
    return out;
  }
  Lines chat_lines() { return testsupport::chat_lines(board.chat_log); }

  int listener = -1, peer = -1;  // the server's listening socket and its end of the client's
  uint16_t port = 0;
};

}  // namespace testsupport
