// The bristle brush and the smudge on the shared fixed stroke.
#include <benchmark/benchmark.h>

#include "bench_stroke.h"
#include "paint/brush.h"
#include "paint/smudge.h"

namespace {

void BM_drawBrush(benchmark::State& state) {
  float dryness = static_cast<float>(state.range(0));
  run_stroke(state, [dryness](Image* bmp, const BenchStroke& s) {
    drawBrush(bmp, 150, 40, 30, 12, dryness, s.x, s.y, s.n);
  });
}
BENCHMARK(BM_drawBrush)->Arg(400)->Unit(benchmark::kMillisecond);

void BM_drawSmudge(benchmark::State& state) {
  float strength = static_cast<float>(state.range(0));
  run_stroke(state, [strength](Image* bmp, const BenchStroke& s) {
    drawSmudge(bmp, 12, strength, s.x, s.y, s.n);
  });
}
BENCHMARK(BM_drawSmudge)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace
