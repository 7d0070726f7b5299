// Helpers shared by the unit tests.
#pragma once
#include <allegro.h>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// FNV-1a over the unpacked red, green and blue channels of every pixel, row by
// row. Pinned values stay valid whatever channel shifts the driver reports.
uint64_t bitmap_checksum(BITMAP* bmp);

// Number of pixels whose colour differs between two bitmaps of the same size.
long count_differences(BITMAP* a, BITMAP* b);

// True when both bitmaps have the same size and the same colour in every pixel.
inline bool bitmaps_equal(BITMAP* a, BITMAP* b) { return count_differences(a, b) == 0; }

// A fresh 32-bit bitmap filled with one colour.
BITMAP* make_filled(int w, int h, int r, int g, int b);

// A fresh 32-bit bitmap with a fixed, non-uniform pattern (gradients and stripes).
BITMAP* make_pattern(int w, int h);

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
