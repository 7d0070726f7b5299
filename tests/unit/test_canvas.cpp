// The empty picture: "bg.bmp" when present, otherwise the generated paper.
#include <gtest/gtest.h>

#include "paint/canvas.h"
#include "paint/random.h"
#include "test_support.h"

// The same paper under every channel layout: headless, the one seen under X11,
// and one with the spare byte at the bottom. Sizes draw their own texture, not
// crops of one another. The paper comes from its own seed, whatever was drawn
// before, and leaves the local stream where it was; "bg.bmp" replaces it.
TEST(Canvas, PinnedPaperUnderEveryChannelLayoutOrTheBackgroundPicture) {
  testsupport::TempDir dir;  // no "bg.bmp" here yet
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  const int layouts[][3] = {{0, 8, 16}, {16, 8, 0}, {24, 16, 8}};
  const struct {
    int w, h;
    uint64_t sum;
  } sizes[] = {{912, 684, 13740167982285035807ull},
               {160, 120, 10443965888042203890ull},
               {37, 23, 2177681516716503357ull},
               {3, 2, 9027591118986259757ull}};
  for (const auto& layout : layouts) {
    _rgb_r_shift_32 = layout[0];
    _rgb_g_shift_32 = layout[1];
    _rgb_b_shift_32 = layout[2];
    for (const auto& size : sizes) {
      BITMAP* bmp = testsupport::make_pattern(size.w, size.h);
      seedRandom(size.w);
      uint32_t local_next = nextRandom();
      seedRandom(size.w);
      useCommandStream(size.h);
      nextRandom();
      useLocalStream();
      resetCanvas(bmp);
      EXPECT_EQ(size.sum, testsupport::bitmap_checksum(bmp)) << size.w << " red at " << layout[0];
      EXPECT_EQ(local_next, nextRandom());  // from the local stream, as before
      destroy_bitmap(bmp);
    }
  }
  _rgb_r_shift_32 = saved[0];
  _rgb_g_shift_32 = saved[1];
  _rgb_b_shift_32 = saved[2];
  // A background picture is copied at (0, 0), clipped; where it is smaller the
  // old pixels stay. The random source is neither seeded nor selected.
  BITMAP* bg = testsupport::make_pattern(30, 20);
  ASSERT_EQ(0, save_bitmap("bg.bmp", bg, nullptr));
  BITMAP* bmp = testsupport::make_filled(50, 15, 1, 2, 3);
  BITMAP* expected = testsupport::make_filled(50, 15, 1, 2, 3);
  random_reset();
  resetCanvas(bmp);
  blit(bg, expected, 0, 0, 0, 0, 30, 20);
  EXPECT_TRUE(testsupport::bitmaps_equal(expected, bmp));
  EXPECT_EQ(LOCAL_STREAM, random_selected_stream());
  EXPECT_EQ(1001u, random_position(COMMAND_STREAM));
  EXPECT_EQ(1001u, random_position(LOCAL_STREAM));
  destroy_bitmap(expected);
  destroy_bitmap(bmp);
  destroy_bitmap(bg);
}
