// Shared inputs of the renderer benchmarks: one fixed 255-point stroke across
// the canvas and a canvas that is put back to the same picture before each run.
#pragma once
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "paint/canvas.h"
#include "paint/random.h"

struct BenchStroke {
  static constexpr int POINTS = 255;
  int16_t x[POINTS];
  int16_t y[POINTS];
  int n = POINTS;
};

// A wavy left-to-right sweep over the whole width, about 3 to 4 pixels between
// points like a quick mouse movement, with a few sharper turns.
inline const BenchStroke& bench_stroke() {
  static BenchStroke s = [] {
    BenchStroke b;
    for (int k = 0; k < BenchStroke::POINTS; ++k) {
      b.x[k] = static_cast<int16_t>(20 + k * 870 / (BenchStroke::POINTS - 1));
      b.y[k] = static_cast<int16_t>(342 + std::lround(260 * std::sin(k * 0.05) + 30 * std::sin(k * 0.6)));
    }
    return b;
  }();
  return s;
}

// A reset canvas and a working copy; restore() puts the copy back.
struct BenchCanvas {
  Image pristine_image, work_image;
  Image* pristine = &pristine_image;
  Image* work = &work_image;
  BenchCanvas() {
    image_create(pristine, CANVAS_WIDTH, CANVAS_HEIGHT);
    image_create(work, CANVAS_WIDTH, CANVAS_HEIGHT);
    resetCanvas(pristine);
    restore();
  }
  ~BenchCanvas() {
    image_destroy(work);
    image_destroy(pristine);
  }
  BenchCanvas(const BenchCanvas&) = delete;
  BenchCanvas& operator=(const BenchCanvas&) = delete;
  void restore() { image_copy_all(pristine, work); }
};

// Benchmarks of the reset measure the generated paper, not a "bg.bmp" copy.
inline bool bench_background_absent(benchmark::State& state) {
  if (FILE* f = std::fopen("bg.bmp", "rb")) {
    std::fclose(f);
    state.SkipWithError("bg.bmp in the working directory: the paper would not be generated");
    return false;
  }
  return true;
}

// Runs one renderer on the fixed stroke inside the command-stream bracket,
// the canvas restored (untimed) before each run.
template <class Draw>
inline void run_stroke(benchmark::State& state, Draw draw) {
  BenchCanvas canvas;
  const BenchStroke& s = bench_stroke();
  for (auto _ : state) {
    state.PauseTiming();
    canvas.restore();
    state.ResumeTiming();
    useCommandStream(0);
    seedRandom(12345);
    draw(canvas.work, s);
    useLocalStream();
    benchmark::ClobberMemory();
  }
}

struct Zigzag {
  int16_t x[255];
  int16_t y[255];
  int n = 255;
};

// 255 points at most, alternating between far corners of the picture (shape
// 0), of the range the server lets through (1) or of the 16-bit range (2).
inline Zigzag zigzag(int shape, int n) {
  // Corners as (left, top, right, bottom).
  static const int corners[3][4] = {
      {0, 0, 911, 683},
      {-3640, -3754, 4551, 4437},
      {-32767, -32767, 32767, 32767},
  };
  const int* c = corners[shape];
  Zigzag z;
  z.n = n;
  for (int k = 0; k < z.n; ++k) {
    // Both diagonals in turn, so the curves swing through the picture.
    switch (k % 4) {
      case 0: z.x[k] = int16_t(c[0]); z.y[k] = int16_t(c[1]); break;
      case 1: z.x[k] = int16_t(c[2]); z.y[k] = int16_t(c[3]); break;
      case 2: z.x[k] = int16_t(c[2]); z.y[k] = int16_t(c[1]); break;
      default: z.x[k] = int16_t(c[0]); z.y[k] = int16_t(c[3]); break;
    }
  }
  return z;
}
