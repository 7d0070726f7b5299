// A soft disc's rows: each a span and two soft ends (the plain way, and the
// pieces the AVX2 way in disc_wide.cpp shares).
#pragma once
#include <cmath>

#include "paint/splat.h"
#include "paint/splat_packed.h"
#include "paint/splat_wide.h"
#include "paint/square_root.h"

// Coverage of a row's end pixel whose centre offset from the disc centre is (e, t).
inline float end_coverage(float e, float t, float radius, float coverage) {
  float q = static_cast<float>(static_cast<double>(e) * e + static_cast<double>(t) * t);
  if (!(q > 0)) return 0.0f;
  float dist = static_cast<float>(square_root(static_cast<double>(q)) - radius);
  if (dist < -1) return coverage;
  if (dist < 0) return static_cast<float>(static_cast<double>(coverage) * -dist);
  return 0.0f;
}

// The image's rows, written in place: the colour is laid out once per disc
// (a RowInk for the plain blends, a PackedRowInk for the packed ones). WIDE:
// spans take the AVX2 blend.
template <class Ink, bool WIDE = false>
struct MemoryRows {
  Image* image;
  Ink ink;
  float coverage;
  void span(int row, int x1, int x2) const {
    if (!(coverage > 0.005f)) return;
    if (x1 < 0) x1 = 0;
    if (x2 > image->w - 1) x2 = image->w - 1;
#ifdef EASEL_WIDE
    if constexpr (WIDE) {
      blend_row_wide(image_row(image, row), x1, x2, ink, coverage);
      return;
    }
#endif
    blend_row_ink(image_row(image, row), x1, x2, ink, coverage);
  }
  void end(int row, int x, float cov) const {
    if (cov > 0.005f && x >= 0 && x < image->w) blend_ink_in_place(image_row(image, row) + x, ink, cov);
  }
};

// The rows first..last of a disc, each as a span and its two soft ends.
template <class Rows>
void disc_rows(const Rows& out, int h, float cx, float cy, float radius, float coverage, int first, int last) {
  float fx = cx - std::floor(cx), fy = cy - std::floor(cy);
  const double rr = static_cast<double>(radius) * radius;
  for (int j = first; j <= last; ++j) {
    float t = static_cast<float>(j - static_cast<double>(fy));
    float s = static_cast<float>(rr - static_cast<double>(t) * t);
    if (s <= 0) continue;
    // The floor of a positive number: truncation gives it.
    int half = static_cast<int>(square_root(static_cast<double>(s)) + 0.5);
    int row = static_cast<int>(j + static_cast<double>(cy));
    if (row < 0 || row >= h) continue;
    out.span(row, static_cast<int>(cx - static_cast<double>(half) + 2),
             static_cast<int>(cx + static_cast<double>(half) - 1));
    out.end(row, static_cast<int>(cx - static_cast<double>(half) + 1),
            end_coverage(static_cast<float>((1.0 - half) - fx), t, radius, coverage));
    if (half != 0)
      out.end(row, static_cast<int>(cx + static_cast<double>(half)),
              end_coverage(static_cast<float>(static_cast<double>(half) - fx), t, radius, coverage));
  }
}

#ifdef EASEL_WIDE
// disc_rows with AVX2, four rows' numbers at a time (disc_wide.cpp).
void disc_rows_wide(const MemoryRows<PackedRowInk, true>& out, int h, float cx, float cy, float radius,
                    float coverage, int first, int last);
#endif
