// The bristle brush: random draws consumed, bristle counts, drying, pick-up and
// pinned pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "guarded_bitmap.h"
#include "paint/brush.h"
#include "paint/random.h"
#include "test_support.h"

using testsupport::TestStroke;

namespace {

void start_command(uint32_t seed) {
  useCommandStream(0);
  seedRandom(seed);
}

// The number of draws taken from the command stream since start_command(seed),
// found by matching its next two outputs in a fresh stream seeded alike; -1
// when not found. Leaves the local stream selected.
long draws_since_start(uint32_t seed) {
  uint32_t next1 = nextRandom(), next2 = nextRandom();
  start_command(seed);
  uint32_t prev = nextRandom();
  for (long k = 0; k < 200000; ++k) {
    uint32_t cur = nextRandom();
    if (prev == next1 && cur == next2) {
      useLocalStream();
      return k;
    }
    prev = cur;
  }
  useLocalStream();
  return -1;
}

long brush_draws(BITMAP* bmp, uint32_t seed, float size, float dryness, const TestStroke& s, float r = 255,
                 float g = 0, float b = 0) {
  start_command(seed);
  drawBrush(bmp, r, g, b, size, dryness, s.xs.data(), s.ys.data(), s.n());
  return draws_since_start(seed);
}

// The bristle count a stroke set up, from the draws of a stroke too short to
// paint: one draw for the count, then three per bristle.
long bristle_count(uint32_t seed, float size) {
  BITMAP* bmp = testsupport::make_filled(64, 64, 255, 255, 255);
  long draws = brush_draws(bmp, seed, size, 500, TestStroke{30, 30});
  destroy_bitmap(bmp);
  return draws >= 1 && (draws - 1) % 3 == 0 ? (draws - 1) / 3 : -1;
}

}  // namespace

TEST(Brush, BristleCountFollowsTheFirstDrawAtTheExtremeSizes) {
  // count = trunc(u + size * 3.1) + 1: at size 12, 39 exactly when u >= 0.8,
  // otherwise 38; at size 1.7, 7 exactly when u >= 0.73, otherwise 6.
  int seen[4] = {0, 0, 0, 0};
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    start_command(seed);
    double u = nextRandom() / 4294967295.0;
    useLocalStream();
    long big = bristle_count(seed, 12.0f), small = bristle_count(seed, 1.7f);
    EXPECT_EQ(big, u >= 0.8 ? 39 : 38) << "seed " << seed;
    EXPECT_EQ(small, u >= 0.73 ? 7 : 6) << "seed " << seed;
    seen[big - 38]++;
    seen[2 + small - 6]++;
    // Sizes beyond the range act as its bounds.
    EXPECT_EQ(bristle_count(seed, 40.0f), big);
    EXPECT_EQ(bristle_count(seed, 0.0f), small);
    EXPECT_EQ(bristle_count(seed, -3.0f), small);
  }
  for (int s : seen) EXPECT_GT(s, 0);
}

TEST(Brush, DrawsPerSampleForSetUpPaintingAndPickUp) {
  BITMAP* bmp = testsupport::make_pattern(200, 100);
  BITMAP* before = testsupport::make_pattern(200, 100);
  const uint32_t seed = 5;
  long count = bristle_count(seed, 6);
  ASSERT_GT(count, 0);
  // No points, one point, and two points 2 apart (samples at 0 and 1.5) paint nothing.
  for (const TestStroke& s : {TestStroke{}, TestStroke{50, 40}, TestStroke{50, 40, 52, 40}}) {
    EXPECT_EQ(brush_draws(bmp, seed, 6, 500, s), 1 + 3 * count) << s.n() << " points";
    EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before)) << s.n() << " points";
  }
  // 50 pixels at spacing 1.5: 34 samples, 32 of them painting; each bristle
  // draws twice for drying, and twice more for pick-up only where it finds colour.
  EXPECT_EQ(brush_draws(bmp, seed, 6, 500, TestStroke{-200, 50, -150, 50}), 1 + 3 * count + 2 * count * 32);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  EXPECT_EQ(brush_draws(bmp, seed, 6, 500, TestStroke{70, 50, 120, 50}), 1 + 3 * count + 4 * count * 32);
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

// Pinned draw counts: a dry bristle is replaced by the last live one, which is
// processed in the same sample; leaving it for later changes these counts.
// Once every bristle is gone the rest of the stroke costs no draws.
TEST(Brush, PinnedDrawCountsOfADryingBrush) {
  BITMAP* bmp = testsupport::make_filled(300, 100, 255, 255, 255);
  const long expected[12] = {488, 464, 487, 459, 439, 379, 495, 447, 383, 447, 463, 432};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    EXPECT_EQ(brush_draws(bmp, seed, 3, 1, TestStroke{60, 50, 210, 50}), expected[seed - 1]) << "seed " << seed;
    EXPECT_EQ(brush_draws(bmp, seed, 3, 1, TestStroke{60, 50, 290, 50}), expected[seed - 1]) << "seed " << seed;
  }
  destroy_bitmap(bmp);
}

// Each row pins one behaviour: the pick-up reads at the unrotated offsets (a
// green patch just ahead of the end is carried far from the centre line), a
// repeated first point must not poison the trails, a size or dryness that is
// not a number acts as the lower bound, a dry brush fades, a wet one does not.
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

TEST(Brush, BadArgumentsChangeNothing) {
  BITMAP* bmp = testsupport::make_pattern(80, 60);
  BITMAP* before = testsupport::make_pattern(80, 60);
  const TestStroke s{10, 10, 70, 50};
  start_command(1);
  drawBrush(bmp, 255, 0, 0, 6, 100, nullptr, s.ys.data(), 2);
  drawBrush(bmp, 255, 0, 0, 6, 100, s.xs.data(), nullptr, 2);
  drawBrush(bmp, 255, 0, 0, 6, 100, s.xs.data(), s.ys.data(), -5);
  drawBrush(nullptr, 255, 0, 0, 6, 100, s.xs.data(), s.ys.data(), 2);
  BITMAP* eight = create_bitmap_ex(8, 80, 60);
  clear_to_color(eight, 3);
  drawBrush(eight, 255, 0, 0, 6, 100, s.xs.data(), s.ys.data(), 2);
  EXPECT_EQ(getpixel(eight, 40, 30), 3);
  useLocalStream();
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  destroy_bitmap(eight);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}
