#include "paint/chalk.h"

#include "base/log.h"
#include "paint/chalk_ahead.h"
#include "paint/disc.h"
#include "paint/grain.h"
#include "paint/stroke_walk.h"

namespace {

constexpr double CHALK_SHADES = 30;

// disc() gives each disc in turn; known(paint) how many discs the next sample
// lays when that is known ahead, else 0, and takes them when it paints none.
template <class NextDisc, class Known>
void chalk_discs(Image* image, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n,
                 double budget, const NextDisc& disc, const Known& known) {
  auto lay = [&](float x, float y, bool paint, const ChalkDisc& d) {
    if (!paint) return;
    Shade c = shade_colour(r, g, b, d.shade);
    softDisc(image, static_cast<float>(static_cast<double>(x) + d.at.dx),
             static_cast<float>(static_cast<double>(y) + d.at.dy), c.r, c.g, c.b, 0.5f, d.radius);
  };
  // Out of reach of the picture a sample takes its draws and paints nothing.
  auto sample = [&](float x, float y, bool paint) {
    if (const int count = known(paint)) {
      if (paint)
        for (int k = 0; k < count; ++k) lay(x, y, paint, disc());
      return;
    }
    double total = 0.0;
    do {
      const ChalkDisc d = disc();
      lay(x, y, paint, d);
      total = static_cast<float>(total + d.area2);
    } while (!(total > budget));
  };
  // A disc lies within its radius (0.6 of the size at most) of a grain, and a
  // grain within the size of its sample.
  const StrokeReach reach{image->w, image->h, 2 * size + 2};
  walkStroke(
      xs, ys, n, 1.0f, reach, [&](float x, float y) { sample(x, y, true); },
      [&](int count) {
        for (int k = 0; k < count; ++k) sample(0, 0, false);
      });
}

}  // namespace

void drawChalk(Image* image, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawChalk invoked with %d points.", n);
  if (!image) return;
  size = clamp_setting(size, 1.5f, 12.0f);
  const double limit = grain_limit(size);
  // Each sample scatters discs until the sum of their squared areas exceeds this.
  const double budget = static_cast<float>(static_cast<double>(size) * size) * 4.71238898038469;
  auto plain = [&] {
    ChalkDisc d;
    d.at = grain_offset(size, limit);
    d.shade = draw_shade(CHALK_SHADES);
    chalk_radius(&d, size, nextRandom());
    return d;
  };
#ifdef EASEL_WIDE
  if (engine_wide()) {
    DiscsAhead ahead;
    read_discs(&ahead, size, limit, budget);
    chalk_discs(
        image, r, g, b, size, xs, ys, n, budget,
        [&] { return next_disc(&ahead, size, limit, budget, CHALK_SHADES, plain); },
        [&](bool paint) { return discs_known(&ahead, paint); });
    settle(&ahead.draws);
    return;
  }
#endif
  chalk_discs(image, r, g, b, size, xs, ys, n, budget, plain, [](bool) { return 0; });
}
