// The drawing-tool panels: slider values at both ends, the preview's use of
// the random streams, the slider graphics, and the sample picture.
#include <allegro.h>
#include <gtest/gtest.h>

#include "input_fixture.h"
#include "test_support.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

namespace {

using testsupport::bitmaps_equal;
using testsupport::count_differences;

class ToolPanelTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    tool_settings_reset();
    SamplePicture = testsupport::make_pattern(160, 120);
    set_colour(200, 30, 40);
  }
};

using Handler = BITMAP* (*)(BITMAP*, int, int, int, int);

TEST_F(ToolPanelTest, PanelsHaveOneOrTwoSliderBands) {
  struct {
    Handler handler;
    int height;
  } cases[] = {{pencil_panel_handler, 152}, {brush_panel_handler, 184},
               {chalk_panel_handler, 152},  {smudge_panel_handler, 184},
               {stamp_panel_handler, 184}};
  for (auto& c : cases) {
    BITMAP* panel = c.handler(nullptr, 0, 0, 0, 0);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->w, 160);
    EXPECT_EQ(panel->h, c.height);
    // Nothing changed: no redraw.
    EXPECT_EQ(c.handler(panel, 0, 0, 50, 130), nullptr);
    destroy_bitmap(panel);
  }
}

TEST_F(ToolPanelTest, PencilSliderEnds) {
  BITMAP* panel = pencil_panel_handler(nullptr, 0, 0, 0, 0);
  EXPECT_EQ(pencil_panel_handler(panel, 1, 0, 0, 120), panel);
  EXPECT_FLOAT_EQ(tool_settings.pencil_size, 1.5f);
  EXPECT_EQ(pencil_panel_handler(panel, 1, 0, 159, 151), panel);
  EXPECT_EQ(tool_settings.pencil_size, static_cast<float>(1.5 + 159.0 / 160.0 * 6.5));
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, StampGapRangesFromZeroToJustUnderHundred) {
  BITMAP* panel = stamp_panel_handler(nullptr, 0, 0, 0, 0);
  stamp_panel_handler(panel, 1, 0, 0, 152);
  EXPECT_EQ(tool_settings.stamp_value2, 0.0f);
  stamp_panel_handler(panel, 1, 0, 159, 183);
  EXPECT_LT(tool_settings.stamp_value2, 100.0f);
  EXPECT_FLOAT_EQ(tool_settings.stamp_value2, 99.375f);
  EXPECT_FLOAT_EQ(tool_settings.stamp_size, 3.5f);
  // The size band is the upper one.
  stamp_panel_handler(panel, 1, 0, 80, 151);
  EXPECT_FLOAT_EQ(tool_settings.stamp_size, 4.75f);
  EXPECT_FLOAT_EQ(tool_settings.stamp_value2, 99.375f);
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, BrushAndSmudgeSecondValuesUseTheirOwnRanges) {
  BITMAP* panel = brush_panel_handler(nullptr, 0, 0, 0, 0);
  brush_panel_handler(panel, 1, 0, 80, 170);
  EXPECT_FLOAT_EQ(tool_settings.brush_value2, 250.5f);
  EXPECT_FLOAT_EQ(tool_settings.brush_size, 3.5f);
  destroy_bitmap(panel);
  panel = smudge_panel_handler(nullptr, 0, 0, 0, 0);
  smudge_panel_handler(panel, 1, 0, 0, 183);
  EXPECT_FLOAT_EQ(tool_settings.smudge_value2, 1.0f);
  smudge_panel_handler(panel, 1, 0, 40, 140);
  EXPECT_FLOAT_EQ(tool_settings.smudge_size, static_cast<float>(1.7f + 0.25 * (12.0 - 1.7f)));
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, PressesOutsideTheSlidersChangeNothing) {
  BITMAP* panel = chalk_panel_handler(nullptr, 0, 0, 0, 0);
  EXPECT_EQ(chalk_panel_handler(panel, 1, 0, 80, 119), nullptr);  // preview area
  EXPECT_EQ(chalk_panel_handler(panel, 2, 0, 80, 130), nullptr);  // right press
  EXPECT_EQ(chalk_panel_handler(panel, 1, 0, 80, 152), nullptr);  // below the panel
  EXPECT_FLOAT_EQ(tool_settings.chalk_size, 5.5f);
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, GrainyPreviewsAreRepeatableAndLeaveTheLocalStreamAlone) {
  Handler grainy[] = {pencil_panel_handler, brush_panel_handler, chalk_panel_handler};
  for (Handler handler : grainy) {
    seedRandom(77);
    BITMAP* first = handler(nullptr, 0, 0, 0, 0);
    uint32_t after_preview = nextRandom();
    seedRandom(77);
    EXPECT_EQ(after_preview, nextRandom());  // the preview drew nothing from it
    EXPECT_EQ(random_selected_stream(), LOCAL_STREAM);
    BITMAP* second = handler(nullptr, 0, 0, 0, 0);  // the local stream has moved on
    EXPECT_TRUE(bitmaps_equal(first, second));
    // The demo stroke was drawn over the sample picture.
    BITMAP* preview = create_sub_bitmap(first, 0, 0, 160, 120);
    EXPECT_GT(count_differences(preview, SamplePicture), 100);
    destroy_bitmap(preview);
    destroy_bitmap(first);
    destroy_bitmap(second);
  }
}

