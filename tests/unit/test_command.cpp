// Drawing commands: the encoders' bytes, decoding through the renderers, replay
// determinism, malformed payloads and chat lines.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "net/command.h"
#include "net/drawing_tools.h"
#include "net/command_run.h"
#include "net/message.h"
#include "net_test_support.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "test_support.h"

using nettest::payload;
using testsupport::images_equal;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes le32(uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

// Each tool's bytes from author 200 with the points (-1, 683) and (911, -32768):
// colours clamped and truncated, values clamped to 0..400 and scaled. Brush,
// pencil and chalk take their seeds from the local stream in turn; the others
// take none. Without points there is no command and the message is untouched.
TEST(CommandEncoding, PinnedBytesOfEveryTool) {
  std::vector<uint32_t> draws;
  random_reset();
  seedRandom(4242);
  for (int i = 0; i < 4; ++i) draws.push_back(nextRandom());
  random_reset();
  seedRandom(4242);
  int16_t xs[2] = {-1, 911}, ys[2] = {683, -32768};
  const Bytes points = {0xFF, 0xFF, 0xAB, 0x02, 0x8F, 0x03, 0x00, 0x80};
  const uint32_t types[6] = {MSG_BRUSH, MSG_PENCIL, MSG_CHALK, MSG_SMUDGE, MSG_STAMP, MSG_PEN};
  const Bytes fields[6] = {join({{200}, le32(draws[0]), {255, 0, 127, 0x26, 0x03, 0x66, 0x66}}),
                           join({{200}, le32(draws[1]), {1, 2, 3, 0x6F, 0x00}}),
                           join({{200}, le32(draws[2]), {4, 5, 6, 0x68, 0x01}}),
                           {200, 0x2D, 0x02, 0x66, 0x66},
                           {200, 0, 0, 0, 0xE5, 0x00, 0xCC, 0x0C},
                           {200, 9, 8, 7}};
  for (unsigned n : {0u, 2u}) {
    Message m[6];
    for (Message& each : m) message_init(&each, 77);
    const int made[6] = {encode_brush(&m[0], 200, 300, -5, 127.9f, 12.3f, 500, xs, ys, n),
                         encode_pencil(&m[1], 200, 1, 2, 3, 1.7f, xs, ys, n),
                         encode_chalk(&m[2], 200, 4, 5, 6, 5.5f, xs, ys, n),
                         encode_smudge(&m[3], 200, 8.5f, 1000, xs, ys, n),
                         encode_stamp(&m[4], 200, 0, 0, 0, 3.5f, 50, xs, ys, n),
                         encode_pen(&m[5], 200, 9, 8, 7, xs, ys, n)};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(n != 0, made[i]);
      EXPECT_EQ(n ? types[i] : 77u, m[i].type);
      EXPECT_EQ(n ? join({fields[i], points}) : Bytes(), payload(&m[i])) << "type " << types[i];
      message_free(&m[i]);
    }
  }
  EXPECT_EQ(draws[3], nextRandom());
}

// Each tool's command as the client encodes it, from fractional values, on a
// wavy stroke over a pattern, applied: the renderer's picture from the
// quantised values, the command stream seeded as the command says, the local
// stream left alone.
TEST(CommandDecoding, PinnedPicturesOfAppliedCommands) {
  random_reset();
  seedRandom(99);
  for (int i = 0; i < 3; ++i) nextRandom();  // the seeds of pencil, brush and chalk
  const uint32_t local_next = nextRandom();
  seedRandom(99);
  std::vector<int16_t> xs, ys;
  for (int i = 0; i < 40; ++i) {
    xs.push_back(int16_t(200 + i * 9));
    ys.push_back(int16_t(300 + ((i * 37) % 50) - 25 + i * 2));
  }
  const float values[DRAWING_TYPE_COUNT][2] = {{0, 0}, {6.3f, 0}, {7.1f, 450}, {9.9f, 0}, {10.4f, 900}, {4.4f, 33.3f}};
  const uint64_t sums[DRAWING_TYPE_COUNT] = {10215594249608263506u, 11675846527322425530u, 1554560930144294040u,
                                             14245293229350981854u, 16750766415642245074u, 15112927743373243788u};
  for (int i = 0; i < DRAWING_TYPE_COUNT; ++i) {
    Image* canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
    Message m;
    ASSERT_EQ(1, encode_command(&m, DRAWING_TOOLS[i].layout, 0, 200.7f, 30.2f, 90.9f, values[i][0], values[i][1],
                                xs.data(), ys.data(), xs.size()));
    apply_command(canvas, &m);
    message_free(&m);
    EXPECT_EQ(sums[i], testsupport::image_checksum(canvas)) << DRAWING_TOOLS[i].layout.tool;
    testsupport::free_image(canvas);
    useCommandStream(i + 1);  // draws from the command stream between commands change nothing
    nextRandom();
    useLocalStream();
  }
  EXPECT_EQ(local_next, nextRandom());
}

