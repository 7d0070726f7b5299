// Stroke capture: start, point fixing with Ctrl and Shift, the 255-point cap,
// cancel, commit through the drawing tool's command, and the colour pick.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/session.h"
#include "input_fixture.h"
#include "net/command.h"
#include "net/command_queue.h"
#include "net/connection.h"
#include "paint/hsv.h"
#include "test_support.h"
#include "ui/chat_log.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

namespace {

using testsupport::bitmaps_equal;
using testsupport::count_differences;

struct Point {
  int x, y;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};
using Points = std::vector<Point>;

class StrokeTest : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    tool_settings_reset();
    stroke_input_reset();
    chat_log_reset();
    ASSERT_EQ(queue_init(&command_queue), 1);
    server_connection = {};
    server_connection.socket_handle = -1;
    net_available = true;
    connected = true;
    set_colour(20, 40, 200);
  }

  void TearDown() override {
    connection_close(&server_connection);
    queue_free(&command_queue);
    connected = false;
    net_available = false;
    InputTest::TearDown();
  }

  static void frame(Point p, int edge, int buttons, bool ctrl = false, bool shift = false) {
    stroke_step(p.x, p.y, edge, buttons, ctrl, shift);
  }
  static void press(Point p, bool ctrl = false, bool shift = false) { frame(p, 1, MOUSE_LEFT, ctrl, shift); }
  static void drag(Point p, bool ctrl = false, bool shift = false) { frame(p, 0, MOUSE_LEFT, ctrl, shift); }
  static void release(Point p, bool ctrl = false, bool shift = false) { frame(p, 0, 0, ctrl, shift); }

  // A curved path with turns, so that many points get fixed.
  static Points wavy_path(Point from, int steps) {
    Points path;
    for (int i = 1; i <= steps; i++)
      path.push_back({from.x + i * 6, from.y + ((i / 5) % 2 ? 5 : -5) * (i % 5)});
    return path;
  }

  static void draw_stroke(Point from, const Points& path) {
    press(from);
    for (Point p : path) drag(p);
    release(path.back());
  }

  static size_t sent_bytes() {
    const ByteBuffer& b = server_connection.send_buffer;
    return b.begin ? size_t(b.end - b.begin) : 0;
  }

  // The points of queued entry i, as every client decodes them.
  static Points queued_points(uint16_t i) {
    BITMAP* scratch = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    apply_command(scratch, queue_at(&command_queue, i));
    destroy_bitmap(scratch);
    Points points;
    for (int k = 0; k < point_list.count; k++) points.push_back({point_list.xs[k], point_list.ys[k]});
    return points;
  }

  static BITMAP* copy_of(BITMAP* src) {
    BITMAP* copy = create_bitmap_ex(32, src->w, src->h);
    blit(src, copy, 0, 0, 0, 0, src->w, src->h);
    return copy;
  }

  // The picture part of BackBuffer shows exactly this canvas.
  static bool screen_shows(BITMAP* canvas) {
    BITMAP* view = create_sub_bitmap(BackBuffer, OX, OY, CANVAS_WIDTH, CANVAS_HEIGHT);
    bool same = bitmaps_equal(view, canvas);
    destroy_bitmap(view);
    return same;
  }

  // Nothing was sent or queued, and the picture is as it was.
  static void expect_nothing_committed(BITMAP* before) {
    EXPECT_EQ(queue_count(&command_queue), 0);
    EXPECT_EQ(sent_bytes(), 0u);
    EXPECT_TRUE(bitmaps_equal(LocalCanvas, before));
    destroy_bitmap(before);
  }

  static std::string last_chat_line() {
    int last = (chat_log.head + CHAT_LOG_SLOTS - 1) % CHAT_LOG_SLOTS;
    return chat_log.lines[last].text;
  }
};

// A click in place, or a move away and back before the release, commits
// nothing and leaves no tail on the screen.
TEST_F(StrokeTest, StrokeEndingOnItsStartSendsAndDrawsNothing) {
  BITMAP* before = copy_of(LocalCanvas);
  blit(LocalCanvas, BackBuffer, 0, 0, OX, OY, CANVAS_WIDTH, CANVAS_HEIGHT);
  press({100, 100});
  EXPECT_TRUE(stroke_in_progress());
  drag({100, 100});
  release({100, 100});
  EXPECT_FALSE(stroke_in_progress());
  press({100, 100});
  drag({102, 100});  // too short to fix a point: the tail is drawn on BackBuffer
  EXPECT_FALSE(screen_shows(LocalCanvas));
  release({100, 100});  // back on the press point in the release frame
  EXPECT_TRUE(screen_shows(LocalCanvas));
  expect_nothing_committed(before);
}

