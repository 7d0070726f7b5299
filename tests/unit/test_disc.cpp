// The disc rasteriser, its span fill and the stamp.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paint/disc.h"
#include "paint/stamp.h"
#include "guarded_bitmap.h"
#include "test_support.h"

namespace {

constexpr int GUARD = 16;

// A target filled grey inside a guard border.
struct Guarded : testsupport::GuardedBitmap {
  Guarded(int w, int h) : GuardedBitmap(w, h, GUARD, makecol32(100, 100, 100)) {}
  BITMAP* inner() const { return target; }
};

}  // namespace

TEST(Disc, SolidCentreAndSoftRim) {
  BITMAP* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
  softDisc(bmp, 20.0f, 20.0f, 200, 100, 50, 1.0f, 8.0f);
  // Row offsets run from 1 - R to R; the centre row covers columns 13..27 in full.
  // Row 13 (offset -7) spans 18..23; its left end at 17 is 0.384 inside the rim.
  const int solid[][2] = {{20, 20}, {14, 20}, {13, 20}, {27, 20}, {18, 13}, {23, 13}};
  const int clear[][2] = {{20, 30}, {29, 20}, {26, 26}, {12, 20}, {28, 20}, {20, 12}, {20, 28}, {24, 13}};
  for (const auto& p : solid) EXPECT_EQ(makecol32(200, 100, 50), getpixel(bmp, p[0], p[1])) << p[0] << "," << p[1];
  for (const auto& p : clear) EXPECT_EQ(makecol32(0, 0, 0), getpixel(bmp, p[0], p[1])) << p[0] << "," << p[1];
  EXPECT_NE(makecol32(0, 0, 0), getpixel(bmp, 20, 13));
  EXPECT_NE(makecol32(0, 0, 0), getpixel(bmp, 20, 27));
  EXPECT_EQ(makecol32(77, 38, 19), getpixel(bmp, 17, 13));
  BITMAP* black = testsupport::make_filled(40, 40, 0, 0, 0);
  long painted = testsupport::count_differences(bmp, black);
  EXPECT_NEAR(M_PI * 64, painted, 30);

  // Below radius 0.5 there are no rows at all; a centre that is not a number paints nothing.
  clear_to_color(bmp, makecol32(0, 0, 0));
  softDisc(bmp, 20.0f, 20.0f, 255, 255, 255, 1.0f, 0.49f);
  softDisc(bmp, NAN, 20.0f, 255, 255, 255, 1.0f, 5.0f);
  softDisc(bmp, 20.0f, NAN, 255, 255, 255, 1.0f, 5.0f);
  softDisc(bmp, 20.0f, 20.0f, 255, 255, 255, 1.0f, NAN);
  softDisc(bmp, 20.0f, 20.0f, 255, 255, 255, 0.005f, 5.0f);  // coverage not above 0.005
  EXPECT_EQ(0, testsupport::count_differences(bmp, black));
  softDisc(bmp, 20.3f, 20.6f, 255, 255, 255, 1.0f, 2.0f);
  EXPECT_GT(testsupport::count_differences(bmp, black), 0);
  destroy_bitmap(black);
  destroy_bitmap(bmp);
}

TEST(Disc, SpanClipsToTheRow) {
  BITMAP* bmp = testsupport::make_filled(10, 4, 0, 0, 0);
  BITMAP* black = testsupport::make_filled(10, 4, 0, 0, 0);
  blendSpan(bmp, -5, 1, 30, 255, 255, 255, 1.0f);
  EXPECT_EQ(10, testsupport::count_differences(bmp, black));
  blendSpan(bmp, 2, 2, 4, 100, 100, 100, 0.5f);
  EXPECT_EQ(50, getr32(getpixel(bmp, 2, 2)));  // 100 * 0.5 + 0.5
  EXPECT_EQ(13, testsupport::count_differences(bmp, black));
  blendSpan(bmp, 0, -1, 9, 255, 255, 255, 1.0f);
  blendSpan(bmp, 0, 4, 9, 255, 255, 255, 1.0f);
  blendSpan(bmp, 0, 3, 9, 255, 255, 255, 0.005f);
  blendSpan(bmp, 5, 3, 4, 255, 255, 255, 1.0f);
  EXPECT_EQ(13, testsupport::count_differences(bmp, black));
  destroy_bitmap(black);
  destroy_bitmap(bmp);
}

