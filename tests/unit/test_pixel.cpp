// Pixel packing, the coverage blend, bilinear reads, the colour pick and the
// colour conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paint/hsv.h"
#include "paint/pixel.h"
#include "test_support.h"

namespace {

// The driver under a display reports other shifts than the headless one.
struct SwappedShifts {
  int r = _rgb_r_shift_32, g = _rgb_g_shift_32, b = _rgb_b_shift_32;
  SwappedShifts() {
    _rgb_r_shift_32 = 16;
    _rgb_g_shift_32 = 8;
    _rgb_b_shift_32 = 0;
  }
  ~SwappedShifts() {
    _rgb_r_shift_32 = r;
    _rgb_g_shift_32 = g;
    _rgb_b_shift_32 = b;
  }
};

}  // namespace

TEST(Pixel, PackingFollowsTheLibraryShifts) {
  for (int pass = 0; pass < 2; ++pass) {
    SwappedShifts* swapped = pass ? new SwappedShifts : nullptr;
    uint32_t p = pack_pixel(12, 200, 7);
    EXPECT_EQ(static_cast<uint32_t>(makecol32(12, 200, 7)), p);
    EXPECT_EQ(12, pixel_red(p));
    EXPECT_EQ(200, pixel_green(p));
    EXPECT_EQ(7, pixel_blue(p));
    EXPECT_EQ(0u, p >> 24);  // the spare byte stays 0
    delete swapped;
  }
}

TEST(Pixel, BlendWritesAboveThresholdAndRoundsBelow) {
  BITMAP* bmp = testsupport::make_filled(4, 4, 100, 50, 10);
  blendPixel(bmp, 1, 1, 200.7f, 20.5f, 254.99f, 1.0f);  // written, fractions cut
  EXPECT_EQ(makecol32(200, 20, 254), getpixel(bmp, 1, 1));

  blendPixel(bmp, 2, 1, 200.7f, 20.5f, 254.99f, 0.999f);  // still a blend
  EXPECT_EQ(makecol32(201, 21, 255), getpixel(bmp, 2, 1));  // e.g. 100 * 0.001 + 200.7 * 0.999 + 0.5

  blendPixel(bmp, 3, 1, 200.0f, 0.0f, 255.0f, 0.25f);
  EXPECT_EQ(makecol32(125, 38, 71), getpixel(bmp, 3, 1));  // 75 + 50 + 0.5, 37.5 + 0.5, 7.5 + 63.75 + 0.5

  blendPixel(bmp, 0, 0, 255.0f, 255.0f, 255.0f, 0.0f);  // no coverage, no change
  EXPECT_EQ(makecol32(100, 50, 10), getpixel(bmp, 0, 0));
  BITMAP* untouched = testsupport::make_filled(4, 4, 100, 50, 10);
  EXPECT_EQ(3, testsupport::count_differences(bmp, untouched));
  destroy_bitmap(untouched);
  destroy_bitmap(bmp);
}

TEST(Pixel, BlendAddressesSubBitmapsThroughTheirLines) {
  BITMAP* parent = testsupport::make_filled(20, 20, 0, 0, 0);
  BITMAP* sub = create_sub_bitmap(parent, 5, 7, 6, 6);
  ASSERT_NE(nullptr, sub);
  blendPixel(sub, 0, 0, 255.0f, 128.0f, 1.0f, 1.0f);
  blendPixel(sub, 5, 5, 100.0f, 100.0f, 100.0f, 0.5f);
  EXPECT_EQ(makecol32(255, 128, 1), getpixel(parent, 5, 7));
  EXPECT_EQ(makecol32(50, 50, 50), getpixel(parent, 10, 12));
  BITMAP* black = testsupport::make_filled(20, 20, 0, 0, 0);
  EXPECT_EQ(2, testsupport::count_differences(parent, black));
  destroy_bitmap(black);
  destroy_bitmap(sub);
  destroy_bitmap(parent);
}