TEST_F(ToolPanelTest, SliderBandsShowWedgeRampAndMarkers) {
  // Stamp ranges are exact in binary, so the markers land on whole columns.
  BITMAP* panel = stamp_panel_handler(nullptr, 0, 0, 0, 0);
  stamp_panel_handler(panel, 1, 0, 40, 130);   // size 3.125: marker at column 40
  stamp_panel_handler(panel, 1, 0, 100, 170);  // gap 62.5: marker at column 100
  struct Px {
    int x, y, r, g, b;
  } fixed[] = {
      {0, 120, 255, 255, 255}, {0, 150, 255, 255, 255},  // wedge: left end almost all white,
      {159, 125, 0, 0, 0},     {159, 151, 0, 0, 0},      // right end almost all black,
      {80, 134, 255, 255, 255}, {80, 136, 0, 0, 0},      // 16 rows high halfway
      {0, 152, 0, 0, 0}, {10, 160, 15, 15, 15}, {159, 183, 253, 253, 253},  // ramp: 255 * i / 160
      {38, 126, 255, 0, 0}, {42, 146, 255, 0, 0},  // markers: red at +-2,
      {37, 127, 0, 0, 0},   {43, 145, 0, 0, 0},    // black at +-3
      {98, 158, 255, 0, 0}, {103, 177, 0, 0, 0},
  };
  for (const Px& p : fixed) EXPECT_TRUE(pixel_is(panel, p.x, p.y, p.r, p.g, p.b)) << p.x << "," << p.y;
  EXPECT_FALSE(pixel_is(panel, 40, 152 + 6, 255, 0, 0));
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, SamplePictureIsTheSameOnEveryRun) {
  random_reset();
  BITMAP* first = make_sample_picture();
  unsigned used = random_position(LOCAL_STREAM);
  random_reset();
  BITMAP* second = make_sample_picture();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->w, 160);
  EXPECT_EQ(first->h, 120);
  EXPECT_TRUE(bitmaps_equal(first, second));
  EXPECT_EQ(random_position(LOCAL_STREAM), used);
  EXPECT_EQ(StrokePoints.count, 0u);
  // Six strokes over plain paper.
  BITMAP* paper = create_bitmap_ex(32, 160, 120);
  resetCanvas(paper);
  EXPECT_GT(count_differences(first, paper), 500);
  destroy_bitmap(paper);
  destroy_bitmap(first);
  destroy_bitmap(second);
}

}  // namespace
