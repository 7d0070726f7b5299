// The smudge: threshold strength, the visiting orders, the fractional sampling
// row, the disc's footprint, the walk, edges, replays and a pinned picture.
#include <gtest/gtest.h>

#include <cmath>

#include "guarded_bitmap.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stroke.h"
#include "test_support.h"

using testsupport::TestStroke;

namespace {

void smudge(BITMAP* bmp, float size, float strength, const TestStroke& s) {
  drawSmudge(bmp, size, strength, s.xs.data(), s.ys.data(), s.n());
}

int grey(BITMAP* bmp, int x, int y) { return getr32(getpixel(bmp, x, y)); }

void put_grey(BITMAP* bmp, int x, int y, int v) { putpixel(bmp, x, y, makecol32(v, v, v)); }

}  // namespace

TEST(Smudge, StrengthSixChangesNothingSevenDoes) {
  const TestStroke s{20, 30, 100, 60, 140, 20};
  BITMAP* before = testsupport::make_pattern(160, 100);
  for (float strength : {6.0f, 1.0f, 0.0f, -50.0f}) {
    BITMAP* bmp = testsupport::make_pattern(160, 100);
    smudge(bmp, 12, strength, s);
    EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before)) << "strength " << strength;
    destroy_bitmap(bmp);
  }
  BITMAP* bmp = testsupport::make_pattern(160, 100);
  smudge(bmp, 12, 7, s);
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  destroy_bitmap(bmp);
  destroy_bitmap(before);
}

TEST(Smudge, StrokeWithASingleSampleChangesNothing) {
  BITMAP* before = testsupport::make_pattern(100, 80);
  BITMAP* bmp = testsupport::make_pattern(100, 80);
  smudge(bmp, 12, 1000, TestStroke{50, 40});          // one point
  smudge(bmp, 12, 1000, TestStroke{50, 40, 51, 40});  // 1 pixel: one sample at spacing 2
  smudge(bmp, 12, 1000, TestStroke{});
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  // Two samples smudge once.
  smudge(bmp, 12, 1000, TestStroke{50, 40, 52, 40});
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  destroy_bitmap(bmp);
  destroy_bitmap(before);
}

// One white pixel at (20, 20) on black, a disc of radius 4 around it with
// coverage 0.5 and a displacement of one pixel. Each visited pixel becomes
// trunc(old / 2 + sampled / 2 + 0.5); because the pass reads what it has just
// written, the white is dragged pixel after pixel in the direction of motion:
// 128, 64, 32, 16, ... up to the disc's edge. Visited the other way round it
// would move one pixel only.
struct OrderCase {
  const char* name;
  float dx, dy;
  // The pixels expected to change, with their values, starting at (20, 20).
  int step_x, step_y;
  int length;
};

TEST(Smudge, VisitingOrderDragsColourInTheDirectionOfMotion) {
  const OrderCase cases[] = {
      // Moving right: sample from the left, columns left to right; the disc's
      // row 20 runs over columns 17..24.
      {"right", -1, 0, 1, 0, 5},
      // Moving left: columns right to left, 24 down to 17.
      {"left", 1, 0, -1, 0, 4},
      // Moving down: rows top to bottom; the disc's column 20 covers rows
      // 17..23 (row 24 has t = 4, so radius^2 - t^2 = 0 and it is skipped).
      {"down", 0, -1, 0, 1, 4},
      // Moving up: rows bottom to top, 23 up to 17.
      {"up", 0, 1, 0, -1, 4},
  };
  for (const OrderCase& c : cases) {
    BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
    BITMAP* black = testsupport::make_filled(40, 40, 0, 0, 0);
    put_grey(bmp, 20, 20, 255);
    smudgeDisc(bmp, 4.0f, 0.5f, 20.0f, 20.0f, c.dx, c.dy);
    int expected = 128;
    for (int i = 0; i < c.length; ++i) {
      EXPECT_EQ(grey(bmp, 20 + i * c.step_x, 20 + i * c.step_y), expected)
          << c.name << " step " << i;
      expected /= 2;
    }
    EXPECT_EQ(grey(bmp, 20 + c.length * c.step_x, 20 + c.length * c.step_y), 0) << c.name;
    EXPECT_EQ(testsupport::count_differences(bmp, black), c.length) << c.name;
    destroy_bitmap(black);
    destroy_bitmap(bmp);
  }
}

