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

// The dirty rectangles are copied and the list emptied; a full list (the
// 33rd is refused, even an empty one) copies the whole screen; while switched
// away nothing is copied until everything is marked dirty again.
TEST_F(ScreenTest, RefreshCopiesTheDirtyRectanglesTheWholeScreenOrNothing) {
  using testsupport::bitmap_checksum;
  BITMAP* dest = testsupport::make_filled(1024, 768, 9, 9, 9);
  const uint64_t untouched = bitmap_checksum(dest);
  clear_to_color(BackBuffer, makecol32(200, 100, 50));
  EXPECT_TRUE(add_dirty_rect(10, 20, 30, 40));
  EXPECT_TRUE(add_dirty_rect(DirtyRect{500, 600, 5, 5}));
  refresh_screen_to(dest);
  EXPECT_EQ(bitmap_checksum(dest), 3964640347523446871u);
  EXPECT_EQ(dirty_list.count, 0);
  for (int i = 0; i < DIRTY_LIST_CAPACITY; ++i) EXPECT_TRUE(add_dirty_rect(i, 0, 1, 1));
  EXPECT_FALSE(add_dirty_rect(100, 100, 1, 1));
  EXPECT_FALSE(add_dirty_rect(1, 1, 0, 0));
  refresh_screen_to(dest);
  EXPECT_TRUE(testsupport::bitmaps_equal(dest, BackBuffer));
  EXPECT_EQ(dirty_list.count, 0);
  clear_to_color(dest, makecol32(9, 9, 9));
  switched_away = true;
  EXPECT_TRUE(add_dirty_rect(0, 0, 100, 100));
  refresh_screen_to(dest);
  EXPECT_EQ(dirty_list.count, 0);
  switched_away = false;
  refresh_screen_to(dest);
  EXPECT_EQ(bitmap_checksum(dest), untouched);
  mark_all_dirty();
  refresh_screen_to(dest);
  EXPECT_TRUE(testsupport::bitmaps_equal(dest, BackBuffer));
  destroy_bitmap(dest);
}

// A cross in the colour over its shadow, the shadow in the contrast colour:
// black where the brightest channel is above 120, else white. The pointer is
// hidden for a copy whose rectangle its edges touch.
TEST_F(ScreenTest, PinnedPointerSpritesTheirShadowColourAndOverlap) {
  const struct {
    float rgb[3];
    uint64_t sum;
  } cases[] = {{{200.9f, 30, 40}, 3381525340542763293u}, {{120, 120, 120}, 1725651925520749370u}};
  for (const auto& c : cases) {
    for (int k = 0; k < 3; ++k) current_rgb[k] = c.rgb[k];
    rebuild_cursor();
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(CursorSprite)) << c.rgb[0];
  }
  EXPECT_EQ(contrast_colour(10, 10, 121), makecol32(0, 0, 0));
  EXPECT_EQ(contrast_colour(10, 121, 10), makecol32(0, 0, 0));
  DirtyRect r{100, 100, 10, 10};
  EXPECT_TRUE(sprite_overlaps(94, 94, 6, 6, r));    // right and bottom edges at its corner
  EXPECT_FALSE(sprite_overlaps(93, 105, 6, 6, r));  // right edge short of the left edge
  EXPECT_TRUE(sprite_overlaps(109, 109, 6, 6, r));
  EXPECT_FALSE(sprite_overlaps(110, 105, 6, 6, r));  // left edge on the right edge
  EXPECT_FALSE(sprite_overlaps(105, 110, 6, 6, r));
}

}  // namespace
