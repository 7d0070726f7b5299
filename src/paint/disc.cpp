#include "paint/disc.h"

#include <cmath>

#include "paint/pixel.h"
#include "paint/splat.h"

void blendSpan(BITMAP* bmp, int x1, int y, int x2, float r, float g, float b, float coverage) {
  if (!(coverage > 0.005f) || y < 0 || y >= bmp->h) return;
  if (x1 < 0) x1 = 0;
  if (x2 > bmp->w - 1) x2 = bmp->w - 1;
  if (is_memory_bitmap(bmp)) {
    blendRow(bitmap_row(bmp, y), x1, x2, r, g, b, coverage);
    return;
  }
  for (int x = x1; x <= x2; ++x) blendPixel(bmp, x, y, r, g, b, coverage);
}

namespace {

// Coverage of a row's end pixel whose centre offset from the disc centre is (e, t).
float end_coverage(float e, float t, float radius, float coverage) {
  float q = static_cast<float>(static_cast<double>(e) * e + static_cast<double>(t) * t);
  if (!(q > 0)) return 0.0f;
  float dist = static_cast<float>(std::sqrt(static_cast<double>(q)) - radius);
  if (dist < -1) return coverage;
  if (dist < 0) return static_cast<float>(static_cast<double>(coverage) * -dist);
  return 0.0f;
}

// A disc's colour, laid out once for the packed blend when the layout allows it.
struct DiscColour {
  float r, g, b;
#ifdef __SSE2__
  bool packed;
  PackedInk ink;
#endif
};

void blend_end(BITMAP* bmp, int x, int row, const DiscColour& c, float coverage) {
  if (!(coverage > 0.005f && x >= 0 && x < bmp->w && row >= 0 && row < bmp->h)) return;
  if (!is_memory_bitmap(bmp)) {
    blendPixel(bmp, x, row, c.r, c.g, c.b, coverage);
    return;
  }
  uint32_t* p = bitmap_row(bmp, row) + x;
#ifdef __SSE2__
  if (c.packed && !(coverage > 0.999f)) {
    blend_in_place_packed(p, c.ink, coverage);
    return;
  }
#endif
  blend_in_place(p, c.r, c.g, c.b, coverage);
}

// Beyond this a centre or radius cannot come from a stroke; such discs paint nothing.
constexpr float DISC_LIMIT = 1e8f;

}  // namespace

void softDisc(BITMAP* bmp, float cx, float cy, float r, float g, float b, float coverage, float radius) {
  // A centre that is not a number (a zero-length stroke) paints nothing; a
  // radius below 0.5 has no rows.
  if (!(std::fabs(cx) < DISC_LIMIT && std::fabs(cy) < DISC_LIMIT && radius >= 0.5f && radius < DISC_LIMIT)) return;
  float fx = cx - std::floor(cx), fy = cy - std::floor(cy);
#ifdef __SSE2__
  const DiscColour colour = {r, g, b, packed_layout(), packed_ink(r, g, b)};
#else
  const DiscColour colour = {r, g, b};
#endif
  int R = static_cast<int>(std::floor(radius + 0.5));
  // Rows off the bitmap paint nothing: start and stop near its top and bottom.
  int first = 1 - R, last = R;
  double top = std::floor(-static_cast<double>(cy)) - 1, bottom = std::ceil(bmp->h - static_cast<double>(cy)) + 1;
  if (first < top) first = static_cast<int>(top);
  if (last > bottom) last = static_cast<int>(bottom);
  for (int j = first; j <= last; ++j) {
    float t = static_cast<float>(j - static_cast<double>(fy));
    float s = static_cast<float>(static_cast<double>(radius) * radius - static_cast<double>(t) * t);
    if (s <= 0) continue;
    int half = static_cast<int>(std::floor(std::sqrt(static_cast<double>(s)) + 0.5));
    int row = static_cast<int>(j + static_cast<double>(cy));
    if (row < 0 || row >= bmp->h) continue;
    blendSpan(bmp, static_cast<int>(cx - static_cast<double>(half) + 2), row,
              static_cast<int>(cx + static_cast<double>(half) - 1), r, g, b, coverage);
    blend_end(bmp, static_cast<int>(cx - static_cast<double>(half) + 1), row, colour,
              end_coverage(static_cast<float>((1.0 - half) - fx), t, radius, coverage));
    if (half != 0)
      blend_end(bmp, static_cast<int>(cx + static_cast<double>(half)), row, colour,
                end_coverage(static_cast<float>(static_cast<double>(half) - fx), t, radius, coverage));
  }
}