TEST(Disc, EdgesPaintOnlyTheOnBitmapPart) {
  // Centres with few fraction bits, so that moving them by whole pixels
  // changes no rounding.
  const float centres[][2] = {{0.25f, 10.5f}, {-3.75f, 6.0f}, {30.5f, -2.25f}, {33.0f, 21.75f},
                              {-1.5f, -1.5f}, {31.75f, 23.5f}, {16.0f, 25.5f}, {12.25f, -7.0f}};
  for (const auto& c : centres) {
    for (float radius : {0.7f, 3.4f, 8.0f, 12.0f}) {
      Guarded g(32, 24);
      softDisc(g.inner(), c[0], c[1], 250, 0, 0, 0.8f, radius);
      ASSERT_EQ(0, g.border_changes()) << c[0] << "," << c[1] << " r " << radius;
      // The same disc on a large bitmap, seen through the same window.
      // Conversions truncate toward zero, so the column and row just left of
      // and above the bitmap fold onto column and row 0; compare the rest.
      BITMAP* big = testsupport::make_filled(32 + 64, 24 + 64, 100, 100, 100);
      softDisc(big, c[0] + 32, c[1] + 32, 250, 0, 0, 0.8f, radius);
      for (int y = 1; y < 24; ++y)
        for (int x = 1; x < 32; ++x)
          ASSERT_EQ(getpixel(big, x + 32, y + 32), getpixel(g.inner(), x, y))
              << x << "," << y << " centre " << c[0] << "," << c[1] << " r " << radius;
      destroy_bitmap(big);
    }
  }
}

TEST(Stamp, DiscsOneDiameterApartAtGapZero) {
  // Gap 0: one diameter apart; shorter than a spacing: the first disc only;
  // out-of-range size and gap are clamped (gap 100 at size 1.5: 30 apart).
  const struct {
    float size, gap;
    int16_t x1;
    float step, radius;
  } cases[] = {{8.0f, 0.0f, 100, 16, 8.0f}, {50.0f, -4.0f, 30, 16, 8.0f}, {0.0f, 250.0f, 100, 30, 1.5f}};
  for (const auto& c : cases) {
    BITMAP* got = testsupport::make_filled(140, 60, 10, 10, 10);
    BITMAP* want = testsupport::make_filled(140, 60, 10, 10, 10);
    int16_t xs[] = {20, c.x1}, ys[] = {30, 30};
    drawStamp(got, 30, 200, 90, c.size, c.gap, xs, ys, 2);
    for (float x = 20; x <= c.x1; x += c.step) softDisc(want, x, 30.0f, 30, 200, 90, 1.0f, c.radius);
    EXPECT_TRUE(testsupport::bitmaps_equal(want, got)) << "size " << c.size << " gap " << c.gap;
    destroy_bitmap(want);
    destroy_bitmap(got);
  }
}

TEST(Stamp, ZeroLengthStrokePaintsNothingAndEdgesStayInside) {
  Guarded g(50, 40);
  int16_t same[] = {25, 25, 25}, samey[] = {20, 20, 20};
  drawStamp(g.inner(), 0, 0, 0, 8.0f, 0.0f, same, samey, 3);
  EXPECT_EQ(0, g.target_changes());
  std::vector<int16_t> xs = {-5, 0, 49, 55, 49, 0, -3}, ys = {-6, 0, 0, 20, 39, 45, 20};
  drawStamp(g.inner(), 0, 0, 0, 8.0f, 0.0f, xs.data(), ys.data(), xs.size());
  EXPECT_GT(g.target_changes(), 200);
  EXPECT_EQ(0, g.border_changes());
}

TEST(Stamp, PinnedStroke) {
  BITMAP* bmp = testsupport::make_pattern(912, 684);
  std::vector<int16_t> xs = {30, 200, 420, 610, 700, 880, 650, 300, 120}, ys = {600, 500, 620, 380, 100, 40, 300, 200, 20};
  drawStamp(bmp, 15.0f, 150.0f, 99.5f, 6.5f, 20.0f, xs.data(), ys.data(), xs.size());
  EXPECT_EQ(1518476845628864280ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
}
