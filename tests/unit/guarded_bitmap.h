// A drawing target inside a guard border: a sub-bitmap of a larger bitmap.
// A renderer that writes past the target's edges changes the border, which the
// sanitizers could not notice because it lies inside the same allocation.
#pragma once
#include <allegro.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "test_support.h"

namespace testsupport {

struct GuardedBitmap {
  static constexpr int GUARD_RGB[3] = {13, 200, 77};
  BITMAP* parent = nullptr;
  BITMAP* target = nullptr;  // the sub-bitmap renderers draw on
  int border = 0;

  // The target starts as make_pattern, or filled with fill when one is given.
  GuardedBitmap(int w, int h, int border_width, int fill = -1) : border(border_width) {
    parent = make_filled(w + 2 * border, h + 2 * border, GUARD_RGB[0], GUARD_RGB[1], GUARD_RGB[2]);
    target = create_sub_bitmap(parent, border, border, w, h);
    BITMAP* pattern = make_pattern(w, h);
    if (fill >= 0) clear_to_color(pattern, fill);
    blit(pattern, target, 0, 0, 0, 0, w, h);
    destroy_bitmap(pattern);
  }
  ~GuardedBitmap() {
    destroy_bitmap(target);
    destroy_bitmap(parent);
  }
  GuardedBitmap(const GuardedBitmap&) = delete;
  GuardedBitmap& operator=(const GuardedBitmap&) = delete;

  // Pixels of the border that are no longer the guard colour.
  long border_changes() const {
    const int guard = makecol32(GUARD_RGB[0], GUARD_RGB[1], GUARD_RGB[2]);
    long n = 0;
    for (int y = 0; y < parent->h; ++y)
      for (int x = 0; x < parent->w; ++x)
        if (is_inside_bitmap(target, x - border, y - border, 0) == 0 && getpixel(parent, x, y) != guard) ++n;
    return n;
  }
};

// A stroke as the renderers take it.
struct TestStroke {
  std::vector<int16_t> xs, ys;
  TestStroke(std::initializer_list<int> points) {
    for (auto it = points.begin(); it != points.end() && it + 1 != points.end(); it += 2) {
      xs.push_back(static_cast<int16_t>(*it));
      ys.push_back(static_cast<int16_t>(*(it + 1)));
    }
  }
  int n() const { return static_cast<int>(xs.size()); }
};

// Strokes at and across every edge and corner of a w x h target, along the
// edges, entirely outside, and at the extremes of the coordinate range.
inline std::vector<TestStroke> edge_strokes(int w, int h) {
  int r = w - 1, b = h - 1;
  return {
      {-30, h / 2, 25, h / 2 + 5},                 // across the left edge
      {r - 25, h / 3, r + 30, h / 3 + 4},           // across the right edge
      {w / 2, -30, w / 2 + 6, 25},                  // across the top edge
      {w / 3, b - 25, w / 3 - 5, b + 30},           // across the bottom edge
      {-20, -20, 20, 20, 40, 10},                   // through the top-left corner
      {r + 20, -20, r - 20, 20, r - 40, 5},         // through the top-right corner
      {-20, b + 20, 20, b - 20, 40, b - 5},         // through the bottom-left corner
      {r + 20, b + 20, r - 20, b - 20, r - 5, b - 40},  // through the bottom-right corner
      {0, 0, r, 0},                                 // along the top row
      {0, b, r, b},                                 // along the bottom row
      {0, 0, 0, b},                                 // along the left column
      {r, 0, r, b},                                 // along the right column
      {1, 1, r - 1, 1, r - 1, b - 1, 1, b - 1, 1, 1},  // one pixel inside all round
      {-60, -40, -10, -50, -30, -5},                // entirely outside
      {-32768, -32768, 32767, 32767},               // the whole coordinate range
      {32767, -32768, w / 2, h / 2, -32768, 32767},
  };
}

}  // namespace testsupport
