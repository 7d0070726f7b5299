// The bristle brush: random draws consumed, bristle counts, drying, pick-up,
// edges, replays and a pinned picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "guarded_bitmap.h"
#include "paint/brush.h"
#include "paint/random.h"
#include "test_support.h"

using testsupport::TestStroke;

namespace {

constexpr long DRAW_SEARCH_LIMIT = 200000;

// Seeds the command stream as the decoder does for a command with this seed.
void start_command(uint32_t seed) {
  useCommandStream(0);
  seedRandom(seed);
}

// The number of draws taken from the command stream since start_command(seed),
// found by matching its next two outputs in a fresh stream seeded alike; -1
// when not found within the limit. Leaves the local stream selected.
long draws_since_start(uint32_t seed) {
  uint32_t next1 = nextRandom();
  uint32_t next2 = nextRandom();
  start_command(seed);
  uint32_t prev = nextRandom();
  for (long k = 0; k < DRAW_SEARCH_LIMIT; ++k) {
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

struct BrushArgs {
  float r = 255, g = 0, b = 0;
  float size = 6;
  float dryness = 500;
};

long brush_draws(BITMAP* bmp, uint32_t seed, const BrushArgs& a, const TestStroke& s) {
  start_command(seed);
  drawBrush(bmp, a.r, a.g, a.b, a.size, a.dryness, s.xs.data(), s.ys.data(), s.n());
  return draws_since_start(seed);
}

// The first output of a stream seeded with seed, as a real number in [0, 1].
double first_draw(uint32_t seed) {
  start_command(seed);
  double u = nextRandom() / 4294967295.0;
  useLocalStream();
  return u;
}

// The bristle count a stroke set up, from the draws of a stroke too short to paint.
long bristle_count(uint32_t seed, float size) {
  BITMAP* bmp = testsupport::make_filled(64, 64, 255, 255, 255);
  BrushArgs a;
  a.size = size;
  long draws = brush_draws(bmp, seed, a, TestStroke{30, 30});
  destroy_bitmap(bmp);
  // One draw for the count, then three per bristle.
  if (draws < 1 || (draws - 1) % 3 != 0) return -1;
  return (draws - 1) / 3;
}

// Columns (of a horizontal stroke) in which some pixel differs from the background.
std::vector<bool> painted_columns(BITMAP* bmp, BITMAP* background) {
  std::vector<bool> cols(bmp->w, false);
  for (int y = 0; y < bmp->h; ++y)
    for (int x = 0; x < bmp->w; ++x)
      if (getpixel(bmp, x, y) != getpixel(background, x, y)) cols[x] = true;
  return cols;
}

// The largest excess of green over blue outside rows skip0..skip1. Red paint on
// white lowers both alike, so any excess there is green that bristles carried.
int most_green_over_blue(BITMAP* bmp, int skip0, int skip1) {
  int most = 0;
  for (int y = 0; y < bmp->h; ++y) {
    if (y >= skip0 && y <= skip1) continue;
    for (int x = 0; x < bmp->w; ++x) {
      int p = getpixel(bmp, x, y);
      most = std::max(most, getg32(p) - getb32(p));
    }
  }
  return most;
}

}  // namespace

TEST(Brush, BristleCountFollowsTheFirstDrawAtTheExtremeSizes) {
  // count = trunc(u + size * 3.1) + 1: at size 12, 39 exactly when u >= 0.8,
  // otherwise 38; at size 1.7, 7 exactly when u >= 0.73, otherwise 6.
  int seen38 = 0, seen39 = 0, seen6 = 0, seen7 = 0;
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    double u = first_draw(seed);
    long big = bristle_count(seed, 12.0f);
    EXPECT_EQ(big, u >= 0.8 ? 39 : 38) << "seed " << seed;
    (big == 39 ? seen39 : seen38)++;
    long small = bristle_count(seed, 1.7f);
    EXPECT_EQ(small, u >= 0.73 ? 7 : 6) << "seed " << seed;
    (small == 7 ? seen7 : seen6)++;
    // Sizes beyond the range act as its bounds.
    EXPECT_EQ(bristle_count(seed, 40.0f), big);
    EXPECT_EQ(bristle_count(seed, 0.0f), small);
    EXPECT_EQ(bristle_count(seed, -3.0f), small);
  }
  EXPECT_GT(seen38, 0);
  EXPECT_GT(seen39, 0);
  EXPECT_GT(seen6, 0);
  EXPECT_GT(seen7, 0);
}

TEST(Brush, FirstTwoSamplesPaintNothingButSetUpDrawsAreTaken) {
  BITMAP* bmp = testsupport::make_pattern(120, 90);
  BITMAP* before = testsupport::make_pattern(120, 90);
  BrushArgs a;
  const uint32_t seed = 77;
  long count = bristle_count(seed, a.size);
  ASSERT_GT(count, 0);
  // No points, one point, and two points 2 apart (samples at 0 and 1.5).
  const TestStroke shorts[] = {TestStroke{}, TestStroke{50, 40}, TestStroke{50, 40, 52, 40}};
  for (const TestStroke& s : shorts) {
    EXPECT_EQ(brush_draws(bmp, seed, a, s), 1 + 3 * count) << s.n() << " points";
    EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before)) << s.n() << " points";
  }
  // Three samples (0, 1.5, 3): the third paints, and each bristle draws twice
  // for its pick-up and twice for drying.
  EXPECT_EQ(brush_draws(bmp, seed, a, TestStroke{50, 40, 53, 40}), 1 + 7 * count);
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

