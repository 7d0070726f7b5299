#include "ui/stroke_input.h"

#include <allegro.h>

#include <algorithm>
#include <cmath>

#include "net/command.h"
#include "net/layout.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "paint/stroke.h"
#include "session/board_session.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/hsv.h"
#include "ui/screen.h"
#include "ui/tool_settings.h"
#include "ui/tool_table.h"

StrokePointList StrokePoints = {};
float path_length = 0;
float preview_phase = 0;
DirtyRect tail_rect = {};
CanvasPos last_canvas_pos = {};

namespace {

constexpr int SNAP_GRID = 12;
constexpr double MIN_STEP = 3;              // path before a new point is considered
constexpr double MIN_SQUARED_GAP = 3.24;    // from the last fixed point
constexpr double LONG_PATH = 100;           // fix a point regardless of the turn
constexpr double TURN_THRESHOLD = 5;        // turn * path_length above this fixes a point

int16_t to_coordinate(int v) {
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

int snap(int v) { return (v + SNAP_GRID / 2) / SNAP_GRID * SNAP_GRID; }

void set_point(unsigned i, int x, int y) {
  StrokePoints.xs[i] = to_coordinate(x);
  StrokePoints.ys[i] = to_coordinate(y);
}

// Unit vector from (x0, y0) to (x1, y1); zero for a zero-length step.
void unit_vector(double x0, double y0, double x1, double y1, double* ux, double* uy) {
  double dx = x1 - x0, dy = y1 - y0;
  double len = std::sqrt(dx * dx + dy * dy);
  if (len > 0) {
    *ux = dx / len;
    *uy = dy / len;
  } else {
    *ux = *uy = 0;
  }
}

// A new point is fixed only where the path has gone far enough from the last
// one, and either turned or run long, so straight runs use few points.
bool should_fix_point(unsigned n, int cx, int cy) {
  if (path_length < MIN_STEP) return false;
  const int16_t* xs = StrokePoints.xs;
  const int16_t* ys = StrokePoints.ys;
  double dx = cx - xs[n - 2], dy = cy - ys[n - 2];
  if (dx * dx + dy * dy <= MIN_SQUARED_GAP) return false;
  if (n <= 2 || path_length > LONG_PATH) return true;
  double ax, ay, bx, by;
  unit_vector(xs[n - 2], ys[n - 2], cx, cy, &ax, &ay);
  unit_vector(xs[n - 3], ys[n - 3], xs[n - 2], ys[n - 2], &bx, &by);
  float turn = static_cast<float>(std::sqrt((ax - bx) * (ax - bx) + (ay - by) * (ay - by)));
  return static_cast<double>(turn) * path_length > TURN_THRESHOLD;
}

void fix_point(unsigned n, int cx, int cy) {
  path_length = 0;
  set_point(n - 1, cx, cy);
  set_point(n, cx, cy);
  if (n + 1 > STROKE_POINTS_MAX) return;  // full: only the floating point moves on
  StrokePoints.count = n + 1;
  if (StrokePoints.count > 3) {
    // Segment n - 3 depends on points up to n - 1, all fixed now: draw it for good.
    preview_phase = drawStrokePreview(&StrokeLayer, current_rgb[0], current_rgb[1],
                                      current_rgb[2], StrokePoints.xs, StrokePoints.ys,
                                      n + 1, n - 3, n - 2, preview_phase, nullptr);
  }
}

bool stroke_has_extent() {
  const StrokePointList& p = StrokePoints;
  return p.count > 2 || (p.count == 2 && (p.xs[0] != p.xs[1] || p.ys[0] != p.ys[1]));
}

// The finished stroke becomes one command, drawn at once exactly as every
// client will draw it, then sent and kept until the server accepts it.
void commit_stroke() {
  const ToolSlot& slot = ToolTable[drawing_tool];
  if (slot.build_command) {
    Message m = {};
    if (!slot.build_command(&m))
      show_message("Error initiating %s command.", slot.name);
    else if (board_session_submit(&board, &m) == SUBMIT_SEND_FAILED)
      board_session_disconnect(&board, "Disconnected from %s:%d");
  }
  compose_screen(BackBuffer, &LocalCanvas, true);
}

void start_stroke(int cx, int cy) {
  StrokePoints.count = 2;
  set_point(0, cx, cy);
  set_point(1, cx, cy);
  path_length = 0;
  preview_phase = 0;
  tail_rect = {};
  image_copy_all(&LocalCanvas, &StrokeLayer);
}

void extend_stroke(int cx, int cy, int buttons, bool shift) {
  const unsigned n = StrokePoints.count;
  double step = std::hypot(static_cast<double>(cx - last_canvas_pos.x),
                           static_cast<double>(cy - last_canvas_pos.y));
  path_length = static_cast<float>(path_length + step);

  if (!shift && should_fix_point(n, cx, cy))
    fix_point(n, cx, cy);
  else
    set_point(n - 1, cx, cy);

  if (buttons & MOUSE_RIGHT) {
    StrokePoints.count = 0;
    compose_screen(BackBuffer, &LocalCanvas, true);
  } else if (buttons & MOUSE_LEFT) {
    bool moved = cx != last_canvas_pos.x || cy != last_canvas_pos.y;
    if (moved && StrokePoints.count > 1) stroke_redraw_tail();
  } else {
    // Released: a click without movement sends nothing. A stroke that moved
    // away and back within the release frame still has its last tail on
    // BackBuffer, so the picture is recomposed when a tail was drawn.
    if (stroke_has_extent())
      commit_stroke();
    else if (tail_rect.w > 0 && tail_rect.h > 0)
      compose_screen(BackBuffer, &LocalCanvas, true);
    StrokePoints.count = 0;
  }
}

void pick_colour(int cx, int cy) {
  sampleColor(&LocalCanvas, to_coordinate(cx), to_coordinate(cy), &current_rgb[0],
              &current_rgb[1], &current_rgb[2]);
  rgbToHsv(current_rgb[0], current_rgb[1], current_rgb[2], &current_hsv[0], &current_hsv[1],
           &current_hsv[2]);
  rebuild_cursor();
  colour_changed(false);
  colour_panel_refresh();
}

}  // namespace

void stroke_step(int cx, int cy, int button_edge, int buttons, bool ctrl, bool shift) {
  if (button_edge == 1) {
    start_stroke(cx, cy);
  } else if (StrokePoints.count > 0) {
    if (ctrl) {
      cx = snap(cx);
      cy = snap(cy);
    }
    extend_stroke(cx, cy, buttons, shift);
  } else if (button_edge == 2) {
    pick_colour(cx, cy);
  }
  last_canvas_pos = {cx, cy};
}

bool stroke_in_progress() { return StrokePoints.count > 0; }

void stroke_abandon() { StrokePoints.count = 0; }

void stroke_redraw_tail() {
  const unsigned n = StrokePoints.count;
  if (n < 2 || !BackBuffer || !StrokeLayer.pixels) return;
  blit_image(&StrokeLayer, BackBuffer, tail_rect.x - ox, tail_rect.y - oy, tail_rect.x, tail_rect.y,
             tail_rect.w, tail_rect.h);
  add_dirty_rect(tail_rect);
  unsigned first = n == 2 ? 0 : n - 3;
  Image back = bitmap_image(BackBuffer);
  drawStrokePreview(&back, current_rgb[0], current_rgb[1], current_rgb[2], StrokePoints.xs,
                    StrokePoints.ys, n, first, n, preview_phase, &tail_rect);
  add_dirty_rect(tail_rect);
}

void stroke_rebuild_layer() {
  const unsigned n = StrokePoints.count;
  if (n == 0) return;
  image_copy_all(&LocalCanvas, &StrokeLayer);
  if (n > 3)
    preview_phase = drawStrokePreview(&StrokeLayer, current_rgb[0], current_rgb[1],
                                      current_rgb[2], StrokePoints.xs, StrokePoints.ys, n, 0,
                                      n - 3, 0, nullptr);
}

int build_drawing_command(Message* m) {
  const StrokePointList& p = StrokePoints;
  const ToolSettings& t = tool_settings;
  // The values each layout carries, in its order; unused ones are ignored.
  const float values[DRAWING_TYPE_COUNT][2] = {
      {0, 0}, {t.pencil_size, 0}, {t.brush_size, t.brush_value2},
      {t.chalk_size, 0}, {t.smudge_size, t.smudge_value2}, {t.stamp_size, t.stamp_value2},
  };
  if (drawing_tool < 0 || drawing_tool >= DRAWING_TYPE_COUNT) return 0;
  const float* v = values[drawing_tool];
  return encode_command(m, COMMAND_LAYOUTS[drawing_tool], board.own_user_id, current_rgb[0],
                        current_rgb[1], current_rgb[2], v[0], v[1], p.xs, p.ys, p.count);
}

void stroke_input_reset() {
  StrokePoints = {};
  path_length = 0;
  preview_phase = 0;
  tail_rect = {};
  last_canvas_pos = {};
}