TEST(Pixel, BilinearWeightsAndBounds) {
  BITMAP* bmp = testsupport::make_filled(5, 4, 0, 0, 0);
  putpixel(bmp, 1, 1, makecol32(100, 0, 255));
  putpixel(bmp, 2, 1, makecol32(200, 10, 0));
  putpixel(bmp, 1, 2, makecol32(0, 20, 0));
  putpixel(bmp, 2, 2, makecol32(40, 30, 8));
  float r = -1, g = -1, b = -1;
  ASSERT_EQ(1, sampleBilinear(bmp, 1.25f, 1.5f, &r, &g, &b));
  // weights 0.375, 0.125, 0.375, 0.125 for (1,1), (2,1), (1,2), (2,2)
  EXPECT_FLOAT_EQ(0.375f * 100 + 0.125f * 200 + 0.125f * 40, r);
  EXPECT_FLOAT_EQ(0.125f * 10 + 0.375f * 20 + 0.125f * 30, g);
  EXPECT_FLOAT_EQ(0.375f * 255 + 0.125f * 8, b);
  ASSERT_EQ(1, sampleBilinear(bmp, 1.0f, 1.0f, &r, &g, &b));
  EXPECT_EQ(100.0f, r);

  // The 2 x 2 neighbourhood must lie on the bitmap with 0.0001 to spare.
  EXPECT_EQ(1, sampleBilinear(bmp, 3.0f, 2.0f, &r, &g, &b));
  r = g = b = -7.0f;
  EXPECT_EQ(0, sampleBilinear(bmp, 4.0f, 1.0f, &r, &g, &b));
  EXPECT_EQ(0, sampleBilinear(bmp, 1.0f, 3.0f, &r, &g, &b));
  EXPECT_EQ(0, sampleBilinear(bmp, -0.5f, 1.0f, &r, &g, &b));
  EXPECT_EQ(0, sampleBilinear(bmp, 1.0f, -0.01f, &r, &g, &b));
  EXPECT_EQ(0, sampleBilinear(bmp, NAN, 1.0f, &r, &g, &b));
  EXPECT_EQ(-7.0f, r);  // outputs untouched when not found
  EXPECT_EQ(-7.0f, g);
  EXPECT_EQ(-7.0f, b);
  destroy_bitmap(bmp);
}

// The pick seeks the dominant colour of the window around the point, not the
// mean; only on-bitmap pixels count; a window wholly off the bitmap gives 0.5.
TEST(Pixel, PinnedColourPicks) {
  BITMAP* bmp = testsupport::make_pattern(40, 30);
  rectfill(bmp, 20, 0, 39, 29, makecol32(200, 40, 40));
  rectfill(bmp, 20, 0, 39, 5, makecol32(0, 0, 255));
  const struct {
    int x, y;
    float rgb[3];
  } cases[] = {{30, 12, {199.999954f, 39.9999695f, 39.9999695f}},  // 18 of 81 blue: the red is kept
               {30, 4, {14.515686f, 2.90313649f, 239.395676f}},
               {0, 0, {12.7890682f, 17.1404839f, 29.9999962f}},
               {39, 29, {200, 40, 40}},
               {21, 15, {191.273148f, 48.9323807f, 46.7865257f}},
               {-5, -5, {0.5f, 0.5f, 0.5f}}};
  for (const auto& c : cases) {
    float rgb[3];
    sampleColor(bmp, c.x, c.y, &rgb[0], &rgb[1], &rgb[2]);
    EXPECT_EQ(std::vector<float>(c.rgb, c.rgb + 3), std::vector<float>(rgb, rgb + 3)) << c.x << "," << c.y;
  }
  destroy_bitmap(bmp);
}

TEST(Colour, ConversionsTruncateAndReturnWholeChannels) {
  float h, s, v;
  rgbToHsv(255.0f, 0.0f, 0.0f, &h, &s, &v);
  EXPECT_FLOAT_EQ(0.0f, h);
  EXPECT_FLOAT_EQ(1.0f, s);
  EXPECT_FLOAT_EQ(1.0f, v);
  float h2, s2, v2;
  rgbToHsv(127.9f, 255.0f, 63.99f, &h, &s, &v);  // channels truncated first
  rgbToHsv(127.0f, 255.0f, 63.0f, &h2, &s2, &v2);
  EXPECT_EQ(h2, h);
  EXPECT_EQ(s2, s);
  EXPECT_EQ(v2, v);

  float r, g, b;
  hsvToRgb(120.0f, 1.0f, 1.0f, &r, &g, &b);
  EXPECT_EQ(0.0f, r);
  EXPECT_EQ(255.0f, g);
  EXPECT_EQ(0.0f, b);
  hsvToRgb(200.0f, 0.3f, 0.7f, &r, &g, &b);
  EXPECT_EQ(std::trunc(r), r);
  EXPECT_EQ(std::trunc(g), g);
  EXPECT_EQ(std::trunc(b), b);
  rgbToHsv(r, g, b, &h, &s, &v);
  EXPECT_NEAR(200.0f, h, 1.0f);
  EXPECT_NEAR(0.3f, s, 0.01f);
  EXPECT_NEAR(0.7f, v, 0.01f);
}
