#include "paint/chalk.h"

#include "base/log.h"
#include "paint/disc.h"
#include "paint/grain.h"
#include "paint/stroke.h"

void drawChalk(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawChalk invoked with %d points.", n);
  if (!bmp) return;
  size = clamp_setting(size, 1.5f, 12.0f);
  // Each sample scatters discs until the sum of their squared areas exceeds this.
  const double budget = static_cast<float>(static_cast<double>(size) * size) * 4.71238898038469;
  const double limit = grain_limit(size);
  // Off the picture a sample takes its draws and paints nothing.
  auto sample = [&](float x, float y, bool paint) {
    double total = 0.0;
    do {
      GrainOffset at = grain_offset(size, limit);
      Shade c = paint ? draw_shaded(r, g, b, 30) : (nextRandom(), Shade{0, 0, 0});
      float radius =
          static_cast<float>((nextRandom() * (0.4 / 4294967295.0) + 0.2) * (static_cast<double>(size) - at.dist));
      if (radius < 0.2f) radius = 0.2f;
      if (paint)
        softDisc(bmp, static_cast<float>(static_cast<double>(x) + at.dx),
                 static_cast<float>(static_cast<double>(y) + at.dy), c.r, c.g, c.b, 0.5f, radius);
      double area = 3.141592653589793 * (static_cast<double>(radius) * radius);
      total = static_cast<float>(total + area * area);
    } while (!(total > budget));
  };
  // A disc lies within its radius (0.6 of the size at most) of a grain, and a
  // grain within the size of its sample.
  const StrokeReach reach{bmp->w, bmp->h, 2 * size + 2};
  walkStroke(
      xs, ys, n, 1.0f, reach, [&](float x, float y) { sample(x, y, !sampleOffPicture(reach, x, y)); },
      [&](int count) {
        for (int k = 0; k < count; ++k) sample(0, 0, false);
      });
}
