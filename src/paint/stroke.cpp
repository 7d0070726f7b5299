#include "paint/stroke.h"

#include <cmath>

#include "base/log.h"
#include "paint/canvas.h"
#include "paint/deposit.h"
#include "paint/dirty_rect.h"
#include "paint/pixel.h"
#include "paint/splat.h"
#include "paint/square_root.h"

__thread StrokeSampleBuffer StrokeSamples;

namespace {

// Appends one sample; false when the buffer is already full.
inline bool push_sample(float x, float y) {
  if (StrokeSamples.count >= STROKE_SAMPLES_MAX) return false;
  StrokeSamples.x[StrokeSamples.count] = x;
  StrokeSamples.y[StrokeSamples.count] = y;
  ++StrokeSamples.count;
  return true;
}

// Samples from A to B every s, the first one o along. A zero-length segment
// has no direction: its sample is not a number and fails every bounds test.
float sample_straight(float ax, float ay, float bx, float by, float s, float o) {
  double ex = static_cast<double>(bx) - ax, ey = static_cast<double>(by) - ay;
  float len = static_cast<float>(square_root(ex * ex + ey * ey));
  if (len < o) return static_cast<float>(static_cast<double>(o) - len);
  float dx = static_cast<float>(ex / len), dy = static_cast<float>(ey / len);
  float px = static_cast<float>(ax + static_cast<double>(dx) * o);
  float py = static_cast<float>(ay + static_cast<double>(dy) * o);
  if (!push_sample(px, py)) return 0.0f;
  float remaining = static_cast<float>(static_cast<double>(len) - o);
  while (remaining >= s) {
    px = static_cast<float>(px + static_cast<double>(dx) * s);
    py = static_cast<float>(py + static_cast<double>(dy) * s);
    if (!push_sample(px, py)) return 0.0f;
    remaining = static_cast<float>(static_cast<double>(remaining) - s);
  }
  return static_cast<float>(static_cast<double>(s) - remaining);
}

inline double bezier(double t, float p0, float c1, float c2, float p3) {
  double a = 1.0 - t;
  return a * a * a * p0 + 3.0 * t * a * a * c1 + 3.0 * t * t * a * c2 + t * t * t * p3;
}

}  // namespace

float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x,
                  float p3y, float spacing, float offset) {
  StrokeSamples.count = 0;
  float cx = p0x, cy = p0y;
  float t = 0.0f;
  float target = offset;
  for (;;) {
    double rx = static_cast<double>(p3x) - cx, ry = static_cast<double>(p3y) - cy;
    double rest2 = rx * rx + ry * ry;
    if (rest2 < static_cast<double>(target) * target)
      return static_cast<float>(target - square_root(rest2));
    float too_far = static_cast<float>((target + 0.01) * (target + 0.01));
    float too_near = static_cast<float>((target - 0.01) * (target - 0.01));
    float lo = t, hi = 1.0f, mid, qx, qy;
    for (;;) {
      mid = static_cast<float>((static_cast<double>(lo) + hi) * 0.5);
      qx = static_cast<float>(bezier(mid, p0x, c1x, c2x, p3x));
      qy = static_cast<float>(bezier(mid, p0y, c1y, c2y, p3y));
      double gx = static_cast<double>(cx) - qx, gy = static_cast<double>(cy) - qy;
      float g = static_cast<float>(gx * gx + gy * gy);
      if (g > too_far) {
        // Once the interval has shrunk to neighbouring floats the midpoint
        // cannot move any more; take it rather than loop for ever.
        if (mid == hi || mid == lo) break;
        hi = mid;
      } else if (g >= too_near) {
        break;
      } else if (static_cast<double>(hi) - lo < 0.0001) {
        break;
      } else {
        lo = mid;
      }
    }
    if (StrokeSamples.count >= STROKE_SAMPLES_MAX) return 0.0f;
    push_sample(qx, qy);
    t = mid;
    cx = qx;
    cy = qy;
    target = spacing;
  }
}

int segmentControls(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[4]) {
  if (n < 3 || i >= n - 1) return 0;
  // Tangents through the neighbouring points; the ends use the segment itself.
  unsigned before = i == 0 ? 0 : i - 1;
  unsigned after = i == n - 2 ? i + 1 : i + 2;
  float t0x = static_cast<float>(xs[i + 1] - xs[before]);
  float t0y = static_cast<float>(ys[i + 1] - ys[before]);
  float t1x = static_cast<float>(xs[i] - xs[after]);
  float t1y = static_cast<float>(ys[i] - ys[after]);
  float len0 = static_cast<float>(square_root(static_cast<double>(t0x) * t0x + static_cast<double>(t0y) * t0y));
  float len1 = static_cast<float>(square_root(static_cast<double>(t1x) * t1x + static_cast<double>(t1y) * t1y));
  if (len0 < 0.001 || len1 < 0.001) return 0;
  if (len1 <= len0) {
    double k = static_cast<double>(len1) / len0;
    t0x = static_cast<float>(t0x * k);
    t0y = static_cast<float>(t0y * k);
  } else {
    double k = static_cast<double>(len0) / len1;
    t1x = static_cast<float>(t1x * k);
    t1y = static_cast<float>(t1y * k);
  }
  c[0] = static_cast<float>(xs[i] + 0.25 * t0x);
  c[1] = static_cast<float>(ys[i] + 0.25 * t0y);
  c[2] = static_cast<float>(xs[i + 1] + 0.25 * t1x);
  c[3] = static_cast<float>(ys[i + 1] + 0.25 * t1y);
  return 1;
}

