// Replay speed of a board's history: what a user waits for after joining a busy
// board. A generated mixed history of 2,000 strokes (all six tools, 30 to 255
// points each, sizes across their slider ranges) is decoded and drawn with
// onto a canvas as one run on both cores, as the client does with the commands
// that follow its login (wall time), and one by one with apply_command.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "net/command.h"
#include "net/command_run.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "paint/canvas.h"
#include "paint/pixel.h"

namespace {

constexpr int HISTORY_STROKES = 2000;
constexpr uint32_t TOOLS[] = {MSG_PEN, MSG_PENCIL, MSG_BRUSH, MSG_CHALK, MSG_SMUDGE, MSG_STAMP};

struct History {
  std::vector<Message> strokes;
  ~History() {
    for (Message& m : strokes) message_free(&m);
  }
};

// A hand-like path: a random walk with momentum, kept on the canvas.
void make_path(std::mt19937& rng, int n, std::vector<int16_t>* xs, std::vector<int16_t>* ys) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  float x = 20 + u(rng) * (CANVAS_WIDTH - 40), y = 20 + u(rng) * (CANVAS_HEIGHT - 40);
  float dx = u(rng) * 8 - 4, dy = u(rng) * 8 - 4;
  xs->clear();
  ys->clear();
  for (int i = 0; i < n; ++i) {
    dx = dx * 0.9f + (u(rng) - 0.5f) * 3;
    dy = dy * 0.9f + (u(rng) - 0.5f) * 3;
    x += dx;
    y += dy;
    if (x < 0 || x >= CANVAS_WIDTH) dx = -dx, x += 2 * dx;
    if (y < 0 || y >= CANVAS_HEIGHT) dy = -dy, y += 2 * dy;
    xs->push_back(int16_t(x));
    ys->push_back(int16_t(y));
  }
}

float in_range(std::mt19937& rng, float low, float high) {
  return std::uniform_real_distribution<float>(low, high)(rng);
}

Message make_stroke(std::mt19937& rng, uint32_t tool) {
  std::vector<int16_t> xs, ys;
  make_path(rng, std::uniform_int_distribution<int>(30, 255)(rng), &xs, &ys);
  float r = in_range(rng, 0, 255), g = in_range(rng, 0, 255), b = in_range(rng, 0, 255);
  unsigned n = unsigned(xs.size());
  Message m;
  message_init(&m, tool);
  switch (tool) {
    case MSG_PEN: encode_pen(&m, 0, r, g, b, xs.data(), ys.data(), n); break;
    case MSG_PENCIL: encode_pencil(&m, 0, r, g, b, in_range(rng, 1.5f, 8), xs.data(), ys.data(), n); break;
    case MSG_BRUSH:
      encode_brush(&m, 0, r, g, b, in_range(rng, 1.7f, 12), in_range(rng, 1, 500), xs.data(),
                   ys.data(), n);
      break;
    case MSG_CHALK: encode_chalk(&m, 0, r, g, b, in_range(rng, 1.5f, 12), xs.data(), ys.data(), n); break;
    case MSG_SMUDGE:
      encode_smudge(&m, 0, in_range(rng, 1.7f, 12), in_range(rng, 1, 1000), xs.data(), ys.data(), n);
      break;
    case MSG_STAMP:
      encode_stamp(&m, 0, r, g, b, in_range(rng, 1.5f, 8), in_range(rng, 0, 100), xs.data(),
                   ys.data(), n);
      break;
  }
  return m;
}

// The same history on every run: the tools in turn, everything else drawn from a
// fixed-seed generator.
const History& mixed_history() {
  static History history;
  if (history.strokes.empty()) {
    std::mt19937 rng(20261206);
    for (int i = 0; i < HISTORY_STROKES; ++i)
      history.strokes.push_back(make_stroke(rng, TOOLS[i % 6]));
  }
  return history;
}


// Replays the strokes of one tool (or all of them when tool is negative), one
// by one or as one run.
void replay(benchmark::State& state, int tool, bool as_run = false) {
  const History& history = mixed_history();
  Image canvas;
  image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
  image_fill(&canvas, pack_pixel(232, 229, 227));
  std::vector<Message> strokes;
  double estimate = 0;  // microseconds, by the server's cost model
  for (const Message& m : history.strokes)
    if (tool < 0 || m.type == uint32_t(tool)) {
      strokes.push_back(m);
      estimate += draw_cost(int(m.type), m.begin, message_length(&m));
    }
  for (auto _ : state) {
    if (as_run)
      apply_commands(&canvas, strokes.data(), strokes.size());
    else
      for (Message& m : strokes) apply_command(&canvas, &m);
    benchmark::ClobberMemory();
  }
  double n = double(strokes.size());
  state.counters["strokes/s"] = benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate);
  // Shown with a unit prefix: "1.2m" is 1.2 ms per stroke.
  state.counters["time/stroke"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  // CPU time over the cost model's estimate: at most 1 when it never undercharges.
  state.counters["cpu/est"] = benchmark::Counter(
      estimate * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  image_destroy(&canvas);
}

void BM_ReplayMixedHistory(benchmark::State& state) { replay(state, -1, true); }
void BM_ReplayMixedHistoryOneByOne(benchmark::State& state) { replay(state, -1); }
void BM_ReplayTool(benchmark::State& state) { replay(state, int(state.range(0))); }

}  // namespace

BENCHMARK(BM_ReplayMixedHistory)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ReplayMixedHistoryOneByOne)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// Argument: the message type (0 pen, 1 pencil, 2 brush, 3 chalk, 4 smudge, 12 stamp).
BENCHMARK(BM_ReplayTool)
    ->ArgName("type")
    ->Arg(MSG_PEN)
    ->Arg(MSG_PENCIL)
    ->Arg(MSG_BRUSH)
    ->Arg(MSG_CHALK)
    ->Arg(MSG_SMUDGE)
    ->Arg(MSG_STAMP)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
