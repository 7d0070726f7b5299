// Screen composition: the picture centred in black bands or cropped, the copy
// of dirty rectangles to the screen, the pointer sprite.
#include "screen_fixture.h"
#include "test_support.h"

namespace {

// The picture centred in black bands, or its middle cropped; odd margins
// round the origin toward zero.
TEST_F(ScreenTest, PinnedCanvasViewsPerScreenSize) {
  BITMAP* canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  const struct {
    int w, h, ox, oy;
    uint64_t sum;
  } cases[] = {{1024, 768, 56, 42, 8324724363285540898u},
               {640, 480, -136, -102, 16962395109977237478u},
               {915, 687, 1, 1, 2638991143363986668u},
               {911, 683, 0, 0, 6944987987174536224u}};
  for (const auto& c : cases) {
    open_screen(c.w, c.h);
    EXPECT_EQ(c.ox, ox);
    EXPECT_EQ(c.oy, oy);
    labels_shown = true;
    draw_canvas_view(canvas);
    EXPECT_FALSE(labels_shown);
    EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(BackBuffer)) << c.w << " x " << c.h;
  }
  destroy_bitmap(canvas);
}

class Refresh : public ScreenTest {
 protected:
  BITMAP* dest = nullptr;
  void SetUp() override {
    ScreenTest::SetUp();
    dest = create_bitmap_ex(32, 1024, 768);
    clear_to_color(dest, makecol32(9, 9, 9));
    clear_to_color(BackBuffer, makecol32(200, 100, 50));
  }
  void TearDown() override {
    destroy_bitmap(dest);
    ScreenTest::TearDown();
  }
  long copied() {
    long n = 0;
    for (int y = 0; y < dest->h; ++y)
      for (int x = 0; x < dest->w; ++x)
        if (is_rgb(dest, x, y, 200, 100, 50)) ++n;
    return n;
  }
};

TEST_F(Refresh, CopiesOnlyTheDirtyRectanglesAndEmptiesTheList) {
  EXPECT_TRUE(add_dirty_rect(10, 20, 30, 40));
  EXPECT_TRUE(add_dirty_rect(DirtyRect{500, 600, 5, 5}));
  refresh_screen_to(dest);
  EXPECT_EQ(dirty_list.count, 0);
  EXPECT_EQ(copied(), 30L * 40 + 25);
  EXPECT_TRUE(is_rgb(dest, 10, 20, 200, 100, 50));
  EXPECT_TRUE(is_rgb(dest, 39, 59, 200, 100, 50));
  EXPECT_TRUE(is_rgb(dest, 40, 59, 9, 9, 9));
  EXPECT_TRUE(is_rgb(dest, 504, 604, 200, 100, 50));
  // Nothing left to copy on the next refresh.
  clear_to_color(dest, makecol32(9, 9, 9));
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 0);
}

TEST_F(Refresh, ThirtyThreeRectanglesMakeOneFullCopy) {
  for (int i = 0; i < DIRTY_LIST_CAPACITY; ++i) EXPECT_TRUE(add_dirty_rect(i, 0, 1, 1));
  EXPECT_FALSE(add_dirty_rect(100, 100, 1, 1));
  EXPECT_FALSE(add_dirty_rect(1, 1, 0, 0));  // even an empty one: the list is full
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 1024L * 768);
  EXPECT_EQ(dirty_list.count, 0);
  EXPECT_TRUE(add_dirty_rect(1, 1, 1, 1));
}

TEST_F(Refresh, WhileSwitchedAwayNothingIsCopiedAndMarkAllDirtyCopiesAllLater) {
  switched_away = true;
  add_dirty_rect(0, 0, 100, 100);
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 0);
  EXPECT_EQ(dirty_list.count, 0);
  switched_away = false;
  mark_all_dirty();
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 1024L * 768);
}

TEST(PointerOverlap, EdgesFollowTheCopyRule) {
  DirtyRect r{100, 100, 10, 10};
  EXPECT_TRUE(sprite_overlaps(105, 105, 6, 6, r));
  EXPECT_TRUE(sprite_overlaps(94, 94, 6, 6, r));    // right and bottom edges at the rectangle's corner
  EXPECT_FALSE(sprite_overlaps(93, 105, 6, 6, r));  // right edge short of the left edge
  EXPECT_TRUE(sprite_overlaps(109, 109, 6, 6, r));
  EXPECT_FALSE(sprite_overlaps(110, 105, 6, 6, r)); // left edge on the right edge
  EXPECT_FALSE(sprite_overlaps(105, 110, 6, 6, r));
}

TEST(ContrastColour, BlackAboveOneHundredTwentyElseWhite) {
  EXPECT_EQ(contrast_colour(200, 10, 10), makecol32(0, 0, 0));
  EXPECT_EQ(contrast_colour(10, 10, 121), makecol32(0, 0, 0));
  EXPECT_EQ(contrast_colour(120, 120, 120), makecol32(255, 255, 255));
  EXPECT_EQ(contrast_colour(100, 100, 100), makecol32(255, 255, 255));
}

// A cross in the colour over its shadow, the shadow in the contrast colour.
TEST_F(ScreenTest, PinnedPointerSprites) {
  const struct {
    float rgb[3];
    uint64_t sum;
  } cases[] = {{{200.9f, 30, 40}, 3381525340542763293u}, {{120, 120, 120}, 1725651925520749370u}};
  for (const auto& c : cases) {
    for (int k = 0; k < 3; ++k) current_rgb[k] = c.rgb[k];
    rebuild_cursor();
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(CursorSprite)) << c.rgb[0];
  }
  expect_rgb(CursorSprite, 0, 0, 255, 0, 255);
}

}  // namespace
