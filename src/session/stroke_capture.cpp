#include "session/stroke_capture.h"

#include <algorithm>
#include <cmath>

#include "paint/image.h"
#include "paint/pen.h"

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

void set_point(StrokePointList* p, unsigned i, int x, int y) {
  p->xs[i] = to_coordinate(x);
  p->ys[i] = to_coordinate(y);
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
bool should_fix_point(const StrokeCapture* c, unsigned n, int cx, int cy) {
  const float path_length = c->path_length;
  if (path_length < MIN_STEP) return false;
  const int16_t* xs = c->points.xs;
  const int16_t* ys = c->points.ys;
  double dx = cx - xs[n - 2], dy = cy - ys[n - 2];
  if (dx * dx + dy * dy <= MIN_SQUARED_GAP) return false;
  if (n <= 2 || path_length > LONG_PATH) return true;
  double ax, ay, bx, by;
  unit_vector(xs[n - 2], ys[n - 2], cx, cy, &ax, &ay);
  unit_vector(xs[n - 3], ys[n - 3], xs[n - 2], ys[n - 2], &bx, &by);
  float turn = static_cast<float>(std::sqrt((ax - bx) * (ax - bx) + (ay - by) * (ay - by)));
  return static_cast<double>(turn) * path_length > TURN_THRESHOLD;
}

// Fixes the floating point at the pointer; the segment it makes final, or -1.
int fix_point(StrokeCapture* c, unsigned n, int cx, int cy) {
  c->path_length = 0;
  set_point(&c->points, n - 1, cx, cy);
  set_point(&c->points, n, cx, cy);
  if (n + 1 > STROKE_POINTS_MAX) return -1;  // full: only the floating point moves on
  c->points.count = n + 1;
  // Segment n - 3 depends on points up to n - 1, all fixed now: it is final.
  return c->points.count > 3 ? int(n - 3) : -1;
}

StrokeStep start_stroke(StrokeCapture* c, int cx, int cy) {
  c->points.count = 2;
  set_point(&c->points, 0, cx, cy);
  set_point(&c->points, 1, cx, cy);
  c->path_length = 0;
  c->phase = 0;
  return {STROKE_STARTED, -1};
}

StrokeStep extend_stroke(StrokeCapture* c, int cx, int cy, int buttons, bool shift) {
  const unsigned n = c->points.count;
  double step = std::hypot(static_cast<double>(cx - c->last_pos.x), static_cast<double>(cy - c->last_pos.y));
  c->path_length = static_cast<float>(c->path_length + step);

  StrokeStep out = {STROKE_IDLE, -1};
  if (!shift && should_fix_point(c, n, cx, cy))
    out.settled = fix_point(c, n, cx, cy);
  else
    set_point(&c->points, n - 1, cx, cy);

  if (buttons & MOUSE_RIGHT) {
    c->points.count = 0;
    out.outcome = STROKE_CANCELLED;
  } else if (buttons & MOUSE_LEFT) {
    bool moved = cx != c->last_pos.x || cy != c->last_pos.y;
    if (moved && c->points.count > 1) out.outcome = STROKE_MOVED;
  } else {
    out.outcome = STROKE_RELEASED;
  }
  return out;
}

}  // namespace

StrokeStep stroke_capture_step(StrokeCapture* c, int cx, int cy, int button_edge, int buttons, bool ctrl,
                               bool shift) {
  StrokeStep out = {STROKE_IDLE, -1};
  if (button_edge == 1) {
    out = start_stroke(c, cx, cy);
  } else if (c->points.count > 0) {
    if (ctrl) {
      cx = snap(cx);
      cy = snap(cy);
    }
    out = extend_stroke(c, cx, cy, buttons, shift);
  } else if (button_edge == 2) {
    out.outcome = STROKE_PICK;
  }
  c->last_pos = {cx, cy};
  return out;
}

bool stroke_has_extent(const StrokeCapture* c) {
  const StrokePointList& p = c->points;
  return p.count > 2 || (p.count == 2 && (p.xs[0] != p.xs[1] || p.ys[0] != p.ys[1]));
}

bool stroke_in_progress(const StrokeCapture* c) { return c->points.count > 0; }

void stroke_abandon(StrokeCapture* c) { c->points.count = 0; }

void stroke_preview_settle(StrokeCapture* c, Image* layer, const float* rgb, unsigned first, unsigned last) {
  const StrokePointList& p = c->points;
  c->phase = drawStrokePreview(layer, rgb[0], rgb[1], rgb[2], p.xs, p.ys, p.count, first, last, c->phase, nullptr);
}

void stroke_preview_rebuild(StrokeCapture* c, Image* layer, const Image* picture, const float* rgb) {
  const unsigned n = c->points.count;
  image_copy_all(picture, layer);
  if (n > 3) {
    c->phase = 0;
    stroke_preview_settle(c, layer, rgb, 0, n - 3);
  }
}

void stroke_preview_tail(const StrokeCapture* c, Image* target, const float* rgb, ImageArea* tail) {
  const StrokePointList& p = c->points;
  const unsigned n = p.count;
  drawStrokePreview(target, rgb[0], rgb[1], rgb[2], p.xs, p.ys, n, n == 2 ? 0 : n - 3, n, c->phase, tail);
}
