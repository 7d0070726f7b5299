// Helpers shared by the unit tests.
#pragma once
#include <allegro.h>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "paint/image.h"
#include "test_images.h"

namespace testsupport {

// image_checksum over a bitmap, read through the library.
uint64_t bitmap_checksum(BITMAP* bmp);

// count_differences and images_equal for bitmaps.
long count_differences(BITMAP* a, BITMAP* b);
inline bool bitmaps_equal(BITMAP* a, BITMAP* b) { return count_differences(a, b) == 0; }

// A fresh 32-bit bitmap filled with one colour.
BITMAP* make_filled_bitmap(int w, int h, int r, int g, int b);

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