TEST(Smudge, DiagonalMotionCombinesBothOrders) {
  // Moving down and right: rows top to bottom and columns left to right, so the
  // white travels down the diagonal; every pixel reads its upper-left neighbour.
  BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  put_grey(bmp, 20, 20, 255);
  smudgeDisc(bmp, 4.0f, 0.5f, 20.0f, 20.0f, -1, -1);
  EXPECT_EQ(grey(bmp, 20, 20), 128);
  EXPECT_EQ(grey(bmp, 21, 21), 64);
  EXPECT_EQ(grey(bmp, 22, 22), 32);
  EXPECT_EQ(grey(bmp, 21, 20), 0);
  destroy_bitmap(bmp);
}

TEST(Smudge, SamplingRowKeepsTheFraction) {
  // Rows 0..10 black, 11.. grey 200. A disc at y = 10.5 (radius 1.7, sampling
  // 10 columns to the left, away from the disc) writes rows 9..12; row 10
  // samples at y = 10.5, halfway between black and grey: 100, so its pixels
  // become trunc(0 + 50 + 0.5) = 50. Rows 11 and 12 sample grey over grey, row 9
  // black over black.
  BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  rectfill(bmp, 0, 11, 39, 39, makecol32(200, 200, 200));
  BITMAP* before = testsupport::make_filled(40, 40, 0, 0, 0);
  blit(bmp, before, 0, 0, 0, 0, 40, 40);
  smudgeDisc(bmp, 1.7f, 0.5f, 20.0f, 10.5f, -10, 0);
  // Row 10 is the disc's widest row: half = 2, columns 19..22.
  for (int x = 19; x <= 22; ++x) EXPECT_EQ(grey(bmp, x, 10), 50) << "x " << x;
  EXPECT_EQ(testsupport::count_differences(bmp, before), 4);
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

TEST(Smudge, DiscFootprintAndSamplingNearTheEdges) {
  // Radius 1.7 at (30, 20): R = 2; rows j = 1, 0, -1 with half 1, 2, 1 (row j = 2
  // has radius^2 - 4 < 0). Columns run over col > x - half and col <= x + half,
  // so the disc is rows 19..21 with columns 30..31, 29..32, 30..31. A
  // displacement of 10 samples outside the disc, so no pixel sees another's write.
  const int expected[][2] = {{30, 19}, {31, 19}, {29, 20}, {30, 20},
                             {31, 20}, {32, 20}, {30, 21}, {31, 21}};
  for (float dx : {-10.0f, 10.0f}) {
    BITMAP* bmp = testsupport::make_filled(60, 40, 0, 0, 0);
    // White where the sampling points fall.
    if (dx < 0)
      rectfill(bmp, 0, 0, 24, 39, makecol32(255, 255, 255));
    else
      rectfill(bmp, 36, 0, 59, 39, makecol32(255, 255, 255));
    BITMAP* before = create_bitmap_ex(32, 60, 40);
    blit(bmp, before, 0, 0, 0, 0, 60, 40);
    smudgeDisc(bmp, 1.7f, 0.5f, 30.0f, 20.0f, dx, 0);
    for (const auto& p : expected) EXPECT_EQ(grey(bmp, p[0], p[1]), 128) << p[0] << "," << p[1];
    EXPECT_EQ(testsupport::count_differences(bmp, before), 8) << "dx " << dx;
    destroy_bitmap(before);
    destroy_bitmap(bmp);
  }

  // Left edge: at x = 2 the row 20 columns 1..4 sample columns -2..1; only the
  // points on the bitmap (columns 0 and 1, white) are found.
  BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  rectfill(bmp, 0, 0, 1, 39, makecol32(255, 255, 255));
  smudgeDisc(bmp, 1.7f, 0.5f, 2.0f, 20.0f, -3, 0);
  EXPECT_EQ(grey(bmp, 1, 20), 255);
  EXPECT_EQ(grey(bmp, 2, 20), 0);
  EXPECT_EQ(grey(bmp, 3, 20), 128);
  EXPECT_EQ(grey(bmp, 4, 20), 128);
  destroy_bitmap(bmp);

  // Right edge: at x = 37 on a 40-wide bitmap, row 20 columns 36..39 sample
  // columns 38..41; only 38 lies 1.0001 or more inside the right edge.
  bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  rectfill(bmp, 38, 0, 39, 39, makecol32(255, 255, 255));
  smudgeDisc(bmp, 1.7f, 0.5f, 37.0f, 20.0f, 2, 0);
  EXPECT_EQ(grey(bmp, 36, 20), 128);
  EXPECT_EQ(grey(bmp, 37, 20), 0);
  EXPECT_EQ(grey(bmp, 38, 20), 255);
  destroy_bitmap(bmp);
}

TEST(Smudge, PreviousPositionCarriesAcrossSegments) {
  // The stroke walked here sample by sample, with the previous sample kept
  // from one segment to the next, must give drawSmudge's picture; forgetting it
  // at each segment gives another picture.
  const TestStroke s{20, 20, 60, 30, 100, 25, 130, 70, 90, 90};
  const float size = 8, coverage = static_cast<float>(500 * 0.0008333333333333334);
  BITMAP* expected[2];
  for (int forget = 0; forget < 2; ++forget) {
    expected[forget] = testsupport::make_pattern(160, 110);
    float offset = 0, px = 0, py = 0;
    bool have = false;
    for (unsigned i = 0; i < static_cast<unsigned>(s.n()); ++i) {
      if (forget) have = false;
      float leftover = sampleSegment(s.xs.data(), s.ys.data(), s.n(), i, 2.0f, offset);
      for (int k = 0; k < StrokeSamples.count; ++k) {
        float X = StrokeSamples.x[k], Y = StrokeSamples.y[k];
        if (have)
          smudgeDisc(expected[forget], size, coverage, X, Y,
                     static_cast<float>(static_cast<double>(px) - X),
                     static_cast<float>(static_cast<double>(py) - Y));
        have = true;
        px = X;
        py = Y;
      }
      offset = leftover;
    }
  }
  BITMAP* bmp = testsupport::make_pattern(160, 110);
  smudge(bmp, size, 500, s);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, expected[0]));
  EXPECT_FALSE(testsupport::bitmaps_equal(bmp, expected[1]));
  destroy_bitmap(bmp);
  destroy_bitmap(expected[1]);
  destroy_bitmap(expected[0]);
}

