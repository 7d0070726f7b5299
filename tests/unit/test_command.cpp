// Drawing commands: the encoders' bytes, decoding through the renderers, replay
// determinism, malformed payloads, roster updates and chat lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "ui/roster.h"
#include "app/session.h"
#include "net/command.h"
#include "net/command_queue.h"
#include "net/message.h"
#include "net_test_support.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "test_support.h"
#include "ui/chat_log.h"

using nettest::payload;
using testsupport::bitmaps_equal;
using testsupport::count_differences;
using Bytes = std::vector<uint8_t>;

namespace {

// A wavy stroke across the middle of the canvas.
struct Stroke {
  std::vector<int16_t> xs, ys;
  explicit Stroke(int n, int x0 = 200, int y0 = 300) {
    for (int i = 0; i < n; ++i) {
      xs.push_back(int16_t(x0 + i * 9));
      ys.push_back(int16_t(y0 + ((i * 37) % 50) - 25 + i * 2));
    }
  }
  unsigned n() const { return unsigned(xs.size()); }
};

// A canvas-sized picture with a fixed pattern, so smudges have something to move.
struct Canvas {
  BITMAP* bmp;
  Canvas() : bmp(testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT)) {}
  ~Canvas() { destroy_bitmap(bmp); }
};

// A message whose payload is exactly these bytes.
Message raw(uint32_t type, const Bytes& bytes) {
  Message m;
  message_init(&m, type);
  for (uint8_t b : bytes) message_put_byte(&m, b);
  return m;
}

}  // namespace

TEST(CommandEncoding, FieldLayoutOfEveryTool) {
  own_user_id = 200;
  random_reset();
  seedRandom(4242);
  uint32_t first = nextRandom(), second = nextRandom(), third = nextRandom();
  random_reset();
  seedRandom(4242);

  int16_t xs[2] = {-1, 911}, ys[2] = {683, -32768};
  const Bytes points = {0xFF, 0xFF, 0xAB, 0x02, 0x8F, 0x03, 0x00, 0x80};
  auto le32 = [](uint32_t v) {
    return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  Message m;
  // Colours are clamped and truncated; values clamped to 0..400 and scaled.
  ASSERT_EQ(1, encode_brush(&m, own_user_id, 300, -5, 127.9f, 12.3f, 500, xs, ys, 2));
  EXPECT_EQ(uint32_t(MSG_BRUSH), m.type);
  EXPECT_EQ(join({{200}, le32(first), {255, 0, 127}, {0x26, 0x03, 0x66, 0x66}, points}),
            payload(&m));
  message_free(&m);

  ASSERT_EQ(1, encode_pencil(&m, own_user_id, 1, 2, 3, 1.7f, xs, ys, 2));
  EXPECT_EQ(uint32_t(MSG_PENCIL), m.type);
  EXPECT_EQ(join({{200}, le32(second), {1, 2, 3}, {0x6F, 0x00}, points}), payload(&m));
  message_free(&m);

  ASSERT_EQ(1, encode_chalk(&m, own_user_id, 4, 5, 6, 5.5f, xs, ys, 2));
  EXPECT_EQ(uint32_t(MSG_CHALK), m.type);
  EXPECT_EQ(join({{200}, le32(third), {4, 5, 6}, {0x68, 0x01}, points}), payload(&m));
  message_free(&m);

  // Smudge and stamp carry no seed: the local stream is not drawn from.
  unsigned position = random_position(LOCAL_STREAM);
  ASSERT_EQ(1, encode_smudge(&m, own_user_id, 8.5f, 1000, xs, ys, 2));
  EXPECT_EQ(uint32_t(MSG_SMUDGE), m.type);
  EXPECT_EQ(join({{200}, {0x2D, 0x02, 0x66, 0x66}, points}), payload(&m));
  message_seek(&m, 3);
  EXPECT_NEAR(400.0, message_get_scaled(&m), 1e-3);
  message_free(&m);

  ASSERT_EQ(1, encode_stamp(&m, own_user_id, 0, 0, 0, 3.5f, 50, xs, ys, 2));
  EXPECT_EQ(uint32_t(MSG_STAMP), m.type);
  EXPECT_EQ(join({{200, 0, 0, 0}, {0xE5, 0x00, 0xCC, 0x0C}, points}), payload(&m));
  message_free(&m);

  ASSERT_EQ(1, encode_pen(&m, own_user_id, 9, 8, 7, xs, ys, 2));
  EXPECT_EQ(join({{200, 9, 8, 7}, points}), payload(&m));
  message_free(&m);
  EXPECT_EQ(position, random_position(LOCAL_STREAM));
}

TEST(CommandEncoding, NoPointsMeansNoCommand) {
  Message m;
  message_init(&m, 77);
  int16_t x = 1, y = 1;
  EXPECT_EQ(0, encode_pen(&m, own_user_id, 1, 2, 3, &x, &y, 0));
  EXPECT_EQ(0, encode_pencil(&m, own_user_id, 1, 2, 3, 4, &x, &y, 0));
  EXPECT_EQ(0, encode_brush(&m, own_user_id, 1, 2, 3, 4, 5, &x, &y, 0));
  EXPECT_EQ(0, encode_chalk(&m, own_user_id, 1, 2, 3, 4, &x, &y, 0));
  EXPECT_EQ(0, encode_smudge(&m, own_user_id, 4, 5, &x, &y, 0));
  EXPECT_EQ(0, encode_stamp(&m, own_user_id, 1, 2, 3, 4, 5, &x, &y, 0));
  EXPECT_EQ(77u, m.type);
  EXPECT_EQ(nullptr, m.begin);
}

TEST(CommandDecoding, ReadPointsGrowsToTheNeededCountAndIgnoresTrailingBytes) {
  Message m = raw(MSG_PEN, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F, 0xAA, 0xBB, 0xCC});
  ASSERT_EQ(1, read_points(&m));
  EXPECT_EQ(2, point_list.count);
  EXPECT_EQ(2, point_list.capacity);
  EXPECT_EQ(1, point_list.xs[0]);
  EXPECT_EQ(-1, point_list.ys[0]);
  EXPECT_EQ(-32768, point_list.xs[1]);
  EXPECT_EQ(32767, point_list.ys[1]);
  message_free(&m);

  m = raw(MSG_PEN, {5, 0, 6, 0});
  ASSERT_EQ(1, read_points(&m));
  EXPECT_EQ(1, point_list.count);
  EXPECT_EQ(2, point_list.capacity);  // never shrinks
  message_free(&m);

  m = raw(MSG_PEN, {5, 0, 6});
  EXPECT_EQ(0, read_points(&m));
  EXPECT_EQ(1, point_list.count);
  message_free(&m);
  point_list_release();
  EXPECT_EQ(0, point_list.capacity);
}

