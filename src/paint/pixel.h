// Pixel packing and the per-pixel operations every renderer shares.
#pragma once
#include <allegro.h>
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

// blendPixel on pixels x1..x2 of a row of a 32-bit memory bitmap; x1 > x2 blends nothing.
void blendRow(uint32_t* row, int x1, int x2, float r, float g, float b, float coverage);

// Coverage blend of one pixel; the caller guarantees 0 <= x < w, 0 <= y < h.
void blendPixel(BITMAP* bmp, int x, int y, float r, float g, float b, float coverage);

// Bilinear colour at a fractional position. Returns 1 and writes the three
// channels when the 2 x 2 neighbourhood lies on the bitmap, else 0 (outputs untouched).
int sampleBilinear(BITMAP* bmp, float x, float y, float* r, float* g, float* b);

// Mode-seeking average colour of the 9 x 9 window around (x, y).
void sampleColor(BITMAP* bmp, int16_t x, int16_t y, float* r, float* g, float* b);
