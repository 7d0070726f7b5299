// Screen composition: the picture centred in black bands or cropped, the copy
// of dirty rectangles to the screen, the pointer sprite.
#include "screen_fixture.h"
#include "test_support.h"

namespace {

class ScreenView : public ScreenTest {
 protected:
  BITMAP* canvas = nullptr;
  void SetUp() override {
    ScreenTest::SetUp();
    canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  }
  void TearDown() override {
    destroy_bitmap(canvas);
    ScreenTest::TearDown();
  }
  // True when the screen pixel shows the canvas pixel (cx, cy).
  bool shows(int sx, int sy, int cx, int cy) {
    int a = getpixel(BackBuffer, sx, sy), b = getpixel(canvas, cx, cy);
    return getr32(a) == getr32(b) && getg32(a) == getg32(b) && getb32(a) == getb32(b);
  }
};

TEST_F(ScreenView, LargeScreenCentresPictureInBlackBands) {
  EXPECT_EQ(ox, 56);
  EXPECT_EQ(oy, 42);
  labels_shown = true;
  draw_canvas_view(canvas);
  EXPECT_FALSE(labels_shown);
  EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
  EXPECT_TRUE(shows(56, 42, 0, 0));
  EXPECT_TRUE(shows(56 + 911, 42 + 683, 911, 683));
  EXPECT_TRUE(shows(500, 400, 444, 358));
  long band_not_black = 0;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x)
      if (!(x >= 56 && x < 968 && y >= 42 && y < 726) && !is_rgb(BackBuffer, x, y, 0, 0, 0)) ++band_not_black;
  EXPECT_EQ(band_not_black, 0);
}

TEST_F(ScreenView, SmallScreenShowsTheMiddleCroppedWithoutBands) {
  open_screen(640, 480);
  EXPECT_EQ(ox, -136);
  EXPECT_EQ(oy, -102);
  draw_canvas_view(canvas);
  long wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      if (!shows(x, y, x + 136, y + 102)) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST_F(ScreenView, OddMarginsRoundTheOriginTowardZero) {
  open_screen(915, 687);
  EXPECT_EQ(ox, 1);
  EXPECT_EQ(oy, 1);
  draw_canvas_view(canvas);
  EXPECT_TRUE(shows(1, 1, 0, 0));
  expect_rgb(BackBuffer, 0, 300, 0, 0, 0);
  expect_rgb(BackBuffer, 913, 300, 0, 0, 0);
  expect_rgb(BackBuffer, 914, 686, 0, 0, 0);
  expect_rgb(BackBuffer, 300, 685, 0, 0, 0);
  open_screen(911, 683);
  EXPECT_EQ(ox, 0);  // -1 / 2 truncates toward zero
  EXPECT_EQ(oy, 0);
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

TEST_F(Refresh, NegativeSizesAreNormalisedAndEmptyOnesAddNothing) {
  EXPECT_TRUE(add_dirty_rect(10, 10, -5, 4));
  EXPECT_TRUE(add_dirty_rect(100, 100, 0, 50));
  EXPECT_TRUE(add_dirty_rect(100, 100, 50, 0));
  ASSERT_EQ(dirty_list.count, 1);
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 20);
  EXPECT_TRUE(is_rgb(dest, 5, 10, 200, 100, 50));
  EXPECT_TRUE(is_rgb(dest, 9, 13, 200, 100, 50));
  EXPECT_TRUE(is_rgb(dest, 10, 10, 9, 9, 9));
}

TEST_F(Refresh, RectanglesAreClippedToTheScreen) {
  EXPECT_TRUE(add_dirty_rect(-5, -5, 10, 10));       // top-left corner: 5 x 5 remain
  EXPECT_TRUE(add_dirty_rect(1020, 765, 10, 10));    // bottom-right: 4 x 3 remain
  EXPECT_TRUE(add_dirty_rect(-50, 10, 20, 20));      // wholly left: nothing
  EXPECT_TRUE(add_dirty_rect(10, 2000, 20, 20));     // wholly below: nothing
  EXPECT_EQ(dirty_list.count, 2);
  refresh_screen_to(dest);
  EXPECT_EQ(copied(), 25 + 12);
}

TEST_F(Refresh, ThirtyThreeRectanglesMakeOneFullCopy) {
  for (int i = 0; i < DIRTY_LIST_CAPACITY; ++i) EXPECT_TRUE(add_dirty_rect(i, 0, 1, 1));
  EXPECT_FALSE(add_dirty_rect(100, 100, 1, 1));
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

TEST_F(ScreenTest, PointerSpriteIsACrossInTheColourOverItsShadow) {
  current_rgb[0] = 200.9f;
  current_rgb[1] = 30;
  current_rgb[2] = 40;
  rebuild_cursor();
  const int magenta[][2] = {{0, 0}, {5, 5}}, colour[][2] = {{2, 2}, {0, 2}, {2, 4}, {2, 3}},
            shadow[][2] = {{5, 3}, {3, 5}, {1, 3}};  // (2, 3): the colour lies over the shadow
  for (auto& p : magenta) expect_rgb(CursorSprite, p[0], p[1], 255, 0, 255);
  for (auto& p : colour) expect_rgb(CursorSprite, p[0], p[1], 200, 30, 40);
  for (auto& p : shadow) expect_rgb(CursorSprite, p[0], p[1], 0, 0, 0);
  current_rgb[0] = current_rgb[1] = current_rgb[2] = 120;
  rebuild_cursor();
  expect_rgb(CursorSprite, 5, 3, 255, 255, 255);
  expect_rgb(CursorSprite, 3, 1, 255, 255, 255);
  expect_rgb(CursorSprite, 4, 2, 120, 120, 120);
}

}  // namespace
