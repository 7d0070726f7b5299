// Images for the tests: checksums, comparisons and fresh pictures. Plain
// engine code, so that the WebAssembly build's test takes it too.
#pragma once
#include <cstdint>

#include "paint/image.h"

namespace testsupport {

// FNV-1a over bytes: a picture's size, then its channels.
struct ChannelChecksum {
  uint64_t h = 1469598103934665603ull;
  void mix(int v) {
    h ^= static_cast<uint64_t>(v & 0xFF);
    h *= 1099511628211ull;
  }
  void size(int w, int height) {
    mix(w);
    mix(w >> 8);
    mix(height);
    mix(height >> 8);
  }
};

// FNV-1a over the size and the unpacked red, green and blue channels of every
// pixel, row by row. Pinned values stay valid whatever layout holds them.
uint64_t image_checksum(const Image* image);

// Number of pixels whose colour differs between two images of the same size;
// -1 for different sizes.
long count_differences(const Image* a, const Image* b);

// True when both have the same size and the same colour in every pixel.
inline bool images_equal(const Image* a, const Image* b) { return count_differences(a, b) == 0; }

// A fresh image filled with one colour; free_image frees it.
Image* make_filled(int w, int h, int r, int g, int b);
// A fresh image with a fixed, non-uniform pattern (gradients and stripes).
Image* make_pattern(int w, int h);
void free_image(Image* image);

// The pixel at (x, y).
inline uint32_t pixel_at(const Image* image, int x, int y) { return image_row(image, y)[x]; }
// Pixels x0..x1 of rows y0..y1 set to pixel.
void fill_rect(Image* image, int x0, int y0, int x1, int y1, uint32_t pixel);

}  // namespace testsupport
