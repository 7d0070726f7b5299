// Pixel packing and the per-pixel operations every renderer shares.
#pragma once
#include <allegro.h>
#include <cstdint>

// Packs channels at the library's 32-bit shifts, without masking the inputs.
uint32_t pack_pixel(int r, int g, int b);
int pixel_red(uint32_t p);
int pixel_green(uint32_t p);
int pixel_blue(uint32_t p);

// Coverage blend of one pixel; the caller guarantees 0 <= x < w, 0 <= y < h.
void blendPixel(BITMAP* bmp, int x, int y, float r, float g, float b, float coverage);

// Bilinear colour at a fractional position. Returns 1 and writes the three
// channels when the 2 x 2 neighbourhood lies on the bitmap, else 0 (outputs untouched).
int sampleBilinear(BITMAP* bmp, float x, float y, float* r, float* g, float* b);

// Mode-seeking average colour of the 9 x 9 window around (x, y).
void sampleColor(BITMAP* bmp, int16_t x, int16_t y, float* r, float* g, float* b);
