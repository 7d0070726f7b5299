// The empty picture: "bg.bmp" when present, otherwise the generated paper.
#include <gtest/gtest.h>

#include "paint/canvas.h"
#include "paint/random.h"
#include "paint/stroke.h"
#include "test_support.h"

// The same paper under every channel layout: headless, the one seen under X11,
// and one with the spare byte at the bottom.
TEST(Canvas, PinnedPaperUnderEveryChannelLayout) {
  testsupport::TempDir dir;  // no "bg.bmp" here
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  const int layouts[][3] = {{0, 8, 16}, {16, 8, 0}, {24, 16, 8}};
  const struct {
    int w, h;
    uint64_t sum;
  } sizes[] = {{912, 684, 13740167982285035807ull}, {160, 120, 10443965888042203890ull}, {37, 23, 2177681516716503357ull}, {3, 2, 9027591118986259757ull}};
  for (const auto& layout : layouts) {
    _rgb_r_shift_32 = layout[0];
    _rgb_g_shift_32 = layout[1];
    _rgb_b_shift_32 = layout[2];
    for (const auto& size : sizes) {
      BITMAP* bmp = testsupport::make_pattern(size.w, size.h);
      resetCanvas(bmp);
      EXPECT_EQ(size.sum, testsupport::bitmap_checksum(bmp)) << size.w << " x " << size.h << " red at " << layout[0];
      destroy_bitmap(bmp);
    }
  }
  _rgb_r_shift_32 = saved[0];
  _rgb_g_shift_32 = saved[1];
  _rgb_b_shift_32 = saved[2];
}

TEST(Canvas, ResetsAreIdenticalWhateverHappenedBetween) {
  testsupport::TempDir dir;
  BITMAP* first = create_bitmap_ex(32, 200, 150);
  BITMAP* second = testsupport::make_pattern(200, 150);
  random_reset();
  seedRandom(12345);
  uint32_t local_next = nextRandom();
  seedRandom(12345);
  resetCanvas(first);
  EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
  EXPECT_EQ(local_next, nextRandom());  // the local stream was not disturbed
  for (int i = 0; i < 777; ++i) nextRandom();
  useCommandStream(99);
  nextRandom();
  useLocalStream();
  resetCanvas(second);
  EXPECT_TRUE(testsupport::bitmaps_equal(first, second));

  // Another size draws another texture, not a crop of this one.
  BITMAP* small = create_bitmap_ex(32, 160, 120);
  resetCanvas(small);
  BITMAP* crop = create_bitmap_ex(32, 160, 120);
  blit(first, crop, 0, 0, 0, 0, 160, 120);
  EXPECT_GT(testsupport::count_differences(small, crop), 1000);
  destroy_bitmap(crop);
  destroy_bitmap(small);
  destroy_bitmap(second);
  destroy_bitmap(first);
}

TEST(Canvas, BackgroundPictureReplacesThePaper) {
  testsupport::TempDir dir;
  BITMAP* bg = testsupport::make_pattern(30, 20);
  ASSERT_EQ(0, save_bitmap("bg.bmp", bg, nullptr));
  BITMAP* bmp = testsupport::make_filled(50, 15, 1, 2, 3);
  random_reset();
  resetCanvas(bmp);
  // Copied at (0, 0), clipped; where the picture is smaller the old pixels stay.
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 50; ++x)
      ASSERT_EQ(x < 30 ? getpixel(bg, x, y) : makecol32(1, 2, 3), getpixel(bmp, x, y)) << x << "," << y;
  // The random source is neither seeded nor selected.
  EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
  EXPECT_EQ(1001u, random_position(COMMAND_STREAM));
  EXPECT_EQ(1001u, random_position(LOCAL_STREAM));
  destroy_bitmap(bmp);
  destroy_bitmap(bg);
}
