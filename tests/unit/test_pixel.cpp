// The coverage blend and the colour pick.
#include <gtest/gtest.h>

#include <vector>

#include "paint/pixel.h"
#include "test_support.h"

// On a pixel of (100, 50, 10): above 0.999 the colour is written with its
// fractions cut; below, the blend rounds; no coverage changes nothing.
TEST(Pixel, PinnedBlends) {
  const struct {
    float rgb[3], coverage;
    int want[3];
  } cases[] = {{{200.7f, 20.5f, 254.99f}, 1.0f, {200, 20, 254}},
               {{200.7f, 20.5f, 254.99f}, 0.999f, {201, 21, 255}},
               {{200.0f, 0.0f, 255.0f}, 0.25f, {125, 38, 71}},
               {{255.0f, 255.0f, 255.0f}, 0.0f, {100, 50, 10}}};
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_filled(1, 1, 100, 50, 10);
    blendPixel(bmp, 0, 0, c.rgb[0], c.rgb[1], c.rgb[2], c.coverage);
    EXPECT_EQ(makecol32(c.want[0], c.want[1], c.want[2]), getpixel(bmp, 0, 0)) << c.coverage;
    destroy_bitmap(bmp);
  }
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
