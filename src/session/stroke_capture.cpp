#include "session/stroke_capture.h"

#include <algorithm>
#include <cmath>

#include "paint/image.h"
#include "paint/pen.h"
#include "session/colour_choice.h"

StrokePointList StrokePoints = {};
float path_length = 0;
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

void fix_point(const StrokeHooks* hooks, unsigned n, int cx, int cy) {
  path_length = 0;
  set_point(n - 1, cx, cy);
  set_point(n, cx, cy);
  if (n + 1 > STROKE_POINTS_MAX) return;  // full: only the floating point moves on
  StrokePoints.count = n + 1;
  // Segment n - 3 depends on points up to n - 1, all fixed now: it is final.
  if (StrokePoints.count > 3 && hooks->settled) hooks->settled(n - 3);
}

bool stroke_has_extent() {
  const StrokePointList& p = StrokePoints;
  return p.count > 2 || (p.count == 2 && (p.xs[0] != p.xs[1] || p.ys[0] != p.ys[1]));
}

void start_stroke(const StrokeHooks* hooks, int cx, int cy) {
  StrokePoints.count = 2;
  set_point(0, cx, cy);
  set_point(1, cx, cy);
  path_length = 0;
  if (hooks->started) hooks->started();
}

void extend_stroke(const StrokeHooks* hooks, int cx, int cy, int buttons, bool shift) {
  const unsigned n = StrokePoints.count;
  double step = std::hypot(static_cast<double>(cx - last_canvas_pos.x),
                           static_cast<double>(cy - last_canvas_pos.y));
  path_length = static_cast<float>(path_length + step);

  if (!shift && should_fix_point(n, cx, cy))
    fix_point(hooks, n, cx, cy);
  else
    set_point(n - 1, cx, cy);

  if (buttons & MOUSE_RIGHT) {
    StrokePoints.count = 0;
    if (hooks->cancelled) hooks->cancelled();
  } else if (buttons & MOUSE_LEFT) {
    bool moved = cx != last_canvas_pos.x || cy != last_canvas_pos.y;
    if (moved && StrokePoints.count > 1 && hooks->moved) hooks->moved();
  } else {
    // Released: a click without movement sends nothing.
    if (hooks->released) hooks->released(stroke_has_extent());
    StrokePoints.count = 0;
  }
}

}  // namespace

void stroke_capture_step(const StrokeHooks* hooks, const Image* picture, int cx, int cy, int button_edge,
                         int buttons, bool ctrl, bool shift) {
  if (button_edge == 1) {
    start_stroke(hooks, cx, cy);
  } else if (StrokePoints.count > 0) {
    if (ctrl) {
      cx = snap(cx);
      cy = snap(cy);
    }
    extend_stroke(hooks, cx, cy, buttons, shift);
  } else if (button_edge == 2) {
    colour_pick(picture, cx, cy);
    if (hooks->picked) hooks->picked();
  }
  last_canvas_pos = {cx, cy};
}

float stroke_preview_settle(Image* layer, unsigned first, unsigned last, float phase) {
  return drawStrokePreview(layer, current_rgb[0], current_rgb[1], current_rgb[2], StrokePoints.xs, StrokePoints.ys,
                           StrokePoints.count, first, last, phase, nullptr);
}

void stroke_preview_rebuild(Image* layer, const Image* picture, float* phase) {
  const unsigned n = StrokePoints.count;
  image_copy_all(picture, layer);
  if (n > 3) *phase = stroke_preview_settle(layer, 0, n - 3, 0);
}

void stroke_preview_tail(Image* target, float phase, DirtyRect* tail) {
  const unsigned n = StrokePoints.count;
  drawStrokePreview(target, current_rgb[0], current_rgb[1], current_rgb[2], StrokePoints.xs, StrokePoints.ys, n,
                    n == 2 ? 0 : n - 3, n, phase, tail);
}

bool stroke_in_progress() { return StrokePoints.count > 0; }

void stroke_abandon() { StrokePoints.count = 0; }

void stroke_capture_reset() {
  StrokePoints = {};
  path_length = 0;
  last_canvas_pos = {};
}
