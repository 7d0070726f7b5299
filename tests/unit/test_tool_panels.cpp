// The tool panels: the Paint panel and the drawing tools' slider panels.
#include <cstring>
#include <vector>

#include "paint/random.h"
#include "screen_fixture.h"
#include "session/hsv.h"
#include "session/tool_values.h"
#include "test_support.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

namespace {

// The colour arithmetic below the user interface matches the desktop library's
// to the bit: every channel triple, and every hue, saturation and value that a
// press on the square or the strip can make.
TEST(ColourArithmetic, AgreesWithTheGraphicsLibraryOnEveryInputThePanelReaches) {
  int differing = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        float ours[3], theirs[3];
        rgbToHsv(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), &ours[0], &ours[1], &ours[2]);
        rgb_to_hsv(r, g, b, &theirs[0], &theirs[1], &theirs[2]);
        differing += std::memcmp(ours, theirs, sizeof ours) != 0;
      }
  for (int row = 0; row <= 256; ++row)
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        const float h = static_cast<float>(row * 1.40625), s = static_cast<float>(y / 255.0),
                    v = static_cast<float>(x / 255.0);
        float ours[3];
        int theirs[3];
        hsvToRgb(h, s, v, &ours[0], &ours[1], &ours[2]);
        hsv_to_rgb(h, s, v, &theirs[0], &theirs[1], &theirs[2]);
        for (int c = 0; c < 3; ++c) differing += static_cast<int>(ours[c]) != theirs[c];
      }
  EXPECT_EQ(differing, 0);
}

// Square, hue strip, swatches and markers pinned. Presses from hue 120 on the
// square, the strip and the swatches (right ones mix in 15%); colours from the
// square or strip enter the ring from entry 14; each press redraws the panel
// and the icons. Releases, keys and presses outside change nothing.
TEST_F(ScreenTest, PinnedPaintPanelsAndPressesInSequenceSetColourHueAndRing) {
  BITMAP* panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
  ASSERT_NE(panel, nullptr);
  const struct {
    float hsv[3];
    uint64_t sum;
  } pinned[] = {{{90, 0.25f, 0.5f}, 1893731323472099098u},
                {{0, 1, 1}, 2570767018428488705u},
                {{300, 0, 0}, 15044900587020086970u}};
  for (const auto& c : pinned) {
    std::copy(c.hsv, c.hsv + 3, board.colour.hsv);
    draw_colour_panel(panel);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(panel)) << c.hsv[0];
  }
  auto press = [panel](int e, int x, int y) { return colour_panel_handler(panel, e, 0, x, y); };
  set_colour(1, 2, 3);
  const int ignored[][3] = {{0, 10, 10}, {1, -1, 5}, {1, 416, 5}, {1, 5, 256}};
  for (const auto& p : ignored) EXPECT_EQ(press(p[0], p[1], p[2]), nullptr) << p[1];
  EXPECT_EQ(colour_panel_handler(panel, 0, 'a', 0, 0), nullptr);
  EXPECT_EQ(std::vector<float>(board.colour.rgb, board.colour.rgb + 3), (std::vector<float>{1, 2, 3}));
  BITMAP* small = testsupport::make_filled_bitmap(100, 300, 1, 2, 3);
  draw_colour_panel(small);
  expect_rgb(small, 0, 0, 1, 2, 3);
  destroy_bitmap(small);
  Image* tall = testsupport::make_filled(COLOUR_PANEL_W, COLOUR_PANEL_H + 4, 1, 2, 3);  // the panel's rows alone
  colour_panel_fill(&board.colour, tall);
  EXPECT_NE(testsupport::pixel_at(tall, 0, COLOUR_PANEL_H - 1), pack_pixel(1, 2, 3));
  for (int x = 0; x < COLOUR_PANEL_W; ++x) ASSERT_EQ(testsupport::pixel_at(tall, x, COLOUR_PANEL_H), pack_pixel(1, 2, 3));
  testsupport::free_image(tall);
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
  board.colour.hsv[0] = 120;
  int ring = board.colour.palette_next;
  BITMAP* fresh = create_bitmap_ex(32, panel->w, panel->h);
  for (const auto& p : presses) {
    SCOPED_TRACE(::testing::Message() << p.edge << " at " << p.x << "," << p.y);
    EXPECT_EQ(press(p.edge, p.x, p.y), panel);
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(board.colour.rgb[k], p.rgb[k]);
    EXPECT_NEAR(board.colour.hsv[0], p.hue, 0.01);
    EXPECT_EQ(board.colour.palette_next, p.next);
    EXPECT_TRUE(p.next == ring || !std::memcmp(board.colour.palette[ring], board.colour.rgb, sizeof board.colour.rgb));
    ring = p.next;
    draw_colour_panel(fresh);
    EXPECT_TRUE(testsupport::bitmaps_equal(panel, fresh));
  }
  expect_rgb(BackBuffer, 8 * 42 + 5, 767, 128, 172, 255);
  EXPECT_FLOAT_EQ(board.colour.palette[4][0], 0);
  // Greys from row 0 of the square fill entries 19 to 31; the 14th goes to entry 0.
  for (int k = 1; k <= 14; k++) press(1, k * 10, 0);
  EXPECT_EQ(0, std::memcmp(board.colour.palette[0], board.colour.rgb, sizeof board.colour.rgb));
  EXPECT_EQ(board.colour.palette_next, 1);
  EXPECT_FLOAT_EQ(board.colour.palette[1][0], 160);  // not reached by the ring yet
  colour_panel_forget();
  destroy_bitmap(fresh);
  destroy_bitmap(panel);
}

