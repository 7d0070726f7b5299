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

// The pass reads what it has just written, so one white pixel is dragged along
// the motion as 128, 64, 32, ...; the wrong visiting order moves it one pixel.
struct OrderCase {
  const char* name;
  float dx, dy;
  int step_x, step_y;
  int length;
};

TEST(Smudge, VisitingOrderDragsColourInTheDirectionOfMotion) {
  const OrderCase cases[] = {
      {"right", -1, 0, 1, 0, 5},  // row 20 of the disc: columns 17..24
      {"left", 1, 0, -1, 0, 4},
      {"down", 0, -1, 0, 1, 4},  // column 20: rows 17..23 (row 24 is skipped)
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
  // Black above row 11, grey 200 below: row 10 samples at y = 10.5 (100) and becomes 50.
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
  // Radius 1.7 at (30, 20): rows 19..21, columns 30..31, 29..32, 30..31; sampled 10 away.
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

  // Left edge: columns 1..4 sample -2..1; only the on-bitmap points are found.
  BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  rectfill(bmp, 0, 0, 1, 39, makecol32(255, 255, 255));
  smudgeDisc(bmp, 1.7f, 0.5f, 2.0f, 20.0f, -3, 0);
  EXPECT_EQ(grey(bmp, 1, 20), 255);
  EXPECT_EQ(grey(bmp, 2, 20), 0);
  EXPECT_EQ(grey(bmp, 3, 20), 128);
  EXPECT_EQ(grey(bmp, 4, 20), 128);
  destroy_bitmap(bmp);

  // Right edge: columns 36..39 sample 38..41; only 38 lies 1.0001 inside the edge.
  bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  rectfill(bmp, 38, 0, 39, 39, makecol32(255, 255, 255));
  smudgeDisc(bmp, 1.7f, 0.5f, 37.0f, 20.0f, 2, 0);
  EXPECT_EQ(grey(bmp, 36, 20), 128);
  EXPECT_EQ(grey(bmp, 37, 20), 0);
  EXPECT_EQ(grey(bmp, 38, 20), 255);
  destroy_bitmap(bmp);
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