// Each tool's command, encoded from fractional values and applied: the
// renderer's picture from the quantised values, the command stream seeded as
// the command says.
TEST(CommandDecoding, PinnedPicturesOfAppliedCommands) {
  own_user_id = 0;
  random_reset();
  seedRandom(99);
  Stroke s(40);
  const float r = 200.7f, g = 30.2f, b = 90.9f;
  const int16_t *xs = s.xs.data(), *ys = s.ys.data();
  Message m[6];
  ASSERT_EQ(1, encode_pen(&m[0], own_user_id, r, g, b, xs, ys, s.n()));
  ASSERT_EQ(1, encode_pencil(&m[1], own_user_id, r, g, b, 6.3f, xs, ys, s.n()));
  ASSERT_EQ(1, encode_brush(&m[2], own_user_id, r, g, b, 7.1f, 450, xs, ys, s.n()));
  ASSERT_EQ(1, encode_chalk(&m[3], own_user_id, r, g, b, 9.9f, xs, ys, s.n()));
  ASSERT_EQ(1, encode_smudge(&m[4], own_user_id, 10.4f, 900, xs, ys, s.n()));
  ASSERT_EQ(1, encode_stamp(&m[5], own_user_id, r, g, b, 4.4f, 33.3f, xs, ys, s.n()));
  const uint64_t sums[6] = {10215594249608263506u, 11675846527322425530u, 1554560930144294040u,
                            14245293229350981854u, 16750766415642245074u, 15112927743373243788u};
  for (int i = 0; i < 6; ++i) {
    Canvas applied;
    apply_command(applied.bmp, &m[i]);
    EXPECT_EQ(sums[i], testsupport::bitmap_checksum(applied.bmp)) << "type " << m[i].type;
    message_free(&m[i]);
  }
}

