// Stroke capture on the picture: points, commits and the colour pick.
#include <vector>

#include "net/command.h"
#include "screen_fixture.h"
#include "session/stroke_capture.h"
#include "test_support.h"
#include "ui/stroke_input.h"

namespace {

using testsupport::bitmap_checksum;
using testsupport::image_checksum;
using Point = std::pair<int, int>;
using Points = std::vector<Point>;

void step(Point p, int edge, int buttons, bool ctrl = false, bool shift = false) {
  stroke_step(p.first, p.second, edge, buttons, ctrl, shift);
}
// Press at the first point, drag through the others; the last frame releases,
// or holds other buttons.
void stroke(const Points& path, bool ctrl = false, bool shift = false, int last = 0) {
  step(path[0], 1, MOUSE_LEFT, ctrl, shift);
  for (size_t i = 1; i + 1 < path.size(); i++) step(path[i], 0, MOUSE_LEFT, ctrl, shift);
  step(path.back(), 0, last, ctrl, shift);
}
// A curved path with turns, so that many points get fixed.
Points wavy(Point from, int steps) {
  Points path{from};
  for (int i = 1; i <= steps; i++)
    path.push_back({from.first + i * 6, from.second + ((i / 5) % 2 ? 5 : -5) * (i % 5)});
  return path;
}
// Draws queued entry i onto canvas as every client does; the points decoded.
Points drawn_points(Image* canvas, uint16_t i) {
  apply_command(canvas, queue_at(&board.command_queue, i));
  Points points;
  for (int k = 0; k < point_list.count; k++) points.push_back({point_list.xs[k], point_list.ys[k]});
  return points;
}
// The picture part of BackBuffer shows exactly this canvas.
bool screen_shows(const Image* canvas) {
  const Image back = bitmap_image(BackBuffer);
  const Image view = image_part(&back, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  return testsupport::images_equal(&view, canvas);
}

// A click, a move away and back, a cancelled stroke, a failing encoder and an
// offline stroke send nothing; only the last draws. Fixed segments settle on
// the stroke layer as a rebuild draws them. A right press picks the colour.
TEST_F(ScreenTest, StrokesThatSendNothingAndTheColourPick) {
  board.connected = true;
  testsupport::fill_rect(&LocalCanvas, 400, 300, 440, 340, pack_pixel(10, 200, 30));
  const uint64_t before = image_checksum(&LocalCanvas);
  blit_image(&LocalCanvas, BackBuffer, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  stroke({{100, 100}, {100, 100}});
  stroke({{100, 100}, {102, 100}}, false, false, MOUSE_LEFT);  // too short to fix a point
  EXPECT_FALSE(screen_shows(&LocalCanvas));  // the tail, on BackBuffer
  step({100, 100}, 0, 0);
  EXPECT_TRUE(screen_shows(&LocalCanvas));
  stroke({{100, 100}, {103, 100}}, false, false, MOUSE_LEFT);
  EXPECT_EQ(board.stroke.points.count, 3u);  // a path of 3 fixes a point
  stroke(wavy({100, 100}, 30), false, false, MOUSE_LEFT);
  EXPECT_GT(testsupport::count_differences(&StrokeLayer, &LocalCanvas), 20);  // settled segments
  const uint64_t layer = image_checksum(&StrokeLayer);
  stroke_preview_rebuild(&board.stroke, &StrokeLayer, &LocalCanvas, board.colour.rgb);
  EXPECT_EQ(image_checksum(&StrokeLayer), layer);
  step({300, 100}, 0, MOUSE_LEFT | MOUSE_RIGHT);
  EXPECT_FALSE(stroke_in_progress(&board.stroke));
  EXPECT_TRUE(screen_shows(&LocalCanvas));
  step({320, 130}, 0, MOUSE_LEFT);
  step({340, 150}, 0, 0);

  BITMAP* panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
  step({420, 320}, 2, MOUSE_RIGHT);
  // The square's mode-seeking average, (10, 200, 29.99999), for pointer and panel.
  expect_rgb(CursorSprite, 2, 0, 10, 200, 29);
  EXPECT_NEAR(board.colour.hsv[0], 126, 1);
  const uint64_t shown = bitmap_checksum(panel);
  draw_colour_panel(panel);
  EXPECT_EQ(bitmap_checksum(panel), shown);
  colour_panel_forget();
  destroy_bitmap(panel);

  board.tools.drawing_tool = DRAWING_TYPE_COUNT;  // no such tool: nothing to encode
  stroke(wavy({100, 100}, 20));
  const ChatLine& last = board.chat_log.lines[(board.chat_log.head + CHAT_LOG_SLOTS - 1) % CHAT_LOG_SLOTS];
  EXPECT_NE(std::string(last.text).find("Error initiating drawing command."), std::string::npos);
  EXPECT_EQ(image_checksum(&LocalCanvas), before);
  board.connected = false;
  board.tools.drawing_tool = TOOL_PEN;
  stroke(wavy({100, 100}, 20));
  EXPECT_NE(image_checksum(&LocalCanvas), before);
  EXPECT_EQ(queue_count(&board.command_queue), 0);
  EXPECT_EQ(byte_buffer_used(&board.outgoing), 0u);
}

// Every tool draws its stroke as every client draws the message sent. Shift
// keeps the ends, Ctrl snaps to the grid, a scribble stops at 255 points.
TEST_F(ScreenTest, CommittedStrokesAreWhatEveryClientDrawsShiftCtrlAndThe255PointCap) {
  board.connected = true;
  set_colour(20, 40, 200);
  const int types[] = {MSG_PEN, MSG_PENCIL, MSG_BRUSH, MSG_CHALK, MSG_SMUDGE, MSG_STAMP};
  Image* other = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);  // another client
  image_copy_all(other, &LocalCanvas);
  for (int tool = TOOL_PEN; tool <= TOOL_STAMP; tool++) {
    SCOPED_TRACE(ToolTable[tool].name);
    board.tools.drawing_tool = tool;
    stroke(wavy({200, 300}, 60));
    ASSERT_EQ(queue_count(&board.command_queue), tool + 1);
    Message* m = queue_at(&board.command_queue, tool);
    EXPECT_EQ(m->type, uint32_t(types[tool]));
    EXPECT_GT(testsupport::count_differences(&LocalCanvas, other), 100);
    EXPECT_TRUE(screen_shows(&LocalCanvas));
    apply_command(other, m);
    EXPECT_TRUE(testsupport::images_equal(&LocalCanvas, other));
  }

  board.tools.drawing_tool = TOOL_PEN;
  Points path = wavy({100, 100}, 30);
  path.push_back({300, 200});
  stroke(path, false, true);
  path = wavy({101, 99}, 40);
  path.push_back({355, 250});
  stroke(path, true);
  step({100, 100}, 1, MOUSE_LEFT);
  Points fixed;
  // Every zigzag step turns sharply, so every frame fixes a point.
  for (int i = 1; i < 400; i++) {
    step({100 + (i % 2) * 40, 100 + i}, 0, MOUSE_LEFT);
    if (board.stroke.points.count == 255 && fixed.empty())
      for (int k = 0; k < 254; k++) fixed.push_back({board.stroke.points.xs[k], board.stroke.points.ys[k]});
  }
  step({500, 600}, 0, 0);
  ASSERT_EQ(queue_count(&board.command_queue), 9);
  EXPECT_EQ(drawn_points(other, 6), (Points{{100, 100}, {300, 200}}));
  Points snapped = drawn_points(other, 7);
  ASSERT_GT(snapped.size(), 4u);
  EXPECT_EQ(snapped[0], (Point{101, 99}));
  EXPECT_EQ(snapped.back(), (Point{360, 252}));
  for (size_t k = 1; k < snapped.size(); k++)
    EXPECT_TRUE(snapped[k].first % 12 == 0 && snapped[k].second % 12 == 0) << "point " << k;
  Points points = drawn_points(other, 8);
  ASSERT_EQ(points.size(), 255u);
  EXPECT_EQ(points.back(), (Point{500, 600}));
  EXPECT_EQ(Points(points.begin(), points.end() - 1), fixed);
  size_t total = 0;
  for (uint16_t i = 0; i < queue_count(&board.command_queue); i++)
    total += FRAME_HEADER_SIZE + message_length(queue_at(&board.command_queue, i));
  EXPECT_EQ(byte_buffer_used(&board.outgoing), total);
  EXPECT_TRUE(testsupport::images_equal(&LocalCanvas, other));
  testsupport::free_image(other);
}

// A straight run keeps its points apart: past the first, the next is fixed
// only once more than 100 pixels of path have gone by.
TEST(StrokeCapture, AStraightRunFixesItsNextPointPastAHundredPixels) {
  StrokeCapture c = {};
  EXPECT_EQ(stroke_capture_step(&c, 0, 0, 1, MOUSE_LEFT, false, false).outcome, STROKE_STARTED);
  for (int x = 1; x <= 110; ++x) stroke_capture_step(&c, x, 0, 0, MOUSE_LEFT, false, false);
  ASSERT_EQ(c.points.count, 4u);
  EXPECT_EQ(Points({{c.points.xs[1], 0}, {c.points.xs[2], 0}, {c.points.xs[3], 0}}), Points({{3, 0}, {104, 0}, {110, 0}}));
  const StrokeStep released = stroke_capture_step(&c, 111, 0, 0, 0, false, false);
  EXPECT_EQ(released.outcome, STROKE_RELEASED);
  EXPECT_EQ(c.points.count, 4u);  // still there for the commit
}

}  // namespace
