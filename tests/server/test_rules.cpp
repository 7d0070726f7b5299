// The server's acceptance rules, checked in process.
#include <gtest/gtest.h>

#include <cmath>

#include "harness.h"
#include "net/command.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "options.h"
#include "rules.h"

static int valid(const Bytes& frame) {
  return validate_drawing(frame[0], frame.data() + 3, frame.size() - 3);
}

TEST(Rules, DrawingCommandsNeedTheirFixedFieldsAndOneTo255WholePoints) {
  EXPECT_TRUE(valid(pen_frame(1, 1)));
  EXPECT_TRUE(valid(pen_frame(1, 255)));
  EXPECT_FALSE(valid(pen_frame(1, 256)));
  EXPECT_FALSE(valid(pen_frame(1, 0)));
  EXPECT_TRUE(valid(brush_frame(1, 255, 7)));  // the largest legal message
  EXPECT_EQ(brush_frame(1, 255, 7).size(), MAX_FRAME);
  // Fixed part of every tool followed by exactly one point.
  const int fixed[13] = {4, 10, 12, 10, 5, -1, -1, -1, -1, -1, -1, -1, 8};
  for (int type = 0; type < 13; type++) {
    EXPECT_EQ(drawing_fixed_size(type), fixed[type]) << type;
    if (fixed[type] < 0) continue;
    Bytes payload(size_t(fixed[type]) + 4, 0);
    EXPECT_TRUE(validate_drawing(type, payload.data(), payload.size())) << type;
    EXPECT_FALSE(validate_drawing(type, payload.data(), payload.size() - 1)) << type;
    EXPECT_FALSE(validate_drawing(type, payload.data(), payload.size() - 4)) << type;
    payload.push_back(0);  // a trailing partial point
    EXPECT_FALSE(validate_drawing(type, payload.data(), payload.size())) << type;
  }
  EXPECT_FALSE(validate_drawing(5, nullptr, 0));
  EXPECT_FALSE(validate_drawing(13, nullptr, 0));
}

TEST(Rules, PointsMustLieWhereAnEightThousandPixelScreenCanPutThem) {
  // The picture centred on an 8192 x 8192 screen starts at (3640, 3754).
  EXPECT_TRUE(valid(pen_frame(1, 1, -3640, -3754)));
  EXPECT_TRUE(valid(pen_frame(1, 1, 4551, 4437)));
  EXPECT_FALSE(valid(pen_frame(1, 1, -3641, 0)));
  EXPECT_FALSE(valid(pen_frame(1, 1, 4552, 0)));
  EXPECT_FALSE(valid(pen_frame(1, 1, 0, -3755)));
  EXPECT_FALSE(valid(pen_frame(1, 1, 0, 4438)));
  EXPECT_FALSE(valid(pen_frame(1, 1, -32768, 32767)));
  // Only the last of many points is out of range.
  EXPECT_FALSE(valid(pen_frame(1, 200, 4400, 0)));
}

TEST(Rules, ChatLinesHoldAtMost511CharactersEndedByTheirOnlyZero) {
  auto check = [](const Bytes& frame) { return validate_chat(frame.data() + 3, frame.size() - 3); };
  EXPECT_TRUE(check(chat_frame(1, "")));
  EXPECT_TRUE(check(chat_frame(1, std::string(511, 'x'))));
  EXPECT_FALSE(check(chat_frame(1, std::string(512, 'x'))));
  EXPECT_FALSE(check(frame_bytes(5, {1})));
  EXPECT_FALSE(check(frame_bytes(5, {1, 'a', 'b'})));
  EXPECT_FALSE(check(frame_bytes(5, {1, 'a', 0, 'b', 0})));
}

