// Random source, paper reset and the pen, pencil, chalk and stamp renderers.
#include <benchmark/benchmark.h>

#include "bench_stroke.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/stamp.h"

namespace {

void BM_nextRandom(benchmark::State& state) {
  seedRandom(1);
  for (auto _ : state) benchmark::DoNotOptimize(nextRandom());
}
BENCHMARK(BM_nextRandom);

void BM_resetCanvas(benchmark::State& state) {
  if (!bench_background_absent(state)) return;
  Image canvas;
  image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (auto _ : state) {
    resetCanvas(&canvas);
    benchmark::ClobberMemory();
  }
  image_destroy(&canvas);
}
BENCHMARK(BM_resetCanvas)->Unit(benchmark::kMillisecond);

void BM_drawPen(benchmark::State& state) {
  run_stroke(state, [](Image* bmp, const BenchStroke& s) { drawPen(bmp, 20, 40, 160, s.x, s.y, s.n); });
}
BENCHMARK(BM_drawPen)->Unit(benchmark::kMillisecond);

void BM_drawPencil(benchmark::State& state) {
  float size = static_cast<float>(state.range(0));
  run_stroke(state, [size](Image* bmp, const BenchStroke& s) { drawPencil(bmp, 20, 40, 160, size, s.x, s.y, s.n); });
}
BENCHMARK(BM_drawPencil)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_drawChalk(benchmark::State& state) {
  float size = static_cast<float>(state.range(0));
  run_stroke(state, [size](Image* bmp, const BenchStroke& s) { drawChalk(bmp, 200, 120, 40, size, s.x, s.y, s.n); });
}
BENCHMARK(BM_drawChalk)->Arg(2)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_drawStamp(benchmark::State& state) {
  float size = static_cast<float>(state.range(0));
  run_stroke(state, [size](Image* bmp, const BenchStroke& s) { drawStamp(bmp, 90, 10, 90, size, 0, s.x, s.y, s.n); });
}
BENCHMARK(BM_drawStamp)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
