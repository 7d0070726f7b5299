#include "paint/stamp.h"

#include "base/log.h"
#include "paint/disc.h"
#include "paint/grain.h"
#include "paint/stroke_walk.h"

void drawStamp(Image* image, float r, float g, float b, float size, float gap, const int16_t* xs, const int16_t* ys,
               int n) {
  log_write(LOG_DEBUG, "drawStamp invoked with %d points.", n);
  if (!image) return;
  size = clamp_setting(size, 1.5f, 8.0f);
  gap = clamp_setting(gap, 0.0f, 100.0f);
  float spacing = static_cast<float>(size * (gap * 0.09 + 1) * 2);
  walkStroke(xs, ys, n, spacing, StrokeReach{image->w, image->h, size + 2},
             [&](float x, float y) { softDisc(image, x, y, r, g, b, 1.0f, size); }, [](int) {});
}
