// The disc rasteriser and the stamp.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paint/disc.h"
#include "paint/stamp.h"
#include "guarded_bitmap.h"
#include "test_support.h"

// Row offsets run from 1 - R to R; the rim is soft. Below radius 0.5 there are
// no rows at all; a centre or radius that is not a number, or a coverage not
// above 0.005, paints nothing.
TEST(Disc, PinnedDiscs) {
  const struct {
    float cx, cy, coverage, radius;
    long painted;
    uint64_t sum;
  } cases[] = {{20, 20, 1, 8, 187, 17996170906310777681u},     {20.3f, 20.6f, 1, 2, 12, 3621505732852966392u},
               {20, 20, 0.4f, 11.5f, 405, 9222647517020850737u}, {20, 20, 1, 0.49f, 0, 14465518389014101251u},
               {NAN, 20, 1, 5, 0, 14465518389014101251u},       {20, NAN, 1, 5, 0, 14465518389014101251u},
               {20, 20, 1, NAN, 0, 14465518389014101251u},       {20, 20, 0.005f, 5, 0, 14465518389014101251u}};
  BITMAP* black = testsupport::make_filled(40, 40, 0, 0, 0);
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
    softDisc(bmp, c.cx, c.cy, 200, 100, 50, c.coverage, c.radius);
    EXPECT_EQ(c.painted, testsupport::count_differences(bmp, black)) << c.cx << "," << c.cy << " r " << c.radius;
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << c.cx << "," << c.cy << " r " << c.radius;
    destroy_bitmap(bmp);
  }
  destroy_bitmap(black);
}

TEST(Disc, EdgesPaintOnlyTheOnBitmapPart) {
  // Centres with few fraction bits, so that moving them by whole pixels
  // changes no rounding.
  const float centres[][2] = {{0.25f, 10.5f}, {-3.75f, 6.0f}, {30.5f, -2.25f}, {33.0f, 21.75f},
                              {-1.5f, -1.5f}, {31.75f, 23.5f}, {16.0f, 25.5f}, {12.25f, -7.0f}};
  for (const auto& c : centres) {
    for (float radius : {0.7f, 3.4f, 8.0f, 12.0f}) {
      testsupport::GuardedBitmap g(32, 24, 16, makecol32(100, 100, 100));
      softDisc(g.target, c[0], c[1], 250, 0, 0, 0.8f, radius);
      ASSERT_EQ(0, g.border_changes()) << c[0] << "," << c[1] << " r " << radius;
      // The same disc on a large bitmap, seen through the same window.
      // Conversions truncate toward zero, so the column and row just left of
      // and above the bitmap fold onto column and row 0; compare the rest.
      BITMAP* big = testsupport::make_filled(32 + 64, 24 + 64, 100, 100, 100);
      softDisc(big, c[0] + 32, c[1] + 32, 250, 0, 0, 0.8f, radius);
      for (int y = 1; y < 24; ++y)
        for (int x = 1; x < 32; ++x)
          ASSERT_EQ(getpixel(big, x + 32, y + 32), getpixel(g.target, x, y))
              << x << "," << y << " centre " << c[0] << "," << c[1] << " r " << radius;
      destroy_bitmap(big);
    }
  }
}

// One stroke at in-range and out-of-range values: size and gap act as their
// bounds (1.5..8 and 0..100) beyond them. A stroke of one repeated point paints
// nothing.
TEST(Stamp, PinnedStrokes) {
  const std::vector<int16_t> xs = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                             ys = {600, 500, 620, 380, 100, 40, 300, 200, 20}, still = {25, 25, 25};
  BITMAP* blank = testsupport::make_pattern(912, 684);
  const uint64_t untouched = testsupport::bitmap_checksum(blank);
  destroy_bitmap(blank);
  const struct {
    float size, gap;
    bool moving;
    uint64_t sum;
  } cases[] = {{6.5f, 20.0f, true, 1518476845628864280ull}, {8, 0, true, 14009003145975916033ull},
               {50, -4, true, 14009003145975916033ull},    {1.5f, 100, true, 4283033006230996930ull},
               {0, 250, true, 4283033006230996930ull},     {8, 0, false, untouched}};
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_pattern(912, 684);
    const std::vector<int16_t>& sx = c.moving ? xs : still;
    drawStamp(bmp, 15.0f, 150.0f, 99.5f, c.size, c.gap, sx.data(), c.moving ? ys.data() : still.data(), sx.size());
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << "size " << c.size << " gap " << c.gap;
    destroy_bitmap(bmp);
  }
}
