// The coverage blend, bilinear reads, the colour pick and the colour
// conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "paint/hsv.h"
#include "paint/pixel.h"
#include "test_support.h"

// Above 0.999 the colour is written with its fractions cut; below, the blend
// rounds; no coverage changes nothing. Blends through a sub-bitmap land on its
// parent's pixels.
TEST(Pixel, PinnedBlends) {
  const struct {
    float rgb[3], coverage;
    int want[3];
  } cases[] = {{{200.7f, 20.5f, 254.99f}, 1.0f, {200, 20, 254}},
               {{200.7f, 20.5f, 254.99f}, 0.999f, {201, 21, 255}},
               {{200.0f, 0.0f, 255.0f}, 0.25f, {125, 38, 71}},
               {{255.0f, 255.0f, 255.0f}, 0.0f, {100, 50, 10}}};
  BITMAP* parent = testsupport::make_filled(20, 20, 100, 50, 10);
  BITMAP* sub = create_sub_bitmap(parent, 5, 7, 6, 6);
  int x = 0;
  for (const auto& c : cases) {
    blendPixel(sub, x, x, c.rgb[0], c.rgb[1], c.rgb[2], c.coverage);
    EXPECT_EQ(makecol32(c.want[0], c.want[1], c.want[2]), getpixel(parent, 5 + x, 7 + x)) << c.coverage;
    ++x;
  }
  BITMAP* untouched = testsupport::make_filled(20, 20, 100, 50, 10);
  EXPECT_EQ(3, testsupport::count_differences(parent, untouched));
  destroy_bitmap(untouched);
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
  // The 2 x 2 neighbourhood must lie on the bitmap with 0.0001 to spare.
  EXPECT_EQ(1, sampleBilinear(bmp, 3.0f, 2.0f, &r, &g, &b));
  r = g = b = -7.0f;
  const float outside[][2] = {{4.0f, 1.0f}, {1.0f, 3.0f}, {-0.5f, 1.0f}, {1.0f, -0.01f}, {NAN, 1.0f}};
  for (const auto& p : outside) EXPECT_EQ(0, sampleBilinear(bmp, p[0], p[1], &r, &g, &b)) << p[0] << "," << p[1];
  EXPECT_EQ((std::vector<float>{-7, -7, -7}), (std::vector<float>{r, g, b}));  // untouched when not found
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

// Channels are truncated on the way in and come back as whole numbers.
TEST(Colour, ConversionsTruncateAndRoundTripWholeChannels) {
  float h, s, v, h2, s2, v2, r, g, b;
  rgbToHsv(127.9f, 255.0f, 63.99f, &h, &s, &v);
  rgbToHsv(127.0f, 255.0f, 63.0f, &h2, &s2, &v2);
  EXPECT_EQ((std::vector<float>{h2, s2, v2}), (std::vector<float>{h, s, v}));
  std::mt19937 gen(3);
  for (int i = 0; i < 200; ++i) {
    float in[3] = {float(gen() % 256), float(gen() % 256), float(gen() % 256)};
    rgbToHsv(in[0], in[1], in[2], &h, &s, &v);
    hsvToRgb(h, s, v, &r, &g, &b);
    EXPECT_EQ(std::vector<float>(in, in + 3), (std::vector<float>{r, g, b})) << h << " " << s << " " << v;
  }
}
