#include "paint/pencil.h"

#include "base/log.h"
#include "paint/deposit.h"
#include "paint/grain.h"
#include "paint/stroke.h"

namespace {

template <class Deposit>
void pencil_grains(const Deposit& out, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys,
                   int n) {
  walkStroke(xs, ys, n, 1.0f, [&](float x, float y) {
    float acc = 0.0f;
    do {
      GrainOffset at = grain_offset(size);
      Shade c = draw_shaded(r, g, b, 40);
      out.splat(static_cast<float>(static_cast<double>(x) + at.dx), static_cast<float>(static_cast<double>(y) + at.dy),
                out.ink(c.r, c.g, c.b), 1.0f);
      acc = static_cast<float>(acc + 0.6);
    } while (!(acc > size));
  });
}

}  // namespace

void drawPencil(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawPencil invoked with %d points.", n);
  size = clamp_setting(size, 1.5f, 8.0f);
  paint_with_deposit(bmp, [&](const auto& out) { pencil_grains(out, r, g, b, size, xs, ys, n); });
}