// The drawing tool's panel, the tool selected as the tool bar does.
BITMAP* tool_panel(int tool, BITMAP* panel, int edge, int key, int x, int y) {
  selected_tool = tool;
  return drawing_panel_handler(panel, edge, key, x, y);
}

// The panels pinned; their grain leaves the local stream, which seeds real
// commands, where it was and selected. Left presses on a band set its value
// from the column; other presses change nothing.
TEST_F(ScreenTest, PinnedToolPanelsAndSliderPressesSetTheirValues) {
  Image picture;
  ASSERT_TRUE(make_sample_picture(&picture));
  EXPECT_EQ(random_position(LOCAL_STREAM), 48u);
  EXPECT_EQ(15459442272234429787u, testsupport::image_checksum(&picture));
  image_destroy(&picture);
  Image* pattern = testsupport::make_pattern(160, 120);
  ASSERT_TRUE(image_create(&SamplePicture, 160, 120));  // freed with the world
  image_copy_all(pattern, &SamplePicture);
  testsupport::free_image(pattern);
  set_colour(200, 30, 40);
  const struct {
    int tool;
    uint64_t sum;  // of a panel of one band or two: 152 or 184 rows
  } panels[] = {{TOOL_PENCIL, 17108551269857178700u},
                {TOOL_BRUSH, 11659175415297641804u},
                {TOOL_CHALK, 8453604873772768762u},
                {TOOL_SMUDGE, 13536804869800899679u},
                {TOOL_STAMP, 13491904250377305645u}};
  const unsigned local = random_position(LOCAL_STREAM);
  for (auto& c : panels) {
    BITMAP* panel = tool_panel(c.tool, nullptr, 0, 0, 0, 0);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(panel)) << c.sum;
    EXPECT_EQ(random_selected_stream(), LOCAL_STREAM);
    EXPECT_EQ(tool_panel(c.tool, panel, 0, 0, 50, 130), nullptr);
    destroy_bitmap(panel);
  }
  EXPECT_EQ(random_position(LOCAL_STREAM), local);
  const struct {
    int tool;
    int edge, x, y;
    const float* value;
    float expected;
  } presses[] = {
      {TOOL_PENCIL, 1, 0, 120, &board.tools.values[TOOL_PENCIL][0], 1.5f},
      {TOOL_PENCIL, 1, 159, 151, &board.tools.values[TOOL_PENCIL][0],
       float(1.5 + 159.0 / 160.0 * 6.5)},
      {TOOL_STAMP, 1, 0, 152, &board.tools.values[TOOL_STAMP][1], 0.0f},
      {TOOL_STAMP, 1, 159, 183, &board.tools.values[TOOL_STAMP][1], 99.375f},
      {TOOL_STAMP, 1, 80, 151, &board.tools.values[TOOL_STAMP][0], 4.75f},
      {TOOL_BRUSH, 1, 80, 170, &board.tools.values[TOOL_BRUSH][1], 250.5f},
      {TOOL_BRUSH, 1, 80, 170, &board.tools.values[TOOL_BRUSH][0], 3.5f},
      {TOOL_SMUDGE, 1, 0, 183, &board.tools.values[TOOL_SMUDGE][1], 1.0f},
      {TOOL_SMUDGE, 1, 40, 140, &board.tools.values[TOOL_SMUDGE][0],
       float(1.7f + 0.25 * (12.0 - 1.7f))},
      {TOOL_CHALK, 1, 80, 119, &board.tools.values[TOOL_CHALK][0], 5.5f},  // preview area
      {TOOL_CHALK, 2, 80, 130, &board.tools.values[TOOL_CHALK][0], 5.5f},  // right press
      {TOOL_CHALK, 1, 80, 152, &board.tools.values[TOOL_CHALK][0], 5.5f},  // below the panel
  };
  for (const auto& p : presses) {
    BITMAP* panel = tool_panel(p.tool, nullptr, 0, 0, 0, 0);
    const bool on_band = p.edge == 1 && p.y >= 120 && p.y < panel->h;
    EXPECT_EQ(on_band ? panel : nullptr, tool_panel(p.tool, panel, p.edge, 0, p.x, p.y))
        << p.x << "," << p.y;
    EXPECT_EQ(p.expected, *p.value) << p.x << "," << p.y;
    destroy_bitmap(panel);
  }
  // Stamp ranges are exact in binary, so the markers land on whole columns.
  BITMAP* panel = tool_panel(TOOL_STAMP, nullptr, 0, 0, 0, 0);
  tool_panel(TOOL_STAMP, panel, 1, 0, 40, 130);   // size 3.125: marker at column 40
  tool_panel(TOOL_STAMP, panel, 1, 0, 100, 170);  // gap 62.5: marker at column 100
  EXPECT_EQ(14214126564528290061u, testsupport::bitmap_checksum(panel));
  destroy_bitmap(panel);
}

// A tool that draws no command type encodes nothing.
TEST(ToolValues, OnlyTheDrawingToolsEncodeACommand) {
  const int16_t x = 5, y = 6;
  ToolSettings tools;
  tool_settings_reset(&tools);
  ColourChoice colour;
  colour_choice_reset(&colour);
  for (int tool : {-1, 0, DRAWING_TYPE_COUNT - 1, DRAWING_TYPE_COUNT}) {
    Message m;
    message_init(&m, MSG_CHAT);
    tools.drawing_tool = tool;
    EXPECT_EQ(encode_tool_command(&m, &tools, &colour, 1, &x, &y, 1), tool >= 0 && tool < DRAWING_TYPE_COUNT) << tool;
    EXPECT_EQ(message_length(&m) > 0, tool >= 0 && tool < DRAWING_TYPE_COUNT) << tool;
    message_free(&m);
  }
}

}  // namespace
