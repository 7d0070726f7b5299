// Dirty rectangles: normalising, clipping to the screen and the full state.
#include <gtest/gtest.h>

#include <vector>

#include "ui/dirty_list.h"

// Each rectangle on an 800 x 600 screen, added alone and clipped in place: what
// remains of it, or nothing. An emptied rectangle keeps no size, so adding it
// later marks nothing (a negative width left behind would be normalised).
TEST(DirtyRects, NormalisedAndClippedToTheScreen) {
  const struct {
    int in[4];
    std::vector<int> out;
  } cases[] = {
      {{10, 10, 0, 5}, {}},
      {{10, 10, -5, 4}, {5, 10, 5, 4}},
      {{10, 10, 3, -4}, {10, 6, 3, 4}},
      {{-20, -5, 50, 10}, {0, 0, 30, 5}},
      {{790, 595, 30, 30}, {790, 595, 10, 5}},
      {{-50, 10, 50, 10}, {}},
      {{10, 600, 5, 5}, {}},
      {{1000, 10, 20, 20}, {}},
      {{805, 10, -10, 5}, {795, 10, 5, 5}},
      {{-5, 10, 6, 4}, {0, 10, 1, 4}},
      {{-50000, 0, 70000, 10}, {0, 0, 800, 10}},  // wider than the 16-bit fields
  };
  dirty_set_screen_size(800, 600);
  for (const auto& c : cases) {
    dirty_list_clear();
    std::vector<std::vector<int>> want, got;
    EXPECT_TRUE(add_dirty_rect(c.in[0], c.in[1], c.in[2], c.in[3]));
    if (!c.out.empty()) want.push_back(c.out);
    if (c.in[2] <= 32767) {  // the record fits: also clipped in place, then added
      DirtyRect r{int16_t(c.in[0]), int16_t(c.in[1]), int16_t(c.in[2]), int16_t(c.in[3])};
      EXPECT_EQ(!c.out.empty(), clip_dirty_rect(&r));
      EXPECT_TRUE(add_dirty_rect(r));
      if (!c.out.empty()) want.push_back(c.out);
    }
    for (int i = 0; i < dirty_list.count; ++i)
      got.push_back({dirty_list.rects[i].x, dirty_list.rects[i].y, dirty_list.rects[i].w, dirty_list.rects[i].h});
    EXPECT_EQ(want, got) << c.in[0] << "," << c.in[1] << " " << c.in[2] << " x " << c.in[3];
  }
  // A full list takes nothing more.
  mark_all_dirty();
  EXPECT_FALSE(add_dirty_rect(10, 10, 5, 5));
  dirty_list_clear();
}
