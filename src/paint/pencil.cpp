#include "paint/pencil.h"

#include "app/log.h"
#include "paint/grain.h"
#include "paint/stroke.h"

void drawPencil(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPencil invoked with %d points.", n);
  size = clamp_setting(size, 1.5f, 8.0f);
  walkStroke(xs, ys, n, 1.0f, [&](float x, float y) {
    float acc = 0.0f;
    do {
      GrainOffset at = grain_offset(size);
      float shade = static_cast<float>(nextRandom() * (40.0 / 4294967295.0) - 20);
      Shade c = shade_colour(r, g, b, shade);
      splatPoint(bmp, static_cast<float>(static_cast<double>(x) + at.dx),
                 static_cast<float>(static_cast<double>(y) + at.dy), c.r, c.g, c.b, 1.0f);
      acc = static_cast<float>(acc + 0.6);
    } while (!(acc > size));
  });
}