TEST(CommandDecoding, QueuedCommandReplaysIdenticallyAndLeavesTheLocalStream) {
  own_user_id = 0;
  random_reset();
  seedRandom(12345);
  nextRandom();  // the draw the encoder makes for its seed
  uint32_t expected_local[2] = {nextRandom(), nextRandom()};
  random_reset();
  seedRandom(12345);
  Stroke s(60, 100, 200);
  Message m;
  ASSERT_EQ(1, encode_chalk(&m, own_user_id, 20, 160, 220, 11.0f, s.xs.data(), s.ys.data(), s.n()));
  CommandQueue q;
  queue_init(&q);
  ASSERT_EQ(1, queue_push(&q, &m));
  Message* entry = queue_at(&q, 0);

  Canvas first, second;
  unsigned local_before = random_position(LOCAL_STREAM);
  apply_command(first.bmp, entry);
  EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
  EXPECT_EQ(local_before, random_position(LOCAL_STREAM));
  EXPECT_EQ(0, message_tell(entry));
  EXPECT_EQ(expected_local[0], nextRandom());
  EXPECT_EQ(expected_local[1], nextRandom());
  // Random numbers drawn in between, from both streams, change nothing.
  for (int i = 0; i < 5000; ++i) nextRandom();
  useCommandStream(777);
  for (int i = 0; i < 3000; ++i) nextRandom();
  useLocalStream();
  unsigned local_mid = random_position(LOCAL_STREAM);
  apply_command(second.bmp, entry);
  EXPECT_EQ(local_mid, random_position(LOCAL_STREAM));
  EXPECT_TRUE(bitmaps_equal(first.bmp, second.bmp));

  // A read position left mid-payload comes back where it was.
  message_seek(entry, 3);
  apply_command(second.bmp, entry);
  EXPECT_EQ(3, message_tell(entry));
  queue_free(&q);
}

TEST(CommandDecoding, MalformedCommandsChangeNothing) {
  testsupport::TempDir dir;
  ASSERT_TRUE(log_open());
  roster_reset();
  roster_set_name(4, "Ann");
  roster_set_colour(4, 1, 2, 3);
  roster_set_position(4, 7, 8);
  random_reset();
  seedRandom(5);
  unsigned local_before = random_position(LOCAL_STREAM);

  const std::vector<std::pair<uint32_t, Bytes>> cases = {
      {MSG_PEN, {4, 9, 9, 9, 10, 0, 20}},                      // 3 bytes of a point
      {MSG_PEN, {4, 9, 9}},                                    // ends inside the fields
      {MSG_PENCIL, {4, 1, 2, 3, 4, 9, 9, 9, 0x10, 0x10}},      // no point
      {MSG_PENCIL, {4, 1, 2, 3, 4, 9, 9, 9, 0x10, 0x10, 1}},   // 1 trailing byte
      {MSG_BRUSH, {4, 1, 2, 3, 4, 9, 9, 9, 1, 1, 1, 1, 5, 6}}, // 2 trailing bytes
      {MSG_CHALK, {4, 0, 0, 0, 0, 9, 9, 9, 1, 1}},
      {MSG_SMUDGE, {4, 1, 1, 1, 1, 50, 0, 50}},
      {MSG_STAMP, {4, 9, 9, 9, 1, 1, 1, 1, 7, 7, 7}},
      {MSG_KICK, {4, 10, 0, 10, 0}},
      {MSG_MOTD, {'h', 'i', 0, 0}},
      {13, {4, 10, 0, 10, 0, 20, 0, 20, 0}},
      {200, {4, 9, 9, 9, 10, 0, 10, 0}},
      {254, {}},
  };
  Canvas canvas, original;
  for (const auto& c : cases) {
    Message m = raw(c.first, c.second);
    message_seek(&m, 0);
    apply_command(canvas.bmp, &m);
    EXPECT_EQ(0, message_tell(&m));
    EXPECT_TRUE(bitmaps_equal(canvas.bmp, original.bmp)) << "type " << c.first;
    EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
    message_free(&m);
  }
  EXPECT_EQ(local_before, random_position(LOCAL_STREAM));
  EXPECT_EQ(1.0f, roster.users[4].red);
  EXPECT_EQ(3.0f, roster.users[4].blue);
  EXPECT_EQ(7, roster.users[4].x);
  EXPECT_EQ(8, roster.users[4].y);
  log_close();

  // The invalid-data lines are diagnostics: none reaches the log file.
  std::ifstream in("client.log");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(std::string::npos, text.str().find("Logging Started."));
  EXPECT_EQ(std::string::npos, text.str().find("invalid data"));
}

