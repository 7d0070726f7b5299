#include "paint/chalk.h"

#include "app/log.h"
#include "paint/disc.h"
#include "paint/grain.h"
#include "paint/stroke.h"

void drawChalk(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawChalk invoked with %d points.", n);
  size = clamp_setting(size, 1.5f, 12.0f);
  if (n <= 0) return;
  // Each sample scatters discs until the sum of their squared areas exceeds this.
  const double budget = static_cast<float>(static_cast<double>(size) * size) * 4.71238898038469;
  float offset = 0.0f;
  for (unsigned i = 0; i < static_cast<unsigned>(n); ++i) {
    float leftover = sampleSegment(xs, ys, n, i, 1.0f, offset);
    for (int k = 0; k < StrokeSamples.count; ++k) {
      float sx = StrokeSamples.x[k], sy = StrokeSamples.y[k];
      double total = 0.0;
      do {
        GrainOffset at = grain_offset(size);
        float shade = static_cast<float>(nextRandom() * (30.0 / 4294967295.0) - 15);
        Shade c = shade_colour(r, g, b, shade);
        float radius = static_cast<float>((nextRandom() * (0.4 / 4294967295.0) + 0.2) *
                                          (static_cast<double>(size) - at.dist));
        if (radius < 0.2f) radius = 0.2f;
        softDisc(bmp, static_cast<float>(static_cast<double>(sx) + at.dx),
                 static_cast<float>(static_cast<double>(sy) + at.dy), c.r, c.g, c.b, 0.5f, radius);
        double area = 3.141592653589793 * (static_cast<double>(radius) * radius);
        total = static_cast<float>(total + area * area);
      } while (!(total > budget));
    }
    offset = leftover;
  }
}