float sampleSegment(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing,
                    float offset) {
  StrokeSamples.count = 0;
  if (n >= 3) {
    if (i >= n - 1) return offset;
    float c[4];
    if (!segmentControls(xs, ys, n, i, c))
      return sample_straight(xs[i], ys[i], xs[i + 1], ys[i + 1], spacing, offset);
    return sampleCurve(xs[i], ys[i], c[0], c[1], c[2], c[3], xs[i + 1], ys[i + 1], spacing, offset);
  }
  if (i != 0 || n == 0) return offset;
  if (n == 2) return sample_straight(xs[0], ys[0], xs[1], ys[1], spacing, offset);
  if (offset < 0.0001) {
    push_sample(xs[0], ys[0]);
    return spacing;
  }
  return offset;
}

void splatPoint(BITMAP* bmp, float x, float y, float r, float g, float b, float weight) {
  if (!splat_fits(bmp, x, y)) return;
  float x0 = std::floor(x), y0 = std::floor(y);
  float fx = x - x0, fy = y - y0;
  int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
  if (is_memory_bitmap(bmp)) {
    uint32_t* top = bitmap_row(bmp, iy) + ix;
    uint32_t* bottom = bitmap_row(bmp, iy + 1) + ix;
#ifdef __SSE2__
    if (packed_layout()) {
      splat_rows_packed(top, bottom, fx, fy, packed_ink(r, g, b), weight);
      return;
    }
#endif
    splat_rows(top, bottom, fx, fy, r, g, b, weight);
    return;
  }
  blendPixel(bmp, ix, iy, r, g, b, static_cast<float>((1.0 - fx) * (1.0 - fy) * weight));
  blendPixel(bmp, ix + 1, iy, r, g, b, static_cast<float>(fx * (1.0 - fy) * weight));
  blendPixel(bmp, ix + 1, iy + 1, r, g, b, static_cast<float>(static_cast<double>(fx) * fy * weight));
  blendPixel(bmp, ix, iy + 1, r, g, b, static_cast<float>((1.0 - fx) * fy * weight));
}

void drawPen(BITMAP* bmp, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPen invoked with %d points.", n);
  paint_with_deposit(bmp, [&](const auto& out) {
    const auto ink = out.ink(r, g, b);
    walkStroke(xs, ys, n, 1.0f, [&](float x, float y) { out.splat(x, y, ink, 1.0f); });
  });
}

namespace {

int16_t to_int16(double v) {
  if (v < -32768.0) return -32768;
  if (v > 32767.0) return 32767;
  return static_cast<int16_t>(v);
}

}  // namespace

float drawStrokePreview(BITMAP* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end, float offset,
                        DirtyRect* rect) {
  // The whole-number origin the picture is shown at: a half-pixel offset on an
  // odd margin would paint one column or row past the rectangle restored.
  float xoff = static_cast<float>((target->w - CANVAS_WIDTH) / 2);
  float yoff = static_cast<float>((target->h - CANVAS_HEIGHT) / 2);
  bool bounded = false;
  int16_t min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  for (unsigned i = first; i < end; ++i) {
    float leftover = sampleSegment(xs, ys, n, i, 1.0f, offset);
    for (int k = 0; k < StrokeSamples.count; ++k) {
      float sx = StrokeSamples.x[k], sy = StrokeSamples.y[k];
      if (sx >= 0 && sy >= 0 && sx < CANVAS_WIDTH - 1 && sy < CANVAS_HEIGHT - 1)
        splatPoint(target, static_cast<float>(static_cast<double>(sx) + xoff),
                   static_cast<float>(static_cast<double>(sy) + yoff), r, g, b, 1.0f);
      // A sample that is not a number (zero-length segment) marks nothing.
      if (rect && !std::isnan(sx) && !std::isnan(sy)) {
        int16_t lx = to_int16(std::floor(sx)), ly = to_int16(std::floor(sy));
        int16_t hx = to_int16(std::ceil(sx)), hy = to_int16(std::ceil(sy));
        if (!bounded) {
          min_x = lx, min_y = ly, max_x = hx, max_y = hy;
          bounded = true;
        } else {
          if (lx < min_x) min_x = lx;
          if (ly < min_y) min_y = ly;
          if (hx > max_x) max_x = hx;
          if (hy > max_y) max_y = hy;
        }
      }
    }
    offset = leftover;
  }
  if (rect) {
    if (!bounded) {
      // No sample: an empty rectangle, which adds nothing to the dirty list.
      *rect = DirtyRect{0, 0, 0, 0};
    } else {
      rect->x = to_int16(std::trunc(min_x + static_cast<double>(xoff)));
      rect->y = to_int16(std::trunc(min_y + static_cast<double>(yoff)));
      rect->w = to_int16(static_cast<double>(max_x) - min_x + 1);
      rect->h = to_int16(static_cast<double>(max_y) - min_y + 1);
      clip_dirty_rect(rect);
    }
  }
  return offset;
}