TEST(CommandDecoding, RosterFollowsTheAuthorsOfStrokes) {
  roster_reset();
  roster_set_name(2, "Bea");
  roster_set_name(6, "Cy");
  Stroke s(5, 300, 400);
  Canvas canvas;

  own_user_id = 2;
  Message m;
  ASSERT_EQ(1, encode_stamp(&m, own_user_id, 10.9f, 250, 300, 3, 20, s.xs.data(), s.ys.data(), s.n()));
  apply_command(canvas.bmp, &m);
  message_free(&m);
  EXPECT_EQ(10.0f, roster.users[2].red);
  EXPECT_EQ(250.0f, roster.users[2].green);
  EXPECT_EQ(255.0f, roster.users[2].blue);
  EXPECT_EQ(300, roster.users[2].x);
  EXPECT_EQ(s.ys[0], roster.users[2].y);

  // A smudge carries no colour: only the position moves.
  own_user_id = 6;
  roster_set_colour(6, 1, 1, 1);
  Stroke t(5, 500, 100);
  ASSERT_EQ(1, encode_smudge(&m, own_user_id, 5, 5, t.xs.data(), t.ys.data(), t.n()));
  apply_command(canvas.bmp, &m);
  message_free(&m);
  EXPECT_EQ(1.0f, roster.users[6].red);
  EXPECT_EQ(500, roster.users[6].x);

  // Author 0 is nobody: drawn, but no record changes.
  own_user_id = 0;
  Stroke u(5, 50, 50);
  ASSERT_EQ(1, encode_pen(&m, own_user_id, 0, 0, 0, u.xs.data(), u.ys.data(), u.n()));
  apply_command(canvas.bmp, &m);
  message_free(&m);
  EXPECT_EQ(300, roster.users[2].x);
  EXPECT_EQ(500, roster.users[6].x);
}

TEST(CommandDecoding, ChatLinesNameTheSpeakerFromTheRoster) {
  roster_reset();
  chat_log_reset();
  roster_set_name(3, "Dora");
  Canvas canvas, original;
  auto last_line = [] {
    int slot = (chat_log.head + CHAT_LOG_SLOTS - 1) % CHAT_LOG_SLOTS;
    return std::string(chat_log.lines[slot].text);
  };

  Message m;
  message_init(&m, MSG_CHAT);
  message_put_byte(&m, 3);
  message_put_string(&m, "hello there");
  apply_command(canvas.bmp, &m);
  EXPECT_EQ(0, message_tell(&m));
  message_free(&m);
  std::string line = last_line();
  EXPECT_NE(std::string::npos, line.find("Dora"));
  EXPECT_NE(std::string::npos, line.find("hello there"));

  // From nobody: a line without a speaker. Control and escape bytes are dropped.
  m = raw(MSG_CHAT, {0, 'n', 0xFF, 0xFC, 'o', '\n', 't', 'e', 0});
  apply_command(canvas.bmp, &m);
  message_free(&m);
  line = last_line();
  EXPECT_NE(std::string::npos, line.find("note"));
  EXPECT_EQ(std::string::npos, line.find("Dora"));
  EXPECT_EQ(std::string::npos, line.find("\xFF\xFD"));

  // At most 511 characters are kept.
  std::string long_text(700, 'w');
  message_init(&m, MSG_CHAT);
  message_put_byte(&m, 3);
  message_put_string(&m, long_text.c_str());
  apply_command(canvas.bmp, &m);
  message_free(&m);
  line = last_line();
  EXPECT_NE(std::string::npos, line.find(std::string(511, 'w')));
  EXPECT_EQ(std::string::npos, line.find(std::string(512, 'w')));
  EXPECT_TRUE(bitmaps_equal(canvas.bmp, original.bmp));
}
