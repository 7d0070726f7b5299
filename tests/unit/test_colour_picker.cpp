// The Paint panel: presses on the square, the hue strip and the palette, the
// palette ring, and the panel's pixels.
#include <cstring>
#include <vector>

#include "screen_fixture.h"
#include "test_support.h"

namespace {

class ColourPickerTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
    ASSERT_NE(panel, nullptr);
  }
  void TearDown() override {
    colour_panel_forget();
    if (panel) destroy_bitmap(panel);
    ScreenTest::TearDown();
  }
  BITMAP* press(int edge, int x, int y) { return colour_panel_handler(panel, edge, 0, x, y); }
  BITMAP* panel = nullptr;
};

// Presses in sequence from hue 120: square corners, the hue strip, palette
// swatches (column-major, 8 to a column) and right presses that mix in 15%.
// Colours from the square or the strip go into the palette ring; every press
// redraws the panel and the tool bar's icons. Before them: releases, keys and
// presses outside the panel change nothing; a bitmap too small is left alone.
TEST_F(ColourPickerTest, PressesInSequenceSetColourHueAndRing) {
  EXPECT_EQ(colour_panel(), panel);
  set_colour(1, 2, 3);
  const int ignored[][3] = {{0, 10, 10}, {1, -1, 5}, {1, 416, 5}, {1, 5, 256}};
  for (const auto& p : ignored) EXPECT_EQ(press(p[0], p[1], p[2]), nullptr) << p[1];
  EXPECT_EQ(colour_panel_handler(panel, 0, 'a', 0, 0), nullptr);
  EXPECT_EQ(std::vector<float>(current_rgb, current_rgb + 3), (std::vector<float>{1, 2, 3}));
  BITMAP* small = testsupport::make_filled(100, 300, 1, 2, 3);
  draw_colour_panel(small);
  EXPECT_TRUE(is_rgb(small, 0, 0, 1, 2, 3));
  destroy_bitmap(small);
  const struct {
    int edge, x, y;
    float rgb[3], hue;
    int next;
  } presses[] = {
      {1, 0, 0, {0, 0, 0}, 120, 15},                // value 0: black
      {1, 255, 0, {255, 255, 255}, 120, 16},        // saturation 0: white
      {1, 255, 255, {0, 255, 0}, 120, 17},          // the pure hue
      {1, 270, 128, {0, 255, 255}, 180, 18},        // hue strip
      {1, 415, 255, {128, 128, 255}, 240, 18},      // entry 31
      {1, 288 + 32, 0, {128, 255, 0}, 89.88f, 18},  // entry 8
      {2, 288 + 5, 4 * 32 + 5, {108.8f, 216.75f, 0}, 90, 18},  // entry 4, black
      {2, 255, 0, {130.73f, 222.4875f, 38.25f}, 90, 19},      // white from the square
  };
  current_hsv[0] = 120;
  int ring = palette_next;
  BITMAP* fresh = create_bitmap_ex(32, panel->w, panel->h);
  for (const auto& p : presses) {
    SCOPED_TRACE(::testing::Message() << p.edge << " at " << p.x << "," << p.y);
    EXPECT_EQ(press(p.edge, p.x, p.y), panel);
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(current_rgb[k], p.rgb[k]);
    EXPECT_NEAR(current_hsv[0], p.hue, 0.01);
    EXPECT_EQ(palette_next, p.next);
    if (p.next != ring) {
      EXPECT_EQ(0, std::memcmp(Palette[ring], current_rgb, sizeof current_rgb));
    }
    ring = p.next;
    draw_colour_panel(fresh);
    EXPECT_TRUE(testsupport::bitmaps_equal(panel, fresh));
  }
  expect_rgb(BackBuffer, 8 * 42 + 5, 767, 128, 172, 255);
  EXPECT_FLOAT_EQ(Palette[4][0], 0);
  destroy_bitmap(fresh);
}

TEST_F(ColourPickerTest, PaletteIsARingStartingAtEntry14) {
  // Press k takes value k * 10 of a grey (row 0 of the square); the 19th
  // goes to entry 0.
  for (int k = 1; k <= 19; k++) press(1, k * 10, 0);
  EXPECT_EQ(0, std::memcmp(Palette[0], current_rgb, sizeof current_rgb));
  EXPECT_EQ(palette_next, 1);
  EXPECT_FLOAT_EQ(Palette[1][0], 160);  // not reached by the ring yet
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

}  // namespace
