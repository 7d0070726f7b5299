// The smudge's disc, row by row in the order of the drag: what the plain way
// (smudge.cpp) and the AVX2 way (smudge_wide.cpp) share.
#pragma once
#include <cmath>
#include <cstdint>

#include "paint/image.h"
#include "paint/splat_wide.h"
#include "paint/square_root.h"

// The image smudged, its size read once: the pixel writes could alias its
// fields, so the compiler would read them per pixel.
struct Surface {
  Image* image;
  int w, h;
  bool packed;  // the packed layout and a coverage the packed blend takes
};

// The first column of a row's walk, and where the walk stops: right to left
// when moving left (dx >= 0), left to right otherwise. Columns off the image
// change nothing, so the walk starts on it.
inline int first_column(float x, float half, float dx, int w, double* stop) {
  if (dx >= 0) {
    *stop = static_cast<double>(x) - half;
    int col = static_cast<int>(static_cast<double>(x) + half);
    return col > w - 1 ? w - 1 : col;
  }
  *stop = static_cast<double>(x) + half;
  int col = static_cast<int>(static_cast<double>(x) - half + 1);
  return col < 0 ? 0 : col;
}

// The disc's rows in the order of the drag.
// trim: pass over rows off the image and discs wholly left or right of it
// without working out their rows (the fast ways; the reference visits every
// row).
template <class Row>
void smudge_rows(const Surface& surface, Row&& run_row, float radius, float x, float y, float dy, bool trim) {
  float fy = static_cast<float>(static_cast<double>(y) - std::floor(static_cast<double>(y)));
  int R = static_cast<int>(std::floor(static_cast<double>(radius) + 0.5));
  int lo = 1 - R, hi = R;
  if (trim) {
    // A row's half width is at most R + 1.
    if (x + static_cast<double>(R) < -2 || x - static_cast<double>(R) > surface.w + 2) return;
    double top = std::floor(-static_cast<double>(y)) - 1, bottom = std::ceil(surface.h - static_cast<double>(y)) + 1;
    if (lo < top) lo = static_cast<int>(top);
    if (hi > bottom) hi = static_cast<int>(bottom);
    if (lo > hi) return;
  }
  // Moving down (dy < 0) visits rows top to bottom, otherwise bottom to top.
  int j = dy < 0 ? lo : hi;
  int j_end = dy < 0 ? hi + 1 : lo - 1;
  int j_step = dy < 0 ? 1 : -1;
  for (; j != j_end; j += j_step) {
    int row = static_cast<int>(j + static_cast<double>(y));
    if (row < 0 || row >= surface.h) continue;
    float t = static_cast<float>(j - static_cast<double>(fy));
    float s = static_cast<float>(static_cast<double>(radius) * radius -
                                 static_cast<double>(t) * t);
    if (s <= 0) continue;
    float half = static_cast<float>(static_cast<int>(std::floor(square_root(static_cast<double>(s)) + 0.5)));
    // The sampling row keeps the fraction of the sample's position.
    run_row(row, static_cast<float>(j + static_cast<double>(y) + dy), half);
  }
  run_row.finish();
}

#ifdef EASEL_WIDE
// The disc's rows with AVX2, for the packed layout (smudge_wide.cpp).
void smudge_rows_wide(const Surface& surface, float radius, float k, float x, float y, float dx, float dy);
#endif