// Truncated, pointless and unknown commands and chat lines draw nothing,
// decode as nothing and leave the local stream alone.
TEST(CommandDecoding, MalformedCommandsAndChatLinesDrawNothing) {
  random_reset();
  seedRandom(5);
  unsigned local_before = random_position(LOCAL_STREAM);
  const std::vector<std::pair<uint32_t, Bytes>> cases = {
      {MSG_PEN, {4, 9, 9, 9, 10, 0, 20}},                       // 3 bytes of a point
      {MSG_PEN, {4, 9, 9}},                                     // ends inside the fields
      {MSG_PENCIL, {4, 1, 2, 3, 4, 9, 9, 9, 0x10, 0x10}},       // no point
      {MSG_PENCIL, {4, 1, 2, 3, 4, 9, 9, 9, 0x10, 0x10, 1}},    // 1 trailing byte
      {MSG_BRUSH, {4, 1, 2, 3, 4, 9, 9, 9, 1, 1, 1, 1, 5, 6}},  // 2 trailing bytes
      {MSG_CHALK, {4, 0, 0, 0, 0, 9, 9, 9, 1, 1}},
      {MSG_SMUDGE, {4, 1, 1, 1, 1, 50, 0, 50}},
      {MSG_STAMP, {4, 9, 9, 9, 1, 1, 1, 1, 7, 7, 7}},
      {MSG_KICK, {4, 10, 0, 10, 0}},
      {MSG_MOTD, {'h', 'i', 0, 0}},
      {13, {4, 10, 0, 10, 0, 20, 0, 20, 0}},
      {200, {4, 9, 9, 9, 10, 0, 10, 0}},
      {254, {}},
      {MSG_CHAT, join({{4}, Bytes(700, 'w'), {0}})},
  };
  Image* canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  Image* original = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  testing::internal::CaptureStdout();  // where every line the log keeps is echoed
  for (const auto& c : cases) {
    Message m = nettest::raw_message(c.first, c.second);
    apply_command(canvas, &m);
    StrokeCommand decoded;
    EXPECT_EQ(0, decode_command(&m, &decoded, &point_list));
    EXPECT_EQ(0, message_tell(&m));
    EXPECT_TRUE(images_equal(canvas, original)) << "type " << c.first;
    EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
    message_free(&m);
  }
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(local_before, random_position(LOCAL_STREAM));
  testsupport::free_image(original);
  testsupport::free_image(canvas);
}

