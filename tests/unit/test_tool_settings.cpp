// The drawing-tool panels: slider values at both ends, the preview's use of
// the random streams, the slider graphics, and the sample picture.
#include "paint/random.h"
#include "screen_fixture.h"
#include "test_support.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

namespace {

class ToolPanelTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    SamplePicture = testsupport::make_pattern(160, 120);
    set_colour(200, 30, 40);
  }
};

using Handler = BITMAP* (*)(BITMAP*, int, int, int, int);

// The panels as first drawn: the preview stroke over the sample picture, then
// one or two slider bands (wedge, ramp, marker). A first call without a
// change redraws nothing. The grain comes from a stream of the preview's own:
// the local stream, which seeds real commands, neither moves nor stays
// unselected.
TEST_F(ToolPanelTest, PinnedPanels) {
  const struct {
    Handler handler;
    int height;
    uint64_t sum;
  } cases[] = {{pencil_panel_handler, 152, 17108551269857178700u},
               {brush_panel_handler, 184, 11659175415297641804u},
               {chalk_panel_handler, 152, 8453604873772768762u},
               {smudge_panel_handler, 184, 13536804869800899679u},
               {stamp_panel_handler, 184, 13491904250377305645u}};
  const unsigned local = random_position(LOCAL_STREAM);
  for (auto& c : cases) {
    BITMAP* panel = c.handler(nullptr, 0, 0, 0, 0);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->h, c.height);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(panel)) << c.height;
    EXPECT_EQ(random_selected_stream(), LOCAL_STREAM);
    EXPECT_EQ(c.handler(panel, 0, 0, 50, 130), nullptr);
    destroy_bitmap(panel);
  }
  EXPECT_EQ(random_position(LOCAL_STREAM), local);
}

// Presses in sequence on one panel per tool: left presses on a band set its
// value from the column (at both ends and in between) and redraw; presses
// elsewhere, or with the right button, change nothing.
TEST_F(ToolPanelTest, SliderPressesSetTheirValues) {
  const struct {
    Handler handler;
    int edge, x, y;
    const float* value;
    float expected;
  } presses[] = {
      {pencil_panel_handler, 1, 0, 120, &tool_settings.pencil_size, 1.5f},
      {pencil_panel_handler, 1, 159, 151, &tool_settings.pencil_size,
       float(1.5 + 159.0 / 160.0 * 6.5)},
      {stamp_panel_handler, 1, 0, 152, &tool_settings.stamp_value2, 0.0f},
      {stamp_panel_handler, 1, 159, 183, &tool_settings.stamp_value2, 99.375f},
      {stamp_panel_handler, 1, 80, 151, &tool_settings.stamp_size, 4.75f},
      {brush_panel_handler, 1, 80, 170, &tool_settings.brush_value2, 250.5f},
      {brush_panel_handler, 1, 80, 170, &tool_settings.brush_size, 3.5f},
      {smudge_panel_handler, 1, 0, 183, &tool_settings.smudge_value2, 1.0f},
      {smudge_panel_handler, 1, 40, 140, &tool_settings.smudge_size,
       float(1.7f + 0.25 * (12.0 - 1.7f))},
      {chalk_panel_handler, 1, 80, 119, &tool_settings.chalk_size, 5.5f},  // preview area
      {chalk_panel_handler, 2, 80, 130, &tool_settings.chalk_size, 5.5f},  // right press
      {chalk_panel_handler, 1, 80, 152, &tool_settings.chalk_size, 5.5f},  // below the panel
  };
  for (const auto& p : presses) {
    BITMAP* panel = p.handler(nullptr, 0, 0, 0, 0);
    const bool on_band = p.edge == 1 && p.y >= 120 && p.y < panel->h;
    EXPECT_EQ(on_band ? panel : nullptr, p.handler(panel, p.edge, 0, p.x, p.y))
        << p.x << "," << p.y;
    EXPECT_EQ(p.expected, *p.value) << p.x << "," << p.y;
    destroy_bitmap(panel);
  }
  // Stamp ranges are exact in binary, so the markers land on whole columns.
  BITMAP* panel = stamp_panel_handler(nullptr, 0, 0, 0, 0);
  stamp_panel_handler(panel, 1, 0, 40, 130);   // size 3.125: marker at column 40
  stamp_panel_handler(panel, 1, 0, 100, 170);  // gap 62.5: marker at column 100
  EXPECT_EQ(14214126564528290061u, testsupport::bitmap_checksum(panel));
  destroy_bitmap(panel);
}

TEST_F(ToolPanelTest, PinnedSamplePicture) {
  random_reset();
  BITMAP* picture = make_sample_picture();
  ASSERT_TRUE(picture);
  EXPECT_EQ(random_position(LOCAL_STREAM), 48u);  // its own fixed draws from the local stream
  EXPECT_EQ(StrokePoints.count, 0u);
  EXPECT_EQ(picture->w, 160);
  EXPECT_EQ(15459442272234429787u, testsupport::bitmap_checksum(picture));
  destroy_bitmap(picture);
}

}  // namespace
