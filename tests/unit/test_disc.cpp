// The disc rasteriser and the stamp.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paint/disc.h"
#include "paint/stamp.h"
#include "test_support.h"

// Row offsets run from 1 - R to R; the rim is soft. Below radius 0.5 there are
// no rows at all; a centre or radius that is not a number, or a coverage not
// above 0.005, paints nothing. Discs over the edges paint their on-bitmap part.
TEST(Disc, PinnedDiscs) {
  const struct {
    float cx, cy, coverage, radius;
    long painted;
    uint64_t sum;
  } cases[] = {{20, 20, 1, 8, 187, 17996170906310777681u},     {20.3f, 20.6f, 1, 2, 12, 3621505732852966392u},
               {20, 20, 0.4f, 11.5f, 405, 9222647517020850737u}, {20, 20, 1, 0.49f, 0, 14465518389014101251u},
               {NAN, 20, 1, 5, 0, 14465518389014101251u},       {20, NAN, 1, 5, 0, 14465518389014101251u},
               {20, 20, 1, NAN, 0, 14465518389014101251u},       {20, 20, 0.005f, 5, 0, 14465518389014101251u},
               {1.5f, 38.5f, 1, 8, 78, 8328633616637883686u},   {-3.75f, 6, 0.4f, 8, 50, 5072552981353120261u},
               {36.25f, -2.5f, 1, 11.5f, 107, 14757113461284104712u}};
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
