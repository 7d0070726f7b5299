#include "paint/pencil.h"

#include "base/log.h"
#include "paint/deposit.h"
#include "paint/grain.h"
#include "paint/grain_ahead.h"
#include "paint/stroke_walk.h"

namespace {

constexpr double PENCIL_SHADES = 40;

// grain(&offset, &shade) gives each grain's place and shade in turn.
template <class Deposit, class NextGrain>
void pencil_grains(const Deposit& out, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys,
                   int n, const NextGrain& grain) {
  // Every sample lays the same number of grains: one, then one more for each
  // 0.6 added while the sum is not above the size. Out of reach of the
  // picture a sample only takes their draws, each grain its rejected places
  // and its shade.
  int grains = 0;
  for (float acc = 0.0f; !(acc > size); acc = static_cast<float>(acc + 0.6)) ++grains;
  GrainOffset at;
  float shade;
  auto draws_only = [&] {
    for (int k = 0; k < grains; ++k) grain(&at, &shade);
  };
  const StrokeReach reach{out.image->w, out.image->h, size + 2};
  walkStroke(
      xs, ys, n, 1.0f, reach,
      [&](float x, float y) {
        for (int k = 0; k < grains; ++k) {
          grain(&at, &shade);
          Shade c = shade_colour(r, g, b, shade);
          out.splat(static_cast<float>(static_cast<double>(x) + at.dx),
                    static_cast<float>(static_cast<double>(y) + at.dy), out.ink(c.r, c.g, c.b), 1.0f);
        }
      },
      [&](int count) {
        for (int k = 0; k < count; ++k) draws_only();
      });
}

template <class Deposit>
void pencil_stroke(const Deposit& out, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys,
                   int n) {
  const double limit = grain_limit(size);
  auto plain = [&](GrainOffset* at, float* shade) {
    *at = grain_offset<false>(size, limit);
    *shade = draw_shade(PENCIL_SHADES);
  };
#ifdef EASEL_WIDE
  if (engine_wide()) {
    GrainsAhead ahead;
    read_ahead(&ahead, size, limit);
    pencil_grains(out, r, g, b, size, xs, ys, n, [&](GrainOffset* at, float* shade) {
      next_grain(&ahead, size, limit, PENCIL_SHADES, plain, at, shade);
    });
    settle(&ahead);
    return;
  }
#endif
  pencil_grains(out, r, g, b, size, xs, ys, n, plain);
}

}  // namespace

void drawPencil(Image* image, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPencil invoked with %d points.", n);
  if (!image) return;
  size = clamp_setting(size, 1.5f, 8.0f);
  paint_with_deposit(image, [&](const auto& out) { pencil_stroke(out, r, g, b, size, xs, ys, n); });
}
