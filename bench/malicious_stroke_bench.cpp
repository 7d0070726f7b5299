// The dearest command a peer can send each renderer: 255 points zigzagging
// between far corners at the largest sizes the wire can carry. Shapes:
//   0  corner to corner of the picture (every sample lands on it),
//   1  corner to corner of the range the server lets through (points a screen
//      of 8192 x 8192 pixels can yield),
//   2  corner to corner of the 16-bit range (refused by the server; what a
//      client fed directly would draw).
// Per segment the walk stops at 8192 samples, so a command costs at most
// 254 x 8192 samples whatever its coordinates.
#include <benchmark/benchmark.h>

#include "bench_stroke.h"
#include "paint/brush.h"
#include "paint/chalk.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stamp.h"

namespace {

template <class Draw>
void run_zigzag(benchmark::State& state, Draw draw) {
  BenchCanvas canvas;
  Zigzag z = zigzag(int(state.range(0)), 255);
  for (auto _ : state) {
    state.PauseTiming();
    canvas.restore();
    state.ResumeTiming();
    useCommandStream(12345);
    draw(canvas.work, z);
    useLocalStream();
    benchmark::ClobberMemory();
  }
}

// The largest value a scaled field carries.
constexpr float MAX_SCALED = 400.0f;

void BM_worstPen(benchmark::State& state) {
  run_zigzag(state, [](Image* bmp, const Zigzag& z) { drawPen(bmp, 255, 0, 0, z.x, z.y, z.n); });
}
void BM_worstPencil(benchmark::State& state) {
  run_zigzag(state, [](Image* bmp, const Zigzag& z) {
    drawPencil(bmp, 0, 0, 0, MAX_SCALED, z.x, z.y, z.n);
  });
}
void BM_worstBrush(benchmark::State& state) {
  float dryness = float(state.range(1));
  run_zigzag(state, [dryness](Image* bmp, const Zigzag& z) {
    drawBrush(bmp, 0, 0, 255, MAX_SCALED, dryness, z.x, z.y, z.n);
  });
}
void BM_worstChalk(benchmark::State& state) {
  run_zigzag(state, [](Image* bmp, const Zigzag& z) {
    drawChalk(bmp, 0, 128, 0, MAX_SCALED, z.x, z.y, z.n);
  });
}
void BM_worstSmudge(benchmark::State& state) {
  float strength = float(state.range(1));
  run_zigzag(state, [strength](Image* bmp, const Zigzag& z) {
    drawSmudge(bmp, MAX_SCALED, strength, z.x, z.y, z.n);
  });
}
void BM_worstStamp(benchmark::State& state) {
  run_zigzag(state, [](Image* bmp, const Zigzag& z) {
    drawStamp(bmp, 90, 10, 90, MAX_SCALED, 0, z.x, z.y, z.n);
  });
}

#define SHAPES DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
BENCHMARK(BM_worstPen)->SHAPES;
BENCHMARK(BM_worstPencil)->SHAPES;
BENCHMARK(BM_worstChalk)->SHAPES;
BENCHMARK(BM_worstStamp)->SHAPES;
#undef SHAPES
// Second argument: the brush's dryness and the smudge's strength, least and most.
#define SHAPES_AND(lo, hi)                                                                  \
  ArgsProduct({{0, 1, 2}, {lo, hi}})->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
BENCHMARK(BM_worstBrush)->SHAPES_AND(0, 400);
BENCHMARK(BM_worstSmudge)->SHAPES_AND(0, 400);
#undef SHAPES_AND

}  // namespace
