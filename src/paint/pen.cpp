// The pen: a dot at every sample one pixel apart, each blended over the 2 x 2
// pixels around it; and the preview of a stroke being drawn, which the pen
// paints onto the screen.
#include <cmath>

#include "base/log.h"
#include "paint/canvas.h"
#include "paint/deposit.h"
#include "paint/pen.h"
#include "paint/pen_dots.h"
#include "paint/pixel.h"
#include "paint/splat.h"
#include "paint/stroke_walk.h"

void splatPoint(Image* image, float x, float y, float r, float g, float b, float weight) {
  uint32_t *top, *bottom;
  float fx, fy;
  if (splat_cell(image, x, y, &top, &bottom, &fx, &fy)) splat_rows(top, bottom, fx, fy, r, g, b, weight);
}

void drawPen(Image* image, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPen invoked with %d points.", n);
  if (!image) return;
  paint_with_deposit(image, [&](const auto& out) {
    const auto ink = out.ink(r, g, b);
    // With AVX2 the curve search lays the dots of most samples itself.
    const LaidDots* dots = nullptr;
#ifdef EASEL_WIDE
    LaidDots laid;
    if constexpr (std::is_same<typename std::decay<decltype(out)>::type, WideDeposit>::value) {
      laid = LaidDots{out.image, ink, splat_limit(out.image->w), splat_limit(out.image->h)};
      dots = &laid;
    }
#endif
    // A dot touches the pixels within one of its place.
    walkStroke(
        xs, ys, n, 1.0f, StrokeReach{image->w, image->h, 2.0f}, [&](float x, float y) { out.splat(x, y, ink, 1.0f); },
        [](int) {}, dots);
  });
}

namespace {

int16_t to_int16(double v) {
  if (v < -32768.0) return -32768;
  if (v > 32767.0) return 32767;
  return static_cast<int16_t>(v);
}

}  // namespace

float drawStrokePreview(Image* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end, float offset,
                        ImageArea* rect) {
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
      *rect = ImageArea{0, 0, 0, 0};
    } else {
      rect->x = to_int16(std::trunc(min_x + static_cast<double>(xoff)));
      rect->y = to_int16(std::trunc(min_y + static_cast<double>(yoff)));
      rect->w = to_int16(static_cast<double>(max_x) - min_x + 1);
      rect->h = to_int16(static_cast<double>(max_y) - min_y + 1);
      image_area_clip(rect, target->w, target->h);
    }
  }
  return offset;
}
