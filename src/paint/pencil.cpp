#include "paint/pencil.h"

#include "base/log.h"
#include "paint/grain.h"
#include "paint/stroke.h"

void drawPencil(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPencil invoked with %d points.", n);
  size = clamp_setting(size, 1.5f, 8.0f);
  walkStroke(xs, ys, n, 1.0f, [&](float x, float y) {
    float acc = 0.0f;
    do {
      GrainOffset at = grain_offset(size);
      Shade c = draw_shaded(r, g, b, 40);
      splatPoint(bmp, static_cast<float>(static_cast<double>(x) + at.dx),
                 static_cast<float>(static_cast<double>(y) + at.dy), c.r, c.g, c.b, 1.0f);
      acc = static_cast<float>(acc + 0.6);
    } while (!(acc > size));
  });
}