TEST(Rules, NamesArePrintableTrimmedShortAndNeverEmpty) {
  EXPECT_EQ(clean_name("Ann"), "Ann");
  EXPECT_EQ(clean_name("a\tb\x01"
                       "c\xff"),
            "abc");
  EXPECT_EQ(clean_name("  padded  "), "padded");
  EXPECT_EQ(clean_name("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmno");
  EXPECT_EQ(clean_name("abcdefghijklmn pq"), "abcdefghijklmn");  // no blank left at the cut
  EXPECT_EQ(clean_name(""), "guest");
  EXPECT_EQ(clean_name("   \t\n"), "guest");
}

TEST(Rules, StringFieldsSplitExactly) {
  std::string out[2];
  Bytes two = concat({text_bytes("pw"), text_bytes("hello there")});
  ASSERT_TRUE(split_strings(two.data(), two.size(), out, 2));
  EXPECT_EQ(out[0], "pw");
  EXPECT_EQ(out[1], "hello there");
  EXPECT_FALSE(split_strings(two.data(), two.size() - 1, out, 2));  // unterminated
  Bytes three = concat({two, text_bytes("x")});
  EXPECT_FALSE(split_strings(three.data(), three.size(), out, 2));  // trailing bytes
}

TEST(Options, EveryOptionIsReadAndBadValuesAreRefused) {
  const char* argv[] = {"easel-server", "--port", "3030", "--bind", "127.0.0.1", "--board", "b.easel",
                        "--motd-password", "secret", "--max-output", "65536", "--rate", "5", "--burst", "9",
                        "--max-connections", "300", "--login-timeout", "4", "--sync",
                        "--draw-budget", "30", "--draw-burst", "70"};
  ServerOptions o;
  int status = -1;
  ASSERT_TRUE(options_parse(&o, 24, const_cast<char**>(argv), &status));
  EXPECT_EQ(o.port, 3030);
  EXPECT_EQ(o.bind_address, "127.0.0.1");
  EXPECT_EQ(o.board_path, "b.easel");
  EXPECT_EQ(o.motd_password, "secret");
  EXPECT_EQ(o.max_pending_output, 65536u);
  EXPECT_EQ(o.rate, 5);
  EXPECT_EQ(o.burst, 9);
  EXPECT_EQ(o.max_connections, 300);
  EXPECT_EQ(o.login_timeout, 4);
  EXPECT_TRUE(o.sync);
  EXPECT_EQ(o.draw_rate, 30000);
  EXPECT_EQ(o.draw_burst, 70000);

  ServerOptions defaults;
  EXPECT_EQ(defaults.port, 2020);
  EXPECT_EQ(defaults.board_path, "board.easel");
  EXPECT_TRUE(defaults.bind_address.empty());
  for (auto bad : {std::vector<const char*>{"s", "--port", "70000"},
                   {"s", "--port", "12x"},
                   {"s", "--port"},
                   {"s", "--nope"},
                   {"s", "--rate", "-1"}}) {
    ServerOptions x;
    status = -1;
    EXPECT_FALSE(options_parse(&x, int(bad.size()), const_cast<char**>(bad.data()), &status));
    EXPECT_EQ(status, 2);
  }
}

// The fastest painting our client passes on: 255 points, fixed at least every
// 100 pixels of path, in rows 100 pixels apart over the whole picture, every
// tool at its smallest and largest size with its dearest setting, strokes back
// to back at 10000 pixels a second (faster than a hand drags a mouse). The
// default budget must never hold it back.
TEST(DrawBudget, NeverHoldsBackAHand) {
  int16_t xs[255], ys[255];
  double path = 0;
  for (int k = 0; k < 255; k++) {
    int row = k / 10, col = row % 2 ? 9 - k % 10 : k % 10;
    xs[k] = int16_t(5 + col * 100);
    ys[k] = int16_t(5 + row * 26);
    if (k > 0) path += std::hypot(xs[k] - xs[k - 1], ys[k] - ys[k - 1]);
  }
  ServerOptions o;
  for (float size : {0.0f, 400.0f}) {
    Message m[6];
    encode_pen(&m[0], 1, 2, 3, xs, ys, 255);
    encode_pencil(&m[1], 1, 2, 3, size, xs, ys, 255);
    encode_brush(&m[2], 1, 2, 3, size, 400, xs, ys, 255);
    encode_chalk(&m[3], 1, 2, 3, size, xs, ys, 255);
    encode_smudge(&m[4], size, 400, xs, ys, 255);
    encode_stamp(&m[5], 1, 2, 3, size, 0, xs, ys, 255);
    for (Message& one : m) {
      double cost = draw_cost(int(one.type), one.begin, message_length(&one));
      EXPECT_GT(cost, 100) << one.type;
      EXPECT_LT(cost * 10000 / path, o.draw_rate) << one.type << " at " << size;
      EXPECT_LT(cost, o.draw_burst) << one.type << " at " << size;
      message_free(&one);
    }
  }
}
