// The bristle brush: random draws consumed, bristle counts, drying, pick-up and
// pinned pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "paint/brush.h"
#include "paint/random.h"
#include "test_support.h"

using testsupport::TestStroke;

namespace {

// Draws a stroke inside the command bracket seeded with seed (not 0) and
// returns the number of draws it took: where a fresh stream seeded alike gives
// the output that followed the stroke.
long brush_draws(BITMAP* bmp, uint32_t seed, float size, float dryness, const TestStroke& s, float r = 255,
                 float g = 0, float b = 0) {
  useCommandStream(seed);
  drawBrush(bmp, r, g, b, size, dryness, s.xs.data(), s.ys.data(), s.n());
  const uint32_t next = nextRandom();
  useCommandStream(seed);
  long k = 0;
  while (k < 200000 && nextRandom() != next) ++k;
  useLocalStream();
  return k;
}

}  // namespace

// Pinned draw counts: a dry bristle is replaced by the last live one, which is
// processed in the same sample; leaving it for later changes these counts.
// Once every bristle is gone the rest of the stroke costs no draws.
TEST(Brush, PinnedDrawCountsOfADryingBrush) {
  BITMAP* bmp = testsupport::make_filled(300, 100, 255, 255, 255);
  const long expected[12] = {488, 464, 487, 459, 439, 379, 495, 447, 383, 447, 463, 432};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    for (int end : {210, 290})
      EXPECT_EQ(brush_draws(bmp, seed, 3, 1, TestStroke{60, 50, end, 50}), expected[seed - 1]) << seed;
  }
  destroy_bitmap(bmp);
}

// Each row pins one behaviour: the pick-up reads at the unrotated offsets (a
// green patch just ahead of the end is carried far from the centre line), a
// repeated first point must not poison the trails, a size or dryness out of
// range or not a number acts as the bound, a dry brush fades, a wet one does not.
TEST(Brush, PinnedPictures) {
  const float nan = std::nanf("");
  const struct {
    const char* name;
    bool patch;
    TestStroke s;
    float r, g, b, size, dryness;
    uint32_t seed;
    long draws;
    uint64_t sum;
  } cases[] = {
      {"fixed", false, {15, 30, 60, 20, 110, 45, 170, 40, 185, 95, 120, 130, 40, 120, 70, 70}, 40, 90, 200, 7.5f,
       120, 0xC0FFEEu, 28561, 15832281217579429382u},
      {"pick-up", true, {40, 40, 145, 40}, 255, 0, 0, 12, 60, 12, 10882, 14464231021294920910u},
      {"repeated start", false, {40, 50, 40, 50, 100, 50, 160, 55}, 255, 0, 0, 6, 500, 4, 6301, 6063774662019092478u},
      {"lower bounds", false, {10, 10, 70, 50}, 255, 0, 0, 1.7f, 1, 9, 247, 11816818670395052870u},
      {"not a number", false, {10, 10, 70, 50}, 255, 0, 0, nan, nan, 9, 247, 11816818670395052870u},
      {"below range", false, {10, 10, 70, 50}, 255, 0, 0, -3, 1, 9, 247, 11816818670395052870u},
      {"above range", true, {40, 40, 145, 40}, 255, 0, 0, 40, 60, 12, 10882, 14464231021294920910u},
      {"dry", false, {20, 30, 190, 30}, 0, 0, 0, 6, 1, 2, 861, 13387990305951761365u},
      {"wet", false, {20, 30, 190, 30}, 0, 0, 0, 6, 500, 2, 9021, 6735044574293367172u},
  };
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_pattern(200, 150);
    if (c.patch) rectfill(bmp, 140, 38, 160, 42, makecol32(0, 255, 0));
    EXPECT_EQ(c.draws, brush_draws(bmp, c.seed, c.size, c.dryness, c.s, c.r, c.g, c.b)) << c.name;
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << c.name;
    destroy_bitmap(bmp);
  }
}
