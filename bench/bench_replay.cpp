// Replay speed of a board's history: what a user waits for after joining a busy
// board. A generated mixed history of 2,000 strokes (mixed_history.h) is
// decoded and drawn onto a canvas as one run on both cores, as the client does
// with the commands that follow its login (wall time), and one by one with
// apply_command, the fast ways and the reference ways.
#include <benchmark/benchmark.h>

#include <vector>

#include "net/command.h"
#include "net/command_run.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "mixed_history.h"
#include "paint/canvas.h"
#include "paint/engine_paths.h"
#include "paint/pixel.h"
#include "paint/random.h"

namespace {

struct History {
  std::vector<Message> strokes;
  ~History() {
    for (Message& m : strokes) message_free(&m);
  }
};

// The same history on every run (its seeds from a fresh local stream).
const History& mixed_history() {
  static History history;
  if (history.strokes.empty()) {
    random_reset();
    make_mixed_history(&history.strokes);
  }
  return history;
}

// Replays the strokes of one tool (or all of them when tool is negative), one
// by one or as one run, the engine's fast ways or its reference ways.
void replay(benchmark::State& state, int tool, bool as_run = false, EnginePaths paths = ENGINE_FAST) {
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
  engine_set_paths(paths);
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
  engine_paths_reset();
  image_destroy(&canvas);
}

void BM_ReplayMixedHistory(benchmark::State& state) { replay(state, -1, true); }
void BM_ReplayMixedHistoryOneByOne(benchmark::State& state) { replay(state, -1); }
void BM_ReplayMixedHistoryReference(benchmark::State& state) { replay(state, -1, false, ENGINE_REFERENCE); }
void BM_ReplayTool(benchmark::State& state) { replay(state, int(state.range(0))); }

}  // namespace

BENCHMARK(BM_ReplayMixedHistory)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ReplayMixedHistoryOneByOne)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// The reference ways one by one: what the WebAssembly build's test compares with.
BENCHMARK(BM_ReplayMixedHistoryReference)->Unit(benchmark::kMillisecond)->MinTime(2.0);
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
