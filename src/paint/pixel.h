// Pixel packing and the per-pixel operations every renderer shares.
#pragma once
#include <allegro.h>
#include <cmath>
#include <cstdint>

// Packs channels at the library's 32-bit shifts, without masking the inputs.
inline uint32_t pack_pixel(int r, int g, int b) {
  return (static_cast<uint32_t>(r) << _rgb_r_shift_32) | (static_cast<uint32_t>(g) << _rgb_g_shift_32) |
         (static_cast<uint32_t>(b) << _rgb_b_shift_32);
}
inline int pixel_red(uint32_t p) { return static_cast<int>((p >> _rgb_r_shift_32) & 0xFF); }
inline int pixel_green(uint32_t p) { return static_cast<int>((p >> _rgb_g_shift_32) & 0xFF); }
inline int pixel_blue(uint32_t p) { return static_cast<int>((p >> _rgb_b_shift_32) & 0xFF); }

// Row y of a memory bitmap, for reading and writing its pixels in place (the
// library's line switching only hands back this pointer for such bitmaps).
inline uint32_t* bitmap_row(BITMAP* bmp, int y) { return reinterpret_cast<uint32_t*>(bmp->line[y]); }

// blendPixel on one pixel of a 32-bit memory bitmap, in place.
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

// The cell of a bilinear read at (x, y) on a w x h bitmap: the top-left pixel
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

// blendPixel on pixels x1..x2 of a row of a 32-bit memory bitmap; x1 > x2 blends nothing.
void blendRow(uint32_t* row, int x1, int x2, float r, float g, float b, float coverage);

// Coverage blend of one pixel; the caller guarantees 0 <= x < w, 0 <= y < h.
void blendPixel(BITMAP* bmp, int x, int y, float r, float g, float b, float coverage);

// Bilinear colour at a fractional position. Returns 1 and writes the three
// channels when the 2 x 2 neighbourhood lies on the bitmap, else 0 (outputs untouched).
int sampleBilinear(BITMAP* bmp, float x, float y, float* r, float* g, float* b);

// Mode-seeking average colour of the 9 x 9 window around (x, y).
void sampleColor(BITMAP* bmp, int16_t x, int16_t y, float* r, float* g, float* b);
