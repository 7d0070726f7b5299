// The empty picture: "bg.bmp" when present, otherwise the generated paper.
#include <gtest/gtest.h>

#include "paint/canvas.h"
#include "paint/random.h"
#include "paint/stroke.h"
#include "test_support.h"

namespace {

// The paper written the plain way: every dot through splatPoint.
void reference_paper(BITMAP* bmp) {
  useCommandStream(0);
  clear_to_color(bmp, makecol32(232, 229, 227));
  auto u = [] { return (nextRandom() * (1.0 / 4294967295.0) - 0.5) * 1.4; };
  for (float y = 0; y < bmp->h; y = float(y + 2.5)) {
    for (float x = 0; x < bmp->w; x = float(x + 1)) {
      double a = u(), b = u();
      splatPoint(bmp, float(a + x - 0.5), float(b + y), 186, 178, 171, 0.2f);
      double c = u(), d = u();
      splatPoint(bmp, float(x + c - 0.5), float(y + d + 0.69), 255, 255, 255, 0.1f);
    }
  }
  for (float y = 0; y < bmp->h; y = float(y + 1)) {
    for (float x = 0; x < bmp->w; x = float(x + 2.5)) {
      double a = u(), b = u();
      splatPoint(bmp, float(a + x + 0.69), float(b + y), 255, 255, 255, 0.2f);
      double c = u(), d = u();
      splatPoint(bmp, float(x + c - 0.5), float(y + d), 186, 178, 171, 0.1f);
    }
  }
  useLocalStream();
}

}  // namespace

// Under every channel layout: the headless one, the one seen under X11, and
// one with the spare byte at the bottom.
TEST(Canvas, PaperMatchesPlainComputation) {
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  const int layouts[][3] = {{0, 8, 16}, {16, 8, 0}, {24, 16, 8}};
  for (const auto& layout : layouts) {
    _rgb_r_shift_32 = layout[0];
    _rgb_g_shift_32 = layout[1];
    _rgb_b_shift_32 = layout[2];
    for (auto size : {std::pair<int, int>{912, 684}, {160, 120}, {37, 23}, {3, 2}}) {
      BITMAP* got = testsupport::make_pattern(size.first, size.second);
      BITMAP* want = testsupport::make_pattern(size.first, size.second);
      resetCanvas(got);
      reference_paper(want);
      EXPECT_TRUE(testsupport::bitmaps_equal(want, got))
          << size.first << " x " << size.second << " red at " << layout[0];
      destroy_bitmap(want);
      destroy_bitmap(got);
    }
  }
  _rgb_r_shift_32 = saved[0];
  _rgb_g_shift_32 = saved[1];
  _rgb_b_shift_32 = saved[2];
}

TEST(Canvas, PinnedFullSizePaper) {
  testsupport::TempDir dir;  // no "bg.bmp" here
  BITMAP* bmp = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  resetCanvas(bmp);
  EXPECT_EQ(13740167982285035807ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
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