TEST(Brush, PickUpDrawsOnlyWhereItFindsColour) {
  BITMAP* bmp = testsupport::make_pattern(200, 100);
  BITMAP* before = testsupport::make_pattern(200, 100);
  BrushArgs a;  // dryness 500: no bristle dries within 50 pixels
  const uint32_t seed = 5;
  long count = bristle_count(seed, a.size);
  // 50 pixels at spacing 1.5: 34 samples, 32 of them painting.
  long painting = 32;
  EXPECT_EQ(brush_draws(bmp, seed, a, TestStroke{-200, 50, -150, 50}),
            1 + 3 * count + 2 * count * painting);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  EXPECT_EQ(brush_draws(bmp, seed, a, TestStroke{70, 50, 120, 50}),
            1 + 3 * count + 4 * count * painting);
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

// Pinned draw counts: a dry bristle is replaced by the last live one, which is
// processed in the same sample; leaving it for later changes these counts.
TEST(Brush, DryBristleIsReplacedByTheLastAndThatOneIsProcessedInTheSameSample) {
  BITMAP* bmp = testsupport::make_filled(300, 100, 255, 255, 255);
  BrushArgs a;
  a.dryness = 1;
  a.size = 3;
  const long expected[12] = {488, 464, 487, 459, 439, 379, 495, 447, 383, 447, 463, 432};
  for (uint32_t seed = 1; seed <= 12; ++seed)
    EXPECT_EQ(brush_draws(bmp, seed, a, TestStroke{60, 50, 210, 50}), expected[seed - 1]) << "seed " << seed;
  destroy_bitmap(bmp);
}

TEST(Brush, DryBrushFadesOutAndWetBrushKeepsPainting) {
  BITMAP* white = testsupport::make_filled(640, 60, 255, 255, 255);
  BrushArgs a;
  a.r = a.g = a.b = 0;
  const TestStroke stroke{20, 30, 620, 30};
  for (uint32_t seed : {1u, 2u, 3u}) {
    BITMAP* dry = testsupport::make_filled(640, 60, 255, 255, 255);
    a.dryness = 1;
    long d_long = brush_draws(dry, seed, a, stroke);
    std::vector<bool> cols = painted_columns(dry, white);
    EXPECT_TRUE(cols[30]) << "seed " << seed;
    for (int x = 100; x < 640; ++x) ASSERT_FALSE(cols[x]) << "seed " << seed << " x " << x;

    // Once every bristle is gone the rest of the stroke costs no draws.
    BITMAP* shorter = testsupport::make_filled(640, 60, 255, 255, 255);
    EXPECT_EQ(brush_draws(shorter, seed, a, TestStroke{20, 30, 320, 30}), d_long);
    EXPECT_TRUE(testsupport::bitmaps_equal(shorter, dry));

    BITMAP* wet = testsupport::make_filled(640, 60, 255, 255, 255);
    a.dryness = 500;
    brush_draws(wet, seed, a, stroke);
    cols = painted_columns(wet, white);
    for (int x = 30; x < 600; ++x) ASSERT_TRUE(cols[x]) << "seed " << seed << " x " << x;
    // Still a good deal of paint at the far end: the load falls only slowly.
    int darkest = 255;
    for (int y = 0; y < 60; ++y) darkest = std::min(darkest, getr32(getpixel(wet, 590, y)));
    EXPECT_LT(darkest, 160) << "seed " << seed;
    destroy_bitmap(wet);
    destroy_bitmap(shorter);
    destroy_bitmap(dry);
  }
  destroy_bitmap(white);
}

TEST(Brush, PickUpUsesTheUnrotatedOffsets) {
  // A rightward stroke along y = 40 places a bristle at (X + along, 40 + across)
  // but picks up at (X + across, 40 + along). A green patch on the centre line,
  // just ahead of where the stroke ends, is therefore picked up by bristles whose
  // trails run far from the centre line, over white, and carried along there.
  BITMAP* bmp = testsupport::make_filled(300, 80, 255, 255, 255);
  rectfill(bmp, 140, 38, 160, 42, makecol32(0, 255, 0));
  BrushArgs a;
  a.size = 12;
  a.dryness = 60;
  brush_draws(bmp, 12, a, TestStroke{40, 40, 145, 40});
  // Rows 35..45 hold the trails of bristles that cross the patch.
  EXPECT_GT(most_green_over_blue(bmp, 35, 45), 30);
  destroy_bitmap(bmp);
}

TEST(Brush, StrokeStartingWithARepeatedPointStillPaints) {
  // The zero-length first segment yields one sample that is not a number; it
  // must not become the previous position and poison every bristle's trail.
  BITMAP* bmp = testsupport::make_filled(200, 100, 255, 255, 255);
  BITMAP* white = testsupport::make_filled(200, 100, 255, 255, 255);
  BrushArgs a;
  brush_draws(bmp, 4, a, TestStroke{40, 50, 40, 50, 100, 50, 160, 55});
  std::vector<bool> cols = painted_columns(bmp, white);
  for (int x = 60; x < 140; ++x) EXPECT_TRUE(cols[x]) << "x " << x;
  destroy_bitmap(white);
  destroy_bitmap(bmp);
}

TEST(Brush, StrokesAtAndAcrossEveryEdgeStayOnTheBitmap) {
  for (float size : {1.7f, 12.0f}) {
    testsupport::GuardedBitmap g(160, 120, 16);
    BrushArgs a;
    a.size = size;
    uint32_t seed = 1;
    for (const TestStroke& s : testsupport::edge_strokes(160, 120)) {
      EXPECT_GT(brush_draws(g.target, seed++, a, s), 0);
      ASSERT_EQ(g.border_changes(), 0) << "stroke " << seed - 1 << " size " << size;
    }
    EXPECT_GT(g.target_changes(), 0);
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
  // A size or dryness that is not a number acts as the lower bound.
  BITMAP* other = testsupport::make_pattern(80, 60);
  BrushArgs low;
  low.size = 1.7f;
  low.dryness = 1;
  long expected = brush_draws(other, 9, low, s);
  BrushArgs nan;
  nan.size = std::nanf("");
  nan.dryness = std::nanf("");
  EXPECT_EQ(brush_draws(bmp, 9, nan, s), expected);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, other));
  destroy_bitmap(other);
  destroy_bitmap(eight);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

TEST(Brush, ReplaysAreIdenticalAndTheSeedMatters) {
  const TestStroke s{20, 20, 90, 35, 150, 90, 60, 100, 30, 60};
  BrushArgs a;
  a.size = 9;
  a.dryness = 40;
  BITMAP* one = testsupport::make_pattern(180, 120);
  BITMAP* two = testsupport::make_pattern(180, 120);
  BITMAP* other = testsupport::make_pattern(180, 120);
  long d1 = brush_draws(one, 1234, a, s);
  long d2 = brush_draws(two, 1234, a, s);
  EXPECT_EQ(d1, d2);
  EXPECT_GT(d1, 0);
  EXPECT_TRUE(testsupport::bitmaps_equal(one, two));
  brush_draws(other, 1235, a, s);
  EXPECT_GT(testsupport::count_differences(one, other), 100);
  destroy_bitmap(other);
  destroy_bitmap(two);
  destroy_bitmap(one);
}

TEST(Brush, PinnedPictureOfAFixedStroke) {
  BITMAP* bmp = testsupport::make_pattern(200, 150);
  const TestStroke s{15, 30, 60, 20, 110, 45, 170, 40, 185, 95, 120, 130, 40, 120, 70, 70};
  BrushArgs a;
  a.r = 40;
  a.g = 90;
  a.b = 200;
  a.size = 7.5f;
  a.dryness = 120;
  long draws = brush_draws(bmp, 0xC0FFEEu, a, s);
  EXPECT_EQ(draws, 28561);
  EXPECT_EQ(testsupport::bitmap_checksum(bmp), 15832281217579429382u);
  destroy_bitmap(bmp);
}