TEST_F(StrokeTest, ShiftFromTheStartGivesExactlyTwoPoints) {
  press({100, 100}, false, true);
  for (Point p : wavy_path({100, 100}, 30)) drag(p, false, true);
  EXPECT_EQ(StrokePoints.count, 2u);
  release({300, 200}, false, true);
  ASSERT_EQ(queue_count(&command_queue), 1);
  EXPECT_EQ(queued_points(0), (Points{{100, 100}, {300, 200}}));
}

TEST_F(StrokeTest, CtrlSnapsEveryPointAfterTheFirstToTheGrid) {
  press({101, 99}, true);
  for (Point p : wavy_path({101, 99}, 40)) drag(p, true);
  release({355, 250}, true);
  ASSERT_EQ(queue_count(&command_queue), 1);
  Points points = queued_points(0);
  ASSERT_GT(points.size(), 4u);
  EXPECT_EQ(points[0], (Point{101, 99}));
  for (size_t k = 1; k < points.size(); k++) {
    EXPECT_EQ(points[k].x % 12, 0) << "point " << k;
    EXPECT_EQ(points[k].y % 12, 0) << "point " << k;
  }
  EXPECT_EQ(points.back(), (Point{360, 252}));
}

TEST_F(StrokeTest, LongScribbleStopsAt255PointsWithTheLastOneFollowing) {
  press({100, 100});
  std::vector<int16_t> fixed;
  int frames = 0;
  // Every zigzag step turns sharply, so every frame fixes a point.
  for (int i = 1; i < 400; i++, frames++) {
    drag({100 + (i % 2) * 40, 100 + i});
    if (StrokePoints.count == 255 && fixed.empty())
      fixed.assign(StrokePoints.xs, StrokePoints.xs + 254);
  }
  ASSERT_EQ(StrokePoints.count, 255u);
  ASSERT_FALSE(fixed.empty());
  EXPECT_EQ(0, std::memcmp(fixed.data(), StrokePoints.xs, 254 * sizeof(int16_t)));
  EXPECT_EQ(StrokePoints.xs[254], 100 + (399 % 2) * 40);
  EXPECT_EQ(StrokePoints.ys[254], 100 + 399);
  drag({500, 600});
  EXPECT_EQ(StrokePoints.count, 255u);
  EXPECT_EQ(StrokePoints.xs[254], 500);
  EXPECT_EQ(StrokePoints.ys[254], 600);
  release({500, 600});
  ASSERT_EQ(queue_count(&command_queue), 1);
  Points points = queued_points(0);
  ASSERT_EQ(points.size(), 255u);
  EXPECT_EQ(points[254], (Point{500, 600}));
}

TEST_F(StrokeTest, RightButtonDuringAStrokeCancelsIt) {
  BITMAP* before = copy_of(LocalCanvas);
  press({100, 100});
  for (Point p : wavy_path({100, 100}, 30)) drag(p);
  EXPECT_GT(StrokePoints.count, 3u);
  frame({300, 120}, 0, MOUSE_LEFT | MOUSE_RIGHT);
  EXPECT_FALSE(stroke_in_progress());
  EXPECT_TRUE(screen_shows(LocalCanvas));
  drag({320, 130});
  drag({340, 150});
  release({340, 150});
  expect_nothing_committed(before);
}

TEST_F(StrokeTest, PreviewGoesToStrokeLayerAndTheTailToBackBuffer) {
  BITMAP* before = copy_of(LocalCanvas);
  press({100, 300});
  Points path = wavy_path({100, 300}, 30);
  for (Point p : path) drag(p);
  ASSERT_GT(StrokePoints.count, 4u);
  EXPECT_TRUE(bitmaps_equal(LocalCanvas, before));
  long settled = count_differences(StrokeLayer, LocalCanvas);
  EXPECT_GT(settled, 20);
  // The live tail ends at the pointer, on BackBuffer only.
  Point end = path.back();
  EXPECT_LE(tail_rect.x, end.x + OX);
  EXPECT_GE(tail_rect.x + tail_rect.w, end.x + OX);
  EXPECT_FALSE(pixel_is(BackBuffer, end.x + OX - 1, end.y + OY, 255, 255, 255) &&
               pixel_is(BackBuffer, end.x + OX, end.y + OY, 255, 255, 255));
  EXPECT_GT(dirty_list.count, 0);
  // Rebuilding the layer from the picture draws the same settled segments.
  BITMAP* layer = copy_of(StrokeLayer);
  stroke_rebuild_layer();
  EXPECT_TRUE(bitmaps_equal(StrokeLayer, layer));
  destroy_bitmap(layer);
  destroy_bitmap(before);
}

