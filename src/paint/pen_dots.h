// The pen's dots laid by the AVX2 curve search itself (curve_proved_walk.cpp),
// a few samples behind the last, where their blends wait on no search and
// fill the time the searches wait. The pen hands them over with its walk
// (drawPen); the walk's visits lay the rest, in order.
#pragma once
#include "paint/splat_wide.h"
#ifdef EASEL_WIDE
#include "paint/image.h"

struct LaidDots {
  Image* image;
  WideInk ink;
  float x_max, y_max;  // splat_limit of the image's width and height
};

// Dots stay this many samples behind the last: their places are long known.
constexpr int DOTS_BEHIND = 16;

// splat_wide's dot, its place tested against the limits worked out once.
// Inlined: a call in the walk would store and reload every register it holds.
EASEL_WIDE_TARGET inline __attribute__((always_inline)) void lay_dot(const LaidDots& dots, float x, float y) {
  if (!(x >= 0 && y >= 0 && x <= dots.x_max && y <= dots.y_max)) return;
  uint32_t *top, *bottom;
  float fx, fy;
  splat_cell_at(dots.image, x, y, &top, &bottom, &fx, &fy);
  splat_rows_wide(top, bottom, fx, fy, dots.ink, 1.0f);
}
#endif
