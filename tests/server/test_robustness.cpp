// Bad peers: malformed input, slow readers, floods. None of them may disturb
// a logged-in witness (user 1), who still paints and is acknowledged.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "harness.h"
#include "net/draw_cost.h"
#include "server_log.h"

// One session of bad peers against one witness: openings that are not a login
// request, logged-in users sending an invalid command (after valid ones in the
// same packet), a frame byte by byte, half a frame, silence.
TEST(Malformed, BadPeersAreDisconnectedAloneAndOnlyTheirWholeCommandsAreKept) {
  TestServer server;
  ASSERT_TRUE(server.start({"--login-timeout", "2"}));
  Clients w = logged_in(server, 1);
  TestClient silent(server.port);
  for (const Bytes& opening : std::vector<Bytes>{
           chat_frame(0, "hi"), frame_bytes(6, concat({{8, 0, 0, 0}, text_bytes("x")})),
           frame_bytes(6, {9, 0, 0, 0, 'x'}), frame_bytes(6, {9, 0, 0}),
           text_bytes("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), {6, 0xFF, 0xFF}}) {
    TestClient bad(server.port);
    bad.send(opening);
    EXPECT_TRUE(bad.closed_within()) << int(opening[0]);
  }
  // Drawings and chat lines the rules refuse, other types and wrong shapes.
  const std::vector<Bytes> commands = {
      frame_bytes(0, {1, 2, 3, 4}), pen_frame(1, 1, 30000, 10), chat_frame(1, std::string(512, 'x')),
      frame_bytes(13, {1}), frame_bytes(255, {}), login_frame("again"),
      frame_bytes(9, {2}), frame_bytes(10, {1, 2}), frame_bytes(11, text_bytes("only one string")),
      frame_bytes(11, concat({text_bytes("a"), text_bytes("b"), text_bytes("c")})),
      {0, 0xD0, 0x07},  // 2000 bytes announced: refused from the header
  };
  // Every bad user is user 2; the first one's valid commands ahead of its
  // invalid one still count.
  const Bytes kept = concat({pen_frame(2, 2), pen_frame(2, 3, 40, 50)});
  for (size_t i = 0; i < commands.size(); i++) {
    TestClient bad(server.port);
    bad.login("bad");
    w[0]->read_frame();  // its join
    bad.send(concat({i ? Bytes() : kept, commands[i]}));
    EXPECT_EQ(bad.read_until(-1).size(), i ? 0u : 2u) << "answered frame of type " << int(commands[i][0]);
    EXPECT_EQ(w[0]->read_until(8).size(), i ? 0u : 2u);  // up to its leaving
  }
  EXPECT_TRUE(server.wait_for_log("refused a frame of 2000 bytes"));
  auto a = std::make_unique<TestClient>(server.port);
  a->login("a");
  w[0]->read_frame();
  Bytes stroke = brush_frame(2, 20, 5);
  for (uint8_t byte : stroke) {
    a->send({byte});
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(a->read_frame().type, 255);
  EXPECT_EQ(w[0]->read_frame().bytes(), stroke);
  a->send(Bytes(stroke.begin(), stroke.begin() + 30));
  a.reset();
  EXPECT_EQ(w[0]->read_frame().bytes(), (Bytes{8, 1, 0, 2}));
  EXPECT_TRUE(server.wait_for_log("closed the connection in the middle of a frame"));
  // Only the silent connection waited for the login time-out.
  EXPECT_TRUE(silent.closed_within(5));
  std::string log = server.log(), timeout = "did not log in within 2 seconds";
  EXPECT_NE(log.find(timeout), std::string::npos);
  EXPECT_EQ(log.find(timeout), log.rfind(timeout));
  w[0]->send(pen_frame(1, 2));
  EXPECT_EQ(w[0]->read_frame().type, 255);
  EXPECT_EQ(server.board_file(), concat({kept, stroke, pen_frame(1, 2)}));
}

TEST(SlowReader, IsDisconnectedOverTheOutputLimitWhileTheOthersGoOn) {
  TestServer server;
  ASSERT_TRUE(server.start({"--max-output", "65536", "--rate", "0", "--draw-budget", "0", "--draw-total", "0"}));
  Clients w = logged_in(server, 1);
  TestClient sleeper(server.port);
  sleeper.login("sleeper");
  w[0]->read_frame();  // its join
  // About 5 MB of chat lines for a user who reads nothing (strokes as large
  // would cost their drawing estimate too: slow under the sanitizers).
  const int lines = 10000;
  ASSERT_TRUE(w[0]->send(concat(std::vector<Bytes>(lines, chat_frame(1, std::string(500, 'z'))))));
  bool sleeper_left = false;
  for (int acknowledged = 0; acknowledged < lines;) {
    Frame f = w[0]->read_frame(30);
    ASSERT_GE(f.type, 0) << "after " << acknowledged << " acknowledgements";
    acknowledged += f.type == 255;
    sleeper_left |= f.bytes() == Bytes{8, 1, 0, 2};
  }
  EXPECT_TRUE(sleeper_left);
  EXPECT_TRUE(server.wait_for_log("more than 65536 bytes of output not read"));
  EXPECT_TRUE(sleeper.closed_within(10));
}

// A flood is slowed to the rate, dear strokes wait for the drawing budget
// while others paint, and nothing is ever dropped.
TEST(RateLimit, AFloodIsSlowedToTheRateAndDearStrokesToTheDrawingBudget) {
  TestServer server;
  ASSERT_TRUE(server.start({"--rate", "20", "--burst", "5", "--draw-budget", "100", "--draw-burst", "1"}));
  Clients u = logged_in(server, 2);  // the witness and the flood
  std::vector<Bytes> sent;
  for (int i = 0; i < 45; i++) sent.push_back(pen_frame(2, 1 + i));
  double start = now_seconds();
  u[1]->send(concat(sent));
  for (int i = 0; i < 45; i++) ASSERT_EQ(u[1]->read_frame().type, 255) << i;
  // 5 at once, then 20 a second: the last 40 need two seconds at least.
  EXPECT_GE(now_seconds() - start, 1.5);
  for (int i = 0; i < 45; i++) EXPECT_EQ(u[0]->read_frame().bytes(), sent[i]) << i;
  // Pen zigzags between the picture's corners: about 40 ms of drawing each.
  Bytes payload = {2, 1, 2, 3};
  for (int k = 0; k < 255; k++)
    payload.insert(payload.end(), {uint8_t(k % 4 < 2 ? 0 : 0x8F), uint8_t(k % 4 < 2 ? 0 : 3),
                                   uint8_t(k % 2 ? 0xAB : 0), uint8_t(k % 2 ? 2 : 0)});
  double seconds_each = draw_cost(0, payload.data(), payload.size()) / 100000;
  Bytes dear = frame_bytes(0, payload);
  start = now_seconds();
  u[1]->send(concat({dear, dear, dear, dear}));
  ASSERT_EQ(u[1]->read_frame().type, 255);
  // The witness is answered while the flood still waits for its budget.
  u[0]->send(pen_frame(1, 2));
  std::vector<Frame> before = u[0]->read_until(255);
  EXPECT_LT(before.size(), 4u);
  for (int acks = 1; acks < 4;) {
    Frame f = u[1]->read_frame();
    ASSERT_GE(f.type, 0) << acks;  // the witness's stroke comes in between
    acks += f.type == 255;
  }
  EXPECT_GE(now_seconds() - start, 3 * seconds_each - 0.01);
  for (size_t i = before.size(); i < 4; i++) EXPECT_EQ(u[0]->read_frame().bytes(), dear) << i;
}

// Connect and close from one address, again and again: a few lines a second
// about it, the rest told in one line a second.
TEST(Log, LinesAboutOneAddresssConnectionsAreFolded) {
  TestServer server;
  ASSERT_TRUE(server.start());
  for (int i = 0; i < 300; i++) close(loopback_connect("127.25.0.1", server.port));
  ASSERT_TRUE(server.wait_for_log("more lines about connections from 127.25.0.1 left out"));
  std::string log = server.log();
  EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 100);
}