// Every tool, apart and crossing, short and long, and chat lines: each command changes pixels only in its footprint,
// and as one run they give apply_command's canvas, the run's observer seeing every drawing command in order as
// decode_command gives it. Some strokes reach far off the canvas.
TEST(CommandRun, DrawsAHistoryAsApplyCommandDoesOneByOne) {
  std::mt19937 rng(14);
  std::vector<Message> history(400);
  for (size_t i = 0; i < history.size(); ++i) {
    const int step = i % 3 ? 3 : 9, n = 1 + rng() % (i % 3 ? 12 : 200);
    std::vector<int16_t> xs{int16_t(rng() % CANVAS_WIDTH)}, ys{int16_t(rng() % CANVAS_HEIGHT)};
    auto walk = [&](int16_t v) { return int16_t(v + int(rng() % (2 * step + 1)) - step); };
    for (; int(xs.size()) < n; ys.push_back(i % 150 == 9 ? -30000 : walk(ys.back()))) xs.push_back(walk(xs.back()));
    message_init(&history[i], MSG_CHAT);
    ASSERT_TRUE(i % 37 == 5 ? message_put_byte(&history[i], i % 4) && message_put_string(&history[i], "hi")
                            : encode_command(&history[i], DRAWING_TOOLS[i % DRAWING_TYPE_COUNT].layout, i % 4, rng() % 256, 90,
                                             200, 1 + rng() % 13, rng() % 1000, xs.data(), ys.data(), xs.size()));
  }
  // A zigzag along a line: its long segments widen the footprint, not its box.
  const int16_t zx[] = {100, 900, 100, 900}, zy[] = {300, 300, 300, 300};
  Message zigzag;
  StrokeCommand z;
  message_init(&zigzag, MSG_CHAT);
  ASSERT_TRUE(encode_command(&zigzag, DRAWING_TOOLS[0].layout, 1, 9, 9, 9, 4, 0, zx, zy, 4) && decode_command(&zigzag, &z, &point_list));
  const Footprint zf = command_footprint(z, point_list, CANVAS_WIDTH, CANVAS_HEIGHT);
  EXPECT_EQ((std::vector<int>{75, 275, 912, 326}), (std::vector<int>{zf.x0, zf.y0, zf.x1, zf.y1}));
  // A pen dot: 12 all round (as a tool of size 2), its own pixel included.
  message_free(&zigzag);
  message_init(&zigzag, MSG_CHAT);
  ASSERT_TRUE(encode_command(&zigzag, DRAWING_TOOLS[0].layout, 1, 9, 9, 9, 4, 0, zx, zy, 1) && decode_command(&zigzag, &z, &point_list));
  const Footprint df = command_footprint(z, point_list, CANVAS_WIDTH, CANVAS_HEIGHT);
  EXPECT_EQ((std::vector<int>{88, 288, 113, 313}), (std::vector<int>{df.x0, df.y0, df.x1, df.y1}));
  message_free(&zigzag);
  Image *one_by_one = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT),
        *as_run = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT), *before = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  auto same = [](Image* a, Image* b) { return !memcmp(a->pixels, b->pixels, size_t(a->w) * a->h * 4); };
  // What the observer sees of a command: author, type, seed, first red, first point and the count.
  auto seen = [](const StrokeCommand& c, const PointList& p) {
    return std::to_string(c.author) + " " + std::to_string(c.type) + " " + std::to_string(c.seed) + " " +
           std::to_string(c.rgb[0]) + " " + std::to_string(p.xs[0]) + "," + std::to_string(p.ys[0]) + " " +
           std::to_string(p.count);
  };
  std::vector<std::string> expected;
  for (Message& m : history) {
    StrokeCommand c;
    image_copy_all(one_by_one, before);
    apply_command(one_by_one, &m);
    if (!decode_command(&m, &c, &point_list)) continue;
    expected.push_back(seen(c, point_list));
    const Footprint f = command_footprint(c, point_list, CANVAS_WIDTH, CANVAS_HEIGHT);
    image_copy(one_by_one, before, f.x0, f.y0, f.x0, f.y0, f.x1 - f.x0, f.y1 - f.y0);
    EXPECT_TRUE(same(before, one_by_one) && (point_list.count > 12 || f.x1 - f.x0 < 120)) << c.type << " " << point_list.count;
  }
  static std::vector<std::string> calls;
  const CommandObserver observer = {
      [](void* see, const StrokeCommand& c, const PointList& p) {
        calls.push_back((*static_cast<decltype(seen)*>(see))(c, p));
      },
      &seen};
  // A run of its own, then one while another holds the worker: that one is
  // drawn on the calling thread alone, as where no thread can be made.
  CommandRun run, holder;
  command_run_begin(&run, as_run, &observer);
  for (Message& m : history) command_run_add(&run, &m);
  command_run_finish(&run);
  EXPECT_TRUE(same(one_by_one, as_run));
  EXPECT_EQ(expected, std::exchange(calls, {}));
  Image* alone = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  command_run_begin(&holder, before);
  command_run_begin(&run, alone, &observer);
  EXPECT_FALSE(run.shared);
  for (Message& m : history) command_run_add(&run, &m);
  command_run_finish(&run);
  command_run_finish(&holder);
  EXPECT_TRUE(same(one_by_one, alone));
  EXPECT_EQ(expected, calls);
  testsupport::free_image(alone);
  for (Image* b : {one_by_one, as_run, before}) testsupport::free_image(b);
  for (Message& m : history) message_free(&m);
}
