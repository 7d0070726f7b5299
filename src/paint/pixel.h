// Pixel packing and the per-pixel operations every renderer shares.
#pragma once
#include <cmath>
#include <cstdint>

#include "paint/image.h"

// Packs channels at the image's shifts, without masking the inputs.
inline uint32_t pack_pixel(int r, int g, int b) {
  return (static_cast<uint32_t>(r) << PIXEL_RED_SHIFT) | (static_cast<uint32_t>(g) << PIXEL_GREEN_SHIFT) |
         (static_cast<uint32_t>(b) << PIXEL_BLUE_SHIFT);
}
inline int pixel_red(uint32_t p) { return static_cast<int>((p >> PIXEL_RED_SHIFT) & 0xFF); }
inline int pixel_green(uint32_t p) { return static_cast<int>((p >> PIXEL_GREEN_SHIFT) & 0xFF); }
inline int pixel_blue(uint32_t p) { return static_cast<int>((p >> PIXEL_BLUE_SHIFT) & 0xFF); }

// blendPixel on one pixel, in place.
inline void blend_in_place(uint32_t* p, float r, float g, float b, float coverage) {
  if (coverage > 0.999f) {
    *p = pack_pixel(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
    return;
  }
  uint32_t old = *p;
  double keep = 1.0 - coverage;
  *p = pack_pixel(static_cast<int>(pixel_red(old) * keep + static_cast<double>(r) * coverage + 0.5),
                  static_cast<int>(pixel_green(old) * keep + static_cast<double>(g) * coverage + 0.5),
                  static_cast<int>(pixel_blue(old) * keep + static_cast<double>(b) * coverage + 0.5));
}

// The cell of a bilinear read at (x, y) on a w x h image: the top-left pixel
// of the 2 x 2 pixels and the fractions. 0 when those pixels are not all on it.
inline int bilinear_cell(float x, float y, int w, int h, int* x0, int* y0, float* fx, float* fy) {
  if (!(std::isfinite(x) && std::isfinite(y))) return 0;
  double fx0 = std::floor(x), fy0 = std::floor(y);
  if (!(fx0 >= 0 && fy0 >= 0 && fx0 + 1.0001 < w && fy0 + 1.0001 < h)) return 0;
  *x0 = static_cast<int>(fx0), *y0 = static_cast<int>(fy0);
  *fx = static_cast<float>(x - static_cast<double>(*x0));
  *fy = static_cast<float>(y - static_cast<double>(*y0));
  return 1;
}

// The colour between c00, c10 (top) and c01, c11 (bottom) at the fractions fx, fy.
inline void bilinear_mix(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, float fx, float fy, float* r,
                         float* g, float* b) {
  double w00 = (1.0 - fx) * (1.0 - fy), w10 = fx * (1.0 - fy);
  double w01 = (1.0 - fx) * static_cast<double>(fy), w11 = static_cast<double>(fx) * fy;
  *r = static_cast<float>(w00 * pixel_red(c00) + w10 * pixel_red(c10) + w01 * pixel_red(c01) + w11 * pixel_red(c11));
  *g = static_cast<float>(w00 * pixel_green(c00) + w10 * pixel_green(c10) + w01 * pixel_green(c01) +
                          w11 * pixel_green(c11));
  *b = static_cast<float>(w00 * pixel_blue(c00) + w10 * pixel_blue(c10) + w01 * pixel_blue(c01) +
                          w11 * pixel_blue(c11));
}

// Coverage blend of one pixel; the caller guarantees 0 <= x < w, 0 <= y < h.
void blendPixel(Image* image, int x, int y, float r, float g, float b, float coverage);

// Bilinear colour at a fractional position. Returns 1 and writes the three
// channels when the 2 x 2 neighbourhood lies on the image, else 0 (outputs untouched).
int sampleBilinear(const Image* image, float x, float y, float* r, float* g, float* b);

// Mode-seeking average colour of the 9 x 9 window around (x, y).
void sampleColor(const Image* image, int16_t x, int16_t y, float* r, float* g, float* b);
