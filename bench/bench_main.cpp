// Runs the benchmarks with Allegro started headless, as the unit tests do.
#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "paint/image.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) {
    fprintf(stderr, "cannot start Allegro headless\n");
    return 1;
  }
  set_color_depth(32);
  // The 32-bit layout the client finds on a display of 24 or 32 bits.
  _rgb_r_shift_32 = PIXEL_RED_SHIFT;
  _rgb_g_shift_32 = PIXEL_GREEN_SHIFT;
  _rgb_b_shift_32 = PIXEL_BLUE_SHIFT;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
END_OF_MAIN()
