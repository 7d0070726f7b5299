#include "paint/disc.h"

#include <cmath>

#include "paint/pixel.h"
#include "paint/splat.h"
#include "paint/square_root.h"

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
  float dist = static_cast<float>(square_root(static_cast<double>(q)) - radius);
  if (dist < -1) return coverage;
  if (dist < 0) return static_cast<float>(static_cast<double>(coverage) * -dist);
  return 0.0f;
}

// Any bitmap, through the per-pixel calls.
struct PixelRows {
  BITMAP* bmp;
  float r, g, b, coverage;
  void span(int row, int x1, int x2) const { blendSpan(bmp, x1, row, x2, r, g, b, coverage); }
  void end(int row, int x, float cov) const {
    if (cov > 0.005f && x >= 0 && x < bmp->w) blendPixel(bmp, x, row, r, g, b, cov);
  }
};

// A 32-bit memory bitmap, written in place: the colour is laid out once per disc.
struct MemoryRows {
  BITMAP* bmp;
  RowInk ink;
  float coverage;
  void span(int row, int x1, int x2) const {
    if (!(coverage > 0.005f)) return;
    if (x1 < 0) x1 = 0;
    if (x2 > bmp->w - 1) x2 = bmp->w - 1;
    blend_row_ink(bitmap_row(bmp, row), x1, x2, ink, coverage);
  }
  void end(int row, int x, float cov) const {
    if (cov > 0.005f && x >= 0 && x < bmp->w) blend_ink_in_place(bitmap_row(bmp, row) + x, ink, cov);
  }
};

// The rows of a disc, each as a span and its two soft ends.
template <class Rows>
void disc_rows(const Rows& out, int h, float cx, float cy, float radius, float coverage, int first, int last) {
  float fx = cx - std::floor(cx), fy = cy - std::floor(cy);
  const double rr = static_cast<double>(radius) * radius;
  for (int j = first; j <= last; ++j) {
    float t = static_cast<float>(j - static_cast<double>(fy));
    float s = static_cast<float>(rr - static_cast<double>(t) * t);
    if (s <= 0) continue;
    // The floor of a positive number: truncation gives it.
    int half = static_cast<int>(square_root(static_cast<double>(s)) + 0.5);
    int row = static_cast<int>(j + static_cast<double>(cy));
    if (row < 0 || row >= h) continue;
    out.span(row, static_cast<int>(cx - static_cast<double>(half) + 2),
             static_cast<int>(cx + static_cast<double>(half) - 1));
    out.end(row, static_cast<int>(cx - static_cast<double>(half) + 1),
            end_coverage(static_cast<float>((1.0 - half) - fx), t, radius, coverage));
    if (half != 0)
      out.end(row, static_cast<int>(cx + static_cast<double>(half)),
              end_coverage(static_cast<float>(static_cast<double>(half) - fx), t, radius, coverage));
  }
}

// Beyond this a centre or radius cannot come from a stroke; such discs paint nothing.
constexpr float DISC_LIMIT = 1e8f;

}  // namespace

void softDisc(BITMAP* bmp, float cx, float cy, float r, float g, float b, float coverage, float radius) {
  // A centre that is not a number (a zero-length stroke) paints nothing; a
  // radius below 0.5 has no rows.
  if (!(std::fabs(cx) < DISC_LIMIT && std::fabs(cy) < DISC_LIMIT && radius >= 0.5f && radius < DISC_LIMIT)) return;
  int R = static_cast<int>(std::floor(radius + 0.5));
  // Rows off the bitmap paint nothing: start and stop near its top and bottom.
  int first = 1 - R, last = R;
  double top = std::floor(-static_cast<double>(cy)) - 1, bottom = std::ceil(bmp->h - static_cast<double>(cy)) + 1;
  if (first < top) first = static_cast<int>(top);
  if (last > bottom) last = static_cast<int>(bottom);
  if (!is_memory_bitmap(bmp)) {
    disc_rows(PixelRows{bmp, r, g, b, coverage}, bmp->h, cx, cy, radius, coverage, first, last);
    return;
  }
  disc_rows(MemoryRows{bmp, row_ink(r, g, b), coverage}, bmp->h, cx, cy, radius, coverage, first, last);
}