TEST_F(StrokeTest, CommittedStrokeIsWhatEveryClientDrawsFromTheMessage) {
  const int types[] = {MSG_PEN, MSG_PENCIL, MSG_BRUSH, MSG_CHALK, MSG_SMUDGE, MSG_STAMP};
  BITMAP* pattern = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  for (int tool = TOOL_PEN; tool <= TOOL_STAMP; tool++) {
    SCOPED_TRACE(ToolTable[tool].name);
    blit(pattern, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    drawing_tool = tool;
    Points path = wavy_path({200, 300}, 60);
    draw_stroke({200, 300}, path);
    uint16_t last = queue_count(&command_queue) - 1;
    ASSERT_EQ(last, tool);
    Message* m = queue_at(&command_queue, last);
    EXPECT_EQ(m->type, uint32_t(types[tool]));
    BITMAP* expected = copy_of(pattern);
    apply_command(expected, m);
    EXPECT_TRUE(bitmaps_equal(LocalCanvas, expected));
    EXPECT_GT(count_differences(LocalCanvas, pattern), 100);
    EXPECT_TRUE(screen_shows(LocalCanvas));
    destroy_bitmap(expected);
  }
  size_t total = 0;
  for (uint16_t i = 0; i < queue_count(&command_queue); i++)
    total += FRAME_HEADER_SIZE + message_length(queue_at(&command_queue, i));
  EXPECT_EQ(sent_bytes(), total);
  destroy_bitmap(pattern);
}

TEST_F(StrokeTest, OfflineStrokesStayInTheLocalPicture) {
  connected = false;
  BITMAP* before = copy_of(LocalCanvas);
  draw_stroke({100, 100}, wavy_path({100, 100}, 20));
  EXPECT_GT(count_differences(LocalCanvas, before), 50);
  EXPECT_EQ(queue_count(&command_queue), 0);
  EXPECT_EQ(sent_bytes(), 0u);
  destroy_bitmap(before);
}

int failing_command(Message*) { return 0; }

TEST_F(StrokeTest, FailedEncoderLosesTheStrokeWithAChatLine) {
  BITMAP* before = copy_of(LocalCanvas);
  drawing_tool = TOOL_CHALK;
  ToolTable[TOOL_CHALK].build_command = failing_command;
  draw_stroke({100, 100}, wavy_path({100, 100}, 20));
  EXPECT_NE(last_chat_line().find("Error initiating Chalk command."), std::string::npos);
  expect_nothing_committed(before);
}

TEST_F(StrokeTest, RightPressWithoutStrokePicksTheColourUnderThePointer) {
  rectfill(LocalCanvas, 400, 300, 440, 340, makecol32(10, 200, 30));
  BITMAP* panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
  ASSERT_NE(panel, nullptr);
  float palette_before[PALETTE_SIZE][3];
  std::memcpy(palette_before, Palette, sizeof Palette);
  frame({420, 320}, 2, MOUSE_RIGHT);
  EXPECT_FALSE(stroke_in_progress());
  // The mode-seeking average of a uniform area is that colour, up to rounding.
  const int want[3] = {10, 200, 30};
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(current_rgb[k], want[k], 0.01);
  float hsv[3];
  rgbToHsv(current_rgb[0], current_rgb[1], current_rgb[2], &hsv[0], &hsv[1], &hsv[2]);
  EXPECT_EQ(std::vector<float>(hsv, hsv + 3), std::vector<float>(current_hsv, current_hsv + 3));
  EXPECT_NEAR(current_hsv[0], 126, 1);
  EXPECT_EQ(0, std::memcmp(palette_before, Palette, sizeof Palette));
  // The Paint panel's square now shows the picked hue.
  float r, g, b;
  hsvToRgb(current_hsv[0], 1, 1, &r, &g, &b);
  EXPECT_TRUE(pixel_is(panel, 255, 255, (int)r, (int)g, (int)b));
  // The pointer took the colour too.
  EXPECT_TRUE(pixel_is(CursorSprite, 2, 0, (int)current_rgb[0], (int)current_rgb[1],
                       (int)current_rgb[2]));
  colour_panel_forget();
  destroy_bitmap(panel);
}

TEST_F(StrokeTest, StrokesAfterChoosingPaintUseTheLastDrawingTool) {
  panel_visible = true;
  const int bar_y = TEST_SCREEN_H - 20;
  EXPECT_EQ(toolbar_panel_step(0, 1, 42 * TOOL_BRUSH + 5, bar_y), 0);
  EXPECT_EQ(toolbar_panel_step(0, 1, 42 * TOOL_PAINT + 5, bar_y), 0);
  EXPECT_EQ(selected_tool, TOOL_PAINT);
  // A press on the picture closes the bar and starts the stroke.
  int edge = toolbar_panel_step(0, 1, OX + 100, OY + 100);
  EXPECT_EQ(edge, 1);
  EXPECT_FALSE(panel_visible);
  frame({100, 100}, edge, MOUSE_LEFT);
  for (Point p : wavy_path({100, 100}, 20)) drag(p);
  release({220, 100});
  ASSERT_EQ(queue_count(&command_queue), 1);
  EXPECT_EQ(queue_at(&command_queue, 0)->type, uint32_t(MSG_BRUSH));
}

}  // namespace
