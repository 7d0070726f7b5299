// The bilinear deposit on the rows of an image, the smudge's read-and-blend
// and a colour's blend along a row, the plain way: one channel of one pixel at
// a time. The fast ways (splat_packed.h, splat_wide.h) give the same bits.
#pragma once
#include <cmath>
#include <cstdint>

#include "paint/pixel.h"

// Whether splatPoint's 2 x 2 pixels at (x, y) are all on the image.
inline bool splat_fits(const Image* image, float x, float y) {
  return x >= 0 && y >= 0 && x + 1.0001 < image->w && y + 1.0001 < image->h;
}

// The largest float x for which splat_fits holds on an image this wide (or
// high), as far as the edge goes; negative when none does.
inline float splat_limit(int size) {
  float x = static_cast<float>(size - 1.0001);
  while (!(x + 1.0001 < size)) x = std::nextafter(x, -INFINITY);
  while (std::nextafter(x, INFINITY) + 1.0001 < size) x = std::nextafter(x, INFINITY);
  return x;
}

// The rows and fractions of splatPoint's 2 x 2 pixels at (x, y), which fit.
inline void splat_cell_at(Image* image, float x, float y, uint32_t** top, uint32_t** bottom, float* fx, float* fy) {
  int ix = static_cast<int>(x), iy = static_cast<int>(y);
  *top = image_row(image, iy) + ix;
  *bottom = image_row(image, iy + 1) + ix;
  *fx = x - static_cast<float>(ix);
  *fy = y - static_cast<float>(iy);
}

// The rows and fractions of splatPoint's 2 x 2 pixels on an image;
// false when they are not all on it.
inline bool splat_cell(Image* image, float x, float y, uint32_t** top, uint32_t** bottom, float* fx, float* fy) {
  if (!splat_fits(image, x, y)) return false;
  splat_cell_at(image, x, y, top, bottom, fx, fy);
  return true;
}

// splatPoint's four blends on top[0], top[1], bottom[1], bottom[0], for the
// fractions fx, fy of the position.
inline void splat_rows(uint32_t* top, uint32_t* bottom, float fx, float fy, float r, float g, float b,
                       float weight) {
  blend_in_place(top, r, g, b, static_cast<float>((1.0 - fx) * (1.0 - fy) * weight));
  blend_in_place(top + 1, r, g, b, static_cast<float>(fx * (1.0 - fy) * weight));
  blend_in_place(bottom + 1, r, g, b, static_cast<float>(static_cast<double>(fx) * fy * weight));
  blend_in_place(bottom, r, g, b, static_cast<float>((1.0 - fx) * fy * weight));
}

// The bilinear colour of top[0], top[1], bottom[0], bottom[1] at the fractions
// fx, fy blended into *p: one pixel of a smudge.
inline void smear_rows(uint32_t* p, const uint32_t* top, const uint32_t* bottom, float fx, float fy, float coverage) {
  float r, g, b;
  bilinear_mix(top[0], top[1], bottom[0], bottom[1], fx, fy, &r, &g, &b);
  blend_in_place(p, r, g, b, coverage);
}

// A colour laid out once for blends in place.
struct RowInk {
  float r, g, b;
  uint32_t solid;
};

inline RowInk row_ink(float r, float g, float b) {
  return RowInk{r, g, b, pack_pixel(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b))};
}

// blend_in_place with the colour laid out.
inline void blend_ink_in_place(uint32_t* p, const RowInk& c, float coverage) {
  if (coverage > 0.999f) {
    *p = c.solid;
    return;
  }
  blend_in_place(p, c.r, c.g, c.b, coverage);
}

// blend_in_place on pixels x1..x2 of a row with the colour laid out; x1 > x2
// blends nothing.
inline void blend_row_ink(uint32_t* row, int x1, int x2, const RowInk& c, float coverage) {
  if (coverage > 0.999f) {
    for (int x = x1; x <= x2; ++x) row[x] = c.solid;
    return;
  }
  for (int x = x1; x <= x2; ++x) blend_in_place(row + x, c.r, c.g, c.b, coverage);
}
