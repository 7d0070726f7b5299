// Screen composition: the picture centred in black bands or cropped, the copy
// of dirty rectangles to the screen, the pointer sprite, the busy bar.
#include <string>

#include "app/busy_indicator.h"
#include "app/session.h"
#include "net/link.h"
#include "screen_fixture.h"
#include "test_support.h"

namespace {

using testsupport::bitmap_checksum;

// The picture centred in black bands, or its middle cropped; odd margins
// round the origin toward zero.
TEST_F(ScreenTest, PinnedCanvasViewsPerScreenSize) {
  BITMAP* canvas = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  const struct {
    int w, h;
    uint64_t sum;
  } cases[] = {{1024, 768, 8324724363285540898u},
               {640, 480, 16962395109977237478u},
               {915, 687, 2638991143363986668u},
               {911, 683, 6944987987174536224u}};
  for (const auto& c : cases) {
    open_screen(c.w, c.h);
    labels_shown = true;
    draw_canvas_view(canvas);
    EXPECT_FALSE(labels_shown);
    EXPECT_EQ(dirty_list.count, DIRTY_LIST_CAPACITY);
    EXPECT_EQ(c.sum, bitmap_checksum(BackBuffer)) << c.w << " x " << c.h;
  }
  destroy_bitmap(canvas);
}

// The dirty rectangles are copied and the list emptied; a full list (the
// 33rd is refused, even an empty one) copies the whole screen; while switched
// away nothing is copied until everything is marked dirty again.
TEST_F(ScreenTest, RefreshCopiesTheDirtyRectanglesTheWholeScreenOrNothing) {
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
    EXPECT_EQ(c.sum, bitmap_checksum(CursorSprite)) << c.rgb[0];
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

// Makes the queue hold n entries (payload-less messages).
void pend(int n) {
  Message m;
  message_init(&m, MSG_PEN);
  while (queue_count(&command_queue) < n) queue_push(&command_queue, &m);
  while (queue_count(&command_queue) > n) queue_pop(&command_queue, &m);
}
// Runs n frames of the busy bar; '#' for each that drew.
std::string busy_frames(int n) {
  std::string drawn;
  for (int i = 0; i < n; ++i) {
    dirty_list_clear();
    busy_indicator_step();
    drawn += dirty_list.count ? '#' : '.';
  }
  return drawn;
}

// The busy bar: nothing while offline. The counter runs 1..49; the red and
// black bands move one step every fifth frame, the first drawn on the sixth;
// arriving data redraws at once. Erased once when the queue empties, and
// nothing while idle: in black above the picture, from the picture where it
// reaches the top of the screen.
TEST_F(ScreenTest, BusyBarMovesEveryFifthBusyFrameOrWhenDataArrivesAndIsErasedOnce) {
  net_available = true;
  pend(1);
  EXPECT_EQ(busy_frames(20), std::string(20, '.'));
  connected = true;
  EXPECT_EQ(busy_frames(6), ".....#");
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{482, 1, 60, 4}));
  EXPECT_EQ(bitmap_checksum(BackBuffer), 17786350333122086514u);
  EXPECT_EQ(busy_frames(40), "....#....#....#....#....#....#....#....#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 3655300269410365810u);
  EXPECT_EQ(busy_frames(52), "........#....#....#....#....#....#....#....#....#...");
  EXPECT_EQ(busy_counter, 49);
  received_this_frame = true;
  EXPECT_EQ(busy_frames(1), "#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 11755040053636967986u);
  const struct {
    int w, h;
    uint64_t sum;
  } cases[] = {{1024, 768, 11404660258152073106u},
               {800, 686, 7821495452000257786u},
               {800, 600, 13242589941333146220u}};
  BITMAP* pattern = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  for (const auto& c : cases) {
    open_screen(c.w, c.h);
    blit(pattern, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    pend(1);
    busy_frames(6);
    pend(0);
    EXPECT_EQ(busy_frames(3), "#..");
    EXPECT_EQ(bitmap_checksum(BackBuffer), c.sum) << c.h;
  }
  destroy_bitmap(pattern);
}

}  // namespace
