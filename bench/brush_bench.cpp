// The bristle brush and the smudge on the shared fixed stroke.
#include <benchmark/benchmark.h>

#include "bench_stroke.h"
#include "paint/brush.h"
#include "paint/random.h"
#include "paint/smudge.h"

namespace {

// One stroke per iteration over the same picture (restored untimed), drawn
// inside the command-stream bracket as a decoded command is.
template <class Draw>
void time_stroke(benchmark::State& state, Draw draw) {
  BenchCanvas canvas;
  const BenchStroke& s = bench_stroke();
  for (auto _ : state) {
    state.PauseTiming();
    canvas.restore();
    state.ResumeTiming();
    useCommandStream(0);
    seedRandom(2024);
    draw(canvas.work, s);
    useLocalStream();
    benchmark::ClobberMemory();
  }
}

void BM_drawBrush(benchmark::State& state) {
  float dryness = static_cast<float>(state.range(0));
  time_stroke(state, [dryness](BITMAP* bmp, const BenchStroke& s) {
    drawBrush(bmp, 150, 40, 30, 12, dryness, s.x, s.y, s.n);
  });
}
BENCHMARK(BM_drawBrush)->Arg(400)->Unit(benchmark::kMillisecond);

void BM_drawSmudge(benchmark::State& state) {
  float strength = static_cast<float>(state.range(0));
  time_stroke(state, [strength](BITMAP* bmp, const BenchStroke& s) {
    drawSmudge(bmp, 12, strength, s.x, s.y, s.n);
  });
}
BENCHMARK(BM_drawSmudge)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace
