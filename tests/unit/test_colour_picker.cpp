// The Paint panel: presses on the square, the hue strip and the palette, the
// palette ring, and the panel's pixels.
#include <allegro.h>
#include <gtest/gtest.h>

#include "input_fixture.h"
#include "paint/hsv.h"
#include "test_support.h"

#include <vector>

namespace {

class ColourPickerTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
    ASSERT_NE(panel, nullptr);
  }
  void TearDown() override {
    colour_panel_forget();
    if (panel) destroy_bitmap(panel);
    InputTest::TearDown();
  }
  BITMAP* press(int edge, int x, int y) { return colour_panel_handler(panel, edge, 0, x, y); }
  void expect_current(float r, float g, float b) {
    EXPECT_FLOAT_EQ(current_rgb[0], r);
    EXPECT_FLOAT_EQ(current_rgb[1], g);
    EXPECT_FLOAT_EQ(current_rgb[2], b);
  }
  BITMAP* panel = nullptr;
};

TEST_F(ColourPickerTest, PanelIsCreatedOnceAndRedrawnOnlyOnPresses) {
  EXPECT_EQ(panel->w, 416);
  EXPECT_EQ(panel->h, 256);
  EXPECT_EQ(colour_panel(), panel);
  EXPECT_EQ(colour_panel_handler(panel, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(colour_panel_handler(panel, 0, 'a', 0, 0), nullptr);
  // Positions outside the panel never change the colour.
  set_colour(1, 2, 3);
  EXPECT_EQ(colour_panel_handler(panel, 1, 0, -1, 5), nullptr);
  EXPECT_EQ(colour_panel_handler(panel, 1, 0, 416, 5), nullptr);
  EXPECT_EQ(colour_panel_handler(panel, 1, 0, 5, 256), nullptr);
  expect_current(1, 2, 3);
  EXPECT_EQ(palette_next, 14);
}

TEST_F(ColourPickerTest, TooSmallABitmapIsLeftAlone) {
  BITMAP* small = testsupport::make_filled(100, 300, 1, 2, 3);
  BITMAP* untouched = testsupport::make_filled(100, 300, 1, 2, 3);
  draw_colour_panel(small);
  EXPECT_EQ(testsupport::count_differences(small, untouched), 0);
  destroy_bitmap(small);
  destroy_bitmap(untouched);
}

TEST_F(ColourPickerTest, SquareCornersGiveBlackWhiteAndThePureHue) {
  current_hsv[0] = 120;  // green
  EXPECT_EQ(press(1, 0, 0), panel);
  expect_current(0, 0, 0);
  press(1, 255, 0);
  expect_current(255, 255, 255);
  press(1, 255, 255);
  expect_current(0, 255, 0);
  EXPECT_EQ(std::vector<float>({120, 1, 1}), std::vector<float>(current_hsv, current_hsv + 3));
}

TEST_F(ColourPickerTest, HueStripChangesOnlyTheHueAndFillsThePalette) {
  press(1, 200, 100);
  float s = current_hsv[1], v = current_hsv[2];
  int slot = palette_next;
  press(1, 270, 128);  // hue 180
  EXPECT_FLOAT_EQ(current_hsv[0], 180);
  EXPECT_FLOAT_EQ(current_hsv[1], s);
  EXPECT_FLOAT_EQ(current_hsv[2], v);
  float r, g, b;
  hsvToRgb(180, s, v, &r, &g, &b);
  expect_current(r, g, b);
  EXPECT_FLOAT_EQ(Palette[slot][0], r);
  EXPECT_FLOAT_EQ(Palette[slot][1], g);
  EXPECT_FLOAT_EQ(Palette[slot][2], b);
  EXPECT_EQ(palette_next, slot + 1);
}

TEST_F(ColourPickerTest, PaletteIsARingStartingAtEntry14) {
  EXPECT_FLOAT_EQ(Palette[14][0], 128);
  EXPECT_FLOAT_EQ(Palette[14][1], 0);
  EXPECT_FLOAT_EQ(Palette[14][2], 255);
  current_hsv[0] = 0;
  // Press k takes value k * 10 of a grey (row 0 of the square).
  for (int k = 1; k <= 19; k++) {
    press(1, k * 10, 0);
    int written = (14 + k - 1) % 32;
    EXPECT_FLOAT_EQ(Palette[written][0], current_rgb[0]) << "press " << k;
    EXPECT_FLOAT_EQ(Palette[written][2], current_rgb[2]) << "press " << k;
  }
  float grey19;
  float dummy1, dummy2;
  hsvToRgb(0, 0, static_cast<float>(190 / 255.0), &grey19, &dummy1, &dummy2);
  EXPECT_FLOAT_EQ(Palette[0][0], grey19);
  EXPECT_EQ(palette_next, 1);
  // Entry 1 is untouched by the ring so far.
  EXPECT_FLOAT_EQ(Palette[1][0], 160);
  EXPECT_FLOAT_EQ(Palette[13][2], 255);
}

TEST_F(ColourPickerTest, RightPressMixesFifteenPercentOfThePaletteEntry) {
  set_colour(200, 100, 0);
  // Entry 4 (black) sits in column 0, row 4.
  EXPECT_EQ(press(2, 288 + 5, 4 * 32 + 5), panel);
  expect_current(170, 85, 0);
  float h, s, v;
  rgbToHsv(170, 85, 0, &h, &s, &v);
  EXPECT_FLOAT_EQ(current_hsv[0], h);
  EXPECT_FLOAT_EQ(current_hsv[2], v);
  EXPECT_EQ(palette_next, 14);
  EXPECT_FLOAT_EQ(Palette[4][0], 0);
}

TEST_F(ColourPickerTest, LeftPressOnThePaletteTakesTheEntryWithoutMovingTheRing) {
  // Entry 31 (128, 128, 255) is the bottom-right swatch.
  press(1, 415, 255);
  expect_current(128, 128, 255);
  EXPECT_EQ(palette_next, 14);
  // Entry 8 is column 1, row 0.
  press(1, 288 + 32, 0);
  expect_current(128, 255, 0);
}

TEST_F(ColourPickerTest, RightPressOnTheSquareMixesAndStillFillsThePalette) {
  set_colour(0, 0, 0);
  current_hsv[0] = 0;
  press(2, 255, 0);  // white
  expect_current(38.25f, 38.25f, 38.25f);
  EXPECT_FLOAT_EQ(Palette[14][0], 38.25f);
  EXPECT_EQ(palette_next, 15);
}

// The square of the hue (value across, saturation down), the hue strip, the
// bevelled palette swatches, and the red-and-black markers that leave the
// marked point itself uncovered.
TEST_F(ColourPickerTest, PinnedPanels) {
  const struct {
    float hsv[3];
    uint64_t sum;
  } cases[] = {{{90, 0.25f, 0.5f}, 1893731323472099098u},
                 {{0, 1, 1}, 2570767018428488705u},
                 {{300, 0, 0}, 15044900587020086970u}};
  for (const auto& c : cases) {
    for (int k = 0; k < 3; ++k) current_hsv[k] = c.hsv[k];
    draw_colour_panel(panel);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(panel)) << c.hsv[0];
  }
}

TEST_F(ColourPickerTest, PressRedrawsThePanelInTheNewColourState) {
  current_hsv[0] = 0;
  press(1, 255, 255);  // pure red, marker at (256, 256) mostly off the square
  BITMAP* before = create_bitmap_ex(32, panel->w, panel->h);
  blit(panel, before, 0, 0, 0, 0, panel->w, panel->h);
  press(1, 270, 128);  // hue 180: the square changes colour
  EXPECT_GT(testsupport::count_differences(before, panel), 256 * 200);
  destroy_bitmap(before);
}

}  // namespace
