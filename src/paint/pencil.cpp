#include "paint/pencil.h"

#include "base/log.h"
#include "paint/deposit.h"
#include "paint/grain.h"
#include "paint/stroke.h"

namespace {

template <class Deposit>
void pencil_grains(const Deposit& out, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys,
                   int n) {
  // Every sample lays the same number of grains: one, then one more for each
  // 0.6 added while the sum is not above the size. Off the picture a sample
  // only takes their draws, each grain its rejected places and its shade.
  const double limit = grain_limit(size);
  int grains = 0;
  for (float acc = 0.0f; !(acc > size); acc = static_cast<float>(acc + 0.6)) ++grains;
  auto draws_only = [&] {
    for (int k = 0; k < grains; ++k) {
      grain_offset<false>(size, limit);
      nextRandom();
    }
  };
  const StrokeReach reach{out.bmp->w, out.bmp->h, size + 2};
  walkStroke(
      xs, ys, n, 1.0f, reach,
      [&](float x, float y) {
        if (sampleOffPicture(reach, x, y)) return draws_only();
        for (int k = 0; k < grains; ++k) {
          GrainOffset at = grain_offset<false>(size, limit);
          Shade c = draw_shaded(r, g, b, 40);
          out.splat(static_cast<float>(static_cast<double>(x) + at.dx),
                    static_cast<float>(static_cast<double>(y) + at.dy), out.ink(c.r, c.g, c.b), 1.0f);
        }
      },
      [&](int count) {
        for (int k = 0; k < count; ++k) draws_only();
      });
}

}  // namespace

void drawPencil(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPencil invoked with %d points.", n);
  if (!bmp) return;
  size = clamp_setting(size, 1.5f, 8.0f);
  paint_with_deposit(bmp, [&](const auto& out) { pencil_grains(out, r, g, b, size, xs, ys, n); });
}
