// The smudge: threshold strength, the visiting orders, the fractional sampling
// row, the disc's footprint, edges and pinned pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "paint/smudge.h"
#include "test_support.h"

using testsupport::TestStroke;

static void smudge(BITMAP* bmp, float size, float strength, const TestStroke& s) {
  drawSmudge(bmp, size, strength, s.xs.data(), s.ys.data(), s.n());
}

// One disc on black with one grey rectangle. The pass reads what it has just
// written, so a white dot is dragged along the motion as 128, 64, 32, ...; the
// wrong visiting order moves it by a pixel. Row 10 samples at y = 10.5. Near the
// edges only sampling points 1.0001 inside the bitmap are found.
TEST(Smudge, PinnedSingleDiscs) {
  const struct {
    const char* name;
    int rect[5];  // x0, y0, x1, y1, grey
    float size, cx, cy, dx, dy;
    long changed;
    uint64_t sum;
  } cases[] = {
      {"right", {20, 20, 20, 20, 255}, 4, 20, 20, -1, 0, 5, 7022455482682675919u},
      {"left", {20, 20, 20, 20, 255}, 4, 20, 20, 1, 0, 4, 15140304457026721191u},
      {"down", {20, 20, 20, 20, 255}, 4, 20, 20, 0, -1, 4, 14063880312050364455u},
      {"up", {20, 20, 20, 20, 255}, 4, 20, 20, 0, 1, 4, 4572405139988351719u},
      {"down right", {20, 20, 20, 20, 255}, 4, 20, 20, -1, -1, 4, 10770462088287144135u},
      {"fractional row", {0, 11, 59, 39, 200}, 1.7f, 20, 10.5f, -10, 0, 4, 14802506820769138439u},
      {"footprint left", {0, 0, 24, 39, 255}, 1.7f, 30, 20, -10, 0, 8, 14776471196556726231u},
      {"footprint right", {36, 0, 59, 39, 255}, 1.7f, 30, 20, 10, 0, 8, 9456461864806162903u},
      {"left edge", {0, 0, 1, 39, 255}, 1.7f, 2, 20, -3, 0, 4, 14948560538224708071u},
      {"right edge", {58, 0, 59, 39, 255}, 1.7f, 57, 20, 2, 0, 1, 8853923630705235431u},
  };
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_filled(60, 40, 0, 0, 0);
    int v = c.rect[4];
    rectfill(bmp, c.rect[0], c.rect[1], c.rect[2], c.rect[3], makecol32(v, v, v));
    BITMAP* before = create_bitmap_ex(32, 60, 40);
    blit(bmp, before, 0, 0, 0, 0, 60, 40);
    smudgeDisc(bmp, c.size, 0.5f, c.cx, c.cy, c.dx, c.dy);
    EXPECT_EQ(c.changed, testsupport::count_differences(bmp, before)) << c.name;
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << c.name;
    destroy_bitmap(before);
    destroy_bitmap(bmp);
  }
}

// Too weak a stroke, a single sample and arguments that are not usable change
// nothing; a size that is not a number acts as the lower bound.
TEST(Smudge, WeakStrengthsSingleSamplesAndBadArgumentsChangeNothing) {
  BITMAP* before = testsupport::make_pattern(160, 100);
  BITMAP* bmp = testsupport::make_pattern(160, 100);
  smudge(bmp, 12, 6, {20, 30, 100, 60, 140, 20});
  smudge(bmp, 12, 1000, {50, 40, 51, 40});  // 1 pixel: one sample at spacing 2
  const float nan = std::nanf("");
  for (float bad : {nan, 1e30f}) {
    smudgeDisc(bmp, 4, 0.5f, bad, 20, -1, 0);
    smudgeDisc(bmp, 4, 0.5f, 30, 20, bad, bad);
    smudgeDisc(bmp, bad, 0.5f, 30, 20, -1, 0);
  }
  smudgeDisc(nullptr, 4, 0.5f, 30, 20, -1, 0);
  drawSmudge(nullptr, 8, 500, nullptr, nullptr, 3);
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  smudge(bmp, nan, 700, {10, 10, 50, 30});
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  smudge(before, 1.7f, 700, {10, 10, 50, 30});
  EXPECT_TRUE(testsupport::bitmaps_equal(bmp, before));
  destroy_bitmap(bmp);
  destroy_bitmap(before);
}
