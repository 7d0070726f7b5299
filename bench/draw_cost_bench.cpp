// Calibration of the drawing cost estimate (net/draw_cost.h): each command is
// drawn through apply_command, as a client draws it, and "cpu/est" is its CPU
// time over the estimate (1 when the estimate is exact, below 1 where it
// overcharges). Arguments: the message type, then
//   DrawCost:      the size (1, 5, 12: the renderers clamp it to their
//                  range) of a 64-point zigzag over the picture;
//   DrawCostWorst: the shape of the 255-point zigzag at the largest sizes
//                  (0 the picture's corners, 1 the range the server lets through).
#include <benchmark/benchmark.h>

#include "bench_stroke.h"
#include "net/command.h"
#include "net/draw_cost.h"
#include "net/message.h"

namespace {

Message command(int type, float size, const Zigzag& z) {
  // Driest brush, strongest smudge, stamps without a gap: the dearest settings.
  Message m;
  switch (type) {
    case MSG_PEN: encode_pen(&m, 1, 200, 30, 40, z.x, z.y, z.n); break;
    case MSG_PENCIL: encode_pencil(&m, 1, 20, 30, 40, size, z.x, z.y, z.n); break;
    case MSG_BRUSH: encode_brush(&m, 1, 20, 30, 240, size, 400, z.x, z.y, z.n); break;
    case MSG_CHALK: encode_chalk(&m, 1, 20, 130, 40, size, z.x, z.y, z.n); break;
    case MSG_SMUDGE: encode_smudge(&m, 1, size, 400, z.x, z.y, z.n); break;
    default: encode_stamp(&m, 1, 90, 10, 90, size, 0, z.x, z.y, z.n); break;
  }
  return m;
}

void run(benchmark::State& state, Message m) {
  BenchCanvas canvas;
  double estimate = draw_cost(int(m.type), m.begin, message_length(&m));
  for (auto _ : state) {
    state.PauseTiming();
    canvas.restore();
    state.ResumeTiming();
    apply_command(canvas.work, &m);
    benchmark::ClobberMemory();
  }
  state.counters["est_ms"] = estimate / 1000;
  state.counters["cpu/est"] = benchmark::Counter(
      estimate * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  message_free(&m);
}

void BM_DrawCost(benchmark::State& state) {
  run(state, command(int(state.range(0)), float(state.range(1)), zigzag(0, 64)));
}
void BM_DrawCostWorst(benchmark::State& state) {
  run(state, command(int(state.range(0)), 400, zigzag(int(state.range(1)), 255)));
}

#define TOOLS {MSG_PEN, MSG_PENCIL, MSG_BRUSH, MSG_CHALK, MSG_SMUDGE, MSG_STAMP}
BENCHMARK(BM_DrawCost)->ArgsProduct({TOOLS, {1, 5, 12}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawCostWorst)
    ->ArgsProduct({TOOLS, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
#undef TOOLS

}  // namespace
