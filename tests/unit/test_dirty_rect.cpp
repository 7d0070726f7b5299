// Dirty rectangles: normalising, clipping to the screen and the full state.
#include <gtest/gtest.h>

#include "paint/dirty_rect.h"

namespace {

void expect_rect(const DirtyRect& r, int x, int y, int w, int h) {
  EXPECT_EQ(x, r.x);
  EXPECT_EQ(y, r.y);
  EXPECT_EQ(w, r.w);
  EXPECT_EQ(h, r.h);
}

class DirtyRects : public ::testing::Test {
 protected:
  void SetUp() override {
    dirty_set_screen_size(800, 600);
    dirty_list_clear();
  }
};

}  // namespace

TEST_F(DirtyRects, EmptyAndNegativeSizes) {
  EXPECT_TRUE(add_dirty_rect(10, 10, 0, 5));
  EXPECT_TRUE(add_dirty_rect(10, 10, 5, 0));
  EXPECT_EQ(0, dirty_list.count);
  EXPECT_TRUE(add_dirty_rect(10, 10, -5, 4));
  EXPECT_TRUE(add_dirty_rect(DirtyRect{10, 10, 3, -4}));
  ASSERT_EQ(2, dirty_list.count);
  expect_rect(dirty_list.rects[0], 5, 10, 5, 4);
  expect_rect(dirty_list.rects[1], 10, 6, 3, 4);
}

TEST_F(DirtyRects, ClippedToTheScreen) {
  EXPECT_TRUE(add_dirty_rect(-20, -5, 50, 10));   // partly above and left
  EXPECT_TRUE(add_dirty_rect(790, 595, 30, 30));  // partly right and below
  EXPECT_TRUE(add_dirty_rect(-50, 10, 50, 10));   // wholly left
  EXPECT_TRUE(add_dirty_rect(10, 600, 5, 5));     // wholly below
  EXPECT_TRUE(add_dirty_rect(805, 10, -10, 5));   // normalised, then cut to 795..799
  EXPECT_TRUE(add_dirty_rect(-50000, 0, 70000, 10));  // wider than the 16-bit fields
  ASSERT_EQ(4, dirty_list.count);
  expect_rect(dirty_list.rects[0], 0, 0, 30, 5);
  expect_rect(dirty_list.rects[1], 790, 595, 10, 5);
  expect_rect(dirty_list.rects[2], 795, 10, 5, 5);
  expect_rect(dirty_list.rects[3], 0, 0, 800, 10);
}

TEST_F(DirtyRects, ClipInPlaceEmptiesWhatIsClippedAway) {
  DirtyRect r{700, 500, 300, 200};
  EXPECT_TRUE(clip_dirty_rect(&r));
  expect_rect(r, 700, 500, 100, 100);

  // Left as it was after the failed test, a later add would normalise the
  // negative width and mark a visible area; an emptied rectangle adds nothing.
  DirtyRect gone{1000, 10, 20, 20};
  EXPECT_FALSE(clip_dirty_rect(&gone));
  EXPECT_EQ(0, gone.w);
  EXPECT_EQ(0, gone.h);
  EXPECT_TRUE(add_dirty_rect(gone));
  EXPECT_EQ(0, dirty_list.count);
}
