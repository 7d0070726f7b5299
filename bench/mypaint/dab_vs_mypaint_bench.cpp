// softDisc against the round dabs of libmypaint, side by side in one run:
// solid dabs of the same radii at the same positions on a 912 x 684 surface,
// libmypaint flushed every 64 dabs (its dabs are queued per tile and drawn
// when the atomic section ends). libmypaint runs on one thread, as we do.
#include <benchmark/benchmark.h>
#include <mypaint-fixed-tiled-surface.h>
#include <time.h>

#include <random>
#include <vector>

#include "paint/canvas.h"
#include "paint/disc.h"
#include "paint/pixel.h"

// From the OpenMP runtime that libmypaint links.
extern "C" void omp_set_num_threads(int);

namespace {

constexpr int DABS = 4096;
constexpr int FLUSH_EVERY = 64;

double thread_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Dab {
  float x, y, r, g, b;
};

std::vector<Dab> dab_positions() {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<Dab> dabs(DABS);
  for (Dab& d : dabs) d = Dab{u(rng) * CANVAS_WIDTH, u(rng) * CANVAS_HEIGHT, u(rng), u(rng), u(rng)};
  return dabs;
}

void BM_softDiscVsMyPaint(benchmark::State& state) {
  float radius = static_cast<float>(state.range(0)) / 10.0f;
  omp_set_num_threads(1);
  std::vector<Dab> dabs = dab_positions();
  Image canvas;
  image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT);
  image_fill(&canvas, pack_pixel(232, 229, 227));
  MyPaintFixedTiledSurface* tiled = mypaint_fixed_tiled_surface_new(CANVAS_WIDTH, CANVAS_HEIGHT);
  MyPaintSurface* surface = reinterpret_cast<MyPaintSurface*>(tiled);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    double t0 = thread_seconds();
    for (const Dab& d : dabs) softDisc(&canvas, d.x, d.y, d.r * 255, d.g * 255, d.b * 255, 1.0f, radius);
    benchmark::ClobberMemory();
    double t1 = thread_seconds();
    for (int i = 0; i < DABS; i += FLUSH_EVERY) {
      mypaint_surface_begin_atomic(surface);
      for (int k = i; k < i + FLUSH_EVERY; ++k) {
        const Dab& d = dabs[k];
        mypaint_surface_draw_dab(surface, d.x, d.y, radius, d.r, d.g, d.b, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f,
                                 0.0f, 0.0f);
      }
      MyPaintRectangle roi;
      mypaint_surface_end_atomic(surface, &roi);
    }
    double t2 = thread_seconds();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  double n = static_cast<double>(DABS) * state.iterations();
  state.counters["ours_dabs/s"] = n / ours;
  state.counters["mypaint_dabs/s"] = n / theirs;
  state.counters["ratio"] = theirs / ours;
  mypaint_surface_unref(surface);
  image_destroy(&canvas);
}

}  // namespace

// Argument: the radius in tenths of a pixel.
BENCHMARK(BM_softDiscVsMyPaint)->ArgName("radius_x10")->Arg(15)->Arg(35)->Arg(80)->Arg(120)->Unit(benchmark::kMillisecond);