TEST(Smudge, StrokesAtAndAcrossEveryEdgeStayOnTheBitmap) {
  for (float size : {1.7f, 12.0f}) {
    testsupport::GuardedBitmap g(160, 120, 16);
    int index = 0;
    for (const TestStroke& s : testsupport::edge_strokes(160, 120)) {
      smudge(g.target, size, 1000, s);
      ASSERT_EQ(g.border_changes(), 0) << "stroke " << index << " size " << size;
      ++index;
    }
    EXPECT_GT(g.target_changes(), 0);
  }
}

TEST(Smudge, ExtremeDiscArgumentsAreHarmless) {
  BITMAP* bmp = testsupport::make_pattern(60, 40);
  BITMAP* before = testsupport::make_pattern(60, 40);
  const float nan = std::nanf("");
  smudgeDisc(bmp, 4, 0.5f, nan, 20, -1, 0);
  smudgeDisc(bmp, 4, 0.5f, 30, 20, nan, nan);
  smudgeDisc(bmp, nan, 0.5f, 30, 20, -1, 0);
  smudgeDisc(bmp, 1e30f, 0.5f, 30, 20, -1, 0);
  smudgeDisc(bmp, 4, 0.5f, 3e9f, -3e9f, 1e20f, -1e20f);
  smudgeDisc(nullptr, 4, 0.5f, 30, 20, -1, 0);
  drawSmudge(bmp, 8, 500, nullptr, nullptr, 3);
  drawSmudge(nullptr, 8, 500, nullptr, nullptr, 3);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  // A size that is not a number acts as the lower bound.
  const TestStroke s{10, 10, 50, 30};
  smudge(bmp, nan, 700, s);
  smudge(before, 1.7f, 700, s);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

TEST(Smudge, DrawsNoRandomNumbersAndReplaysIdentically) {
  const TestStroke s{15, 30, 60, 20, 110, 45, 170, 40, 185, 95, 120, 130, 40, 120, 70, 70};
  BITMAP* one = testsupport::make_pattern(200, 150);
  BITMAP* two = testsupport::make_pattern(200, 150);
  useCommandStream(0);
  smudge(one, 12, 400, s);
  EXPECT_EQ(random_position(COMMAND_STREAM), 1000u);  // seeded, never drawn from
  useLocalStream();
  smudge(two, 12, 400, s);
  EXPECT_TRUE(testsupport::bitmaps_equal(one, two));
  destroy_bitmap(two);
  destroy_bitmap(one);
}

TEST(Smudge, PinnedPictureOfAFixedStroke) {
  BITMAP* bmp = testsupport::make_pattern(200, 150);
  const TestStroke s{15, 30, 60, 20, 110, 45, 170, 40, 185, 95, 120, 130, 40, 120, 70, 70};
  smudge(bmp, 9.5f, 640, s);
  EXPECT_EQ(testsupport::bitmap_checksum(bmp), 13789764711348441118u);
  destroy_bitmap(bmp);
}
