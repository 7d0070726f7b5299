// Helpers shared by the unit tests.
#pragma once
#include <allegro.h>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "paint/image.h"

namespace testsupport {

// FNV-1a over the size and the unpacked red, green and blue channels of every
// pixel, row by row. Pinned values stay valid whatever layout holds them.
uint64_t image_checksum(const Image* image);
// The same over a bitmap, read through the library.
uint64_t bitmap_checksum(BITMAP* bmp);

// Number of pixels whose colour differs between two images or bitmaps of the
// same size; -1 for different sizes.
long count_differences(const Image* a, const Image* b);
long count_differences(BITMAP* a, BITMAP* b);

// True when both have the same size and the same colour in every pixel.
inline bool images_equal(const Image* a, const Image* b) { return count_differences(a, b) == 0; }
inline bool bitmaps_equal(BITMAP* a, BITMAP* b) { return count_differences(a, b) == 0; }

// A fresh image filled with one colour; free_image frees it.
Image* make_filled(int w, int h, int r, int g, int b);
// A fresh image with a fixed, non-uniform pattern (gradients and stripes).
Image* make_pattern(int w, int h);
void free_image(Image* image);
// A fresh 32-bit bitmap filled with one colour.
BITMAP* make_filled_bitmap(int w, int h, int r, int g, int b);

// The pixel at (x, y).
inline uint32_t pixel_at(const Image* image, int x, int y) { return image_row(image, y)[x]; }
// Pixels x0..x1 of rows y0..y1 set to pixel.
void fill_rect(Image* image, int x0, int y0, int x1, int y1, uint32_t pixel);

// A stroke as the renderers take it, from x, y pairs.
struct TestStroke {
  std::vector<int16_t> xs, ys;
  TestStroke(std::initializer_list<int> points) {
    for (auto it = points.begin(); it != points.end() && it + 1 != points.end(); it += 2) {
      xs.push_back(static_cast<int16_t>(it[0]));
      ys.push_back(static_cast<int16_t>(it[1]));
    }
  }
  int n() const { return static_cast<int>(xs.size()); }
};

// Makes a new empty directory under the system's temporary folder and changes
// into it; the destructor changes back and removes it.
struct TempDir {
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string path_, previous_;
};

}  // namespace testsupport
