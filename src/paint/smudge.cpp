// The smudge: every 2 pixels along the stroke, the pixels of a disc are blended
// towards the colour found at the same place relative to the previous sample.
// The picture is read and written in the same pass, so the order in which the
// pixels are visited decides how far colour is dragged in one step.
#include "paint/smudge.h"

#include <cmath>

#include "base/log.h"
#include "paint/grain.h"
#include "paint/pixel.h"
#include "paint/splat.h"
#include "paint/splat_wide.h"
#include "paint/square_root.h"
#include "paint/stroke.h"

namespace {

constexpr float SMUDGE_SPACING = 2.0f;
// Beyond this distance from the origin no disc can touch a bitmap, and the
// integer conversions below stay defined.
constexpr double SMUDGE_COORD_LIMIT = 1.0e6;
constexpr double SMUDGE_RADIUS_LIMIT = 4096.0;

bool within(float v, double limit) { return v > -limit && v < limit; }

// The bitmap smudged, its kind and size read once: the pixel writes could
// alias its fields and the layout, so the compiler would read them per pixel.
struct Surface {
  BITMAP* bmp;
  int w, h;
  bool memory;
  bool packed;  // memory, the packed layout and a coverage the packed blend takes
};

// The read-and-blend of a memory bitmap's pixel, one kind per blend.
struct ChosenSmear {
  bool packed;
  void operator()(uint32_t* p, const uint32_t* top, const uint32_t* bottom, float fx, float fy, float k) const {
#ifdef __SSE2__
    if (packed) {
      smear_rows_packed(p, top, bottom, fx, fy, k);
      return;
    }
#endif
    smear_rows(p, top, bottom, fx, fy, k);
  }
};

#ifdef EASEL_WIDE
struct WideSmear {
  EASEL_WIDE_TARGET void operator()(uint32_t* p, const uint32_t* top, const uint32_t* bottom, float fx, float fy,
                                    float k) const {
    smear_rows_wide(p, top, bottom, fx, fy, k);
  }
};
#endif

// Blends the pixel (col, row), which is on the bitmap, towards the colour at
// (col + dx, sy); nothing when the sampling point is off it.
template <class Smear>
inline void smudge_pixel(const Surface& s, const Smear& smear, int col, int row, float dx, float sy, float k) {
  float sx = static_cast<float>(col + static_cast<double>(dx));
  BITMAP* bmp = s.bmp;
  if (s.memory) {
    int x0, y0;
    float fx, fy;
    if (!bilinear_cell(sx, sy, s.w, s.h, &x0, &y0, &fx, &fy)) return;
    uint32_t* p = bitmap_row(bmp, row) + col;
    const uint32_t* top = bitmap_row(bmp, y0) + x0;
    const uint32_t* bottom = bitmap_row(bmp, y0 + 1) + x0;
    smear(p, top, bottom, fx, fy, k);
    return;
  }
  float r, g, b;
  if (sampleBilinear(bmp, sx, sy, &r, &g, &b)) blendPixel(bmp, col, row, r, g, b, k);
}

// The disc's rows in the order of the drag.
template <class Smear>
void smudge_rows(const Surface& surface, const Smear& smear, float radius, float k, float x, float y, float dx,
                 float dy) {
  float fy = static_cast<float>(static_cast<double>(y) - std::floor(static_cast<double>(y)));
  int R = static_cast<int>(std::floor(static_cast<double>(radius) + 0.5));
  // Moving down (dy < 0) visits rows top to bottom, otherwise bottom to top.
  int j = dy < 0 ? 1 - R : R;
  int j_end = dy < 0 ? R + 1 : -R;
  int j_step = dy < 0 ? 1 : -1;
  for (; j != j_end; j += j_step) {
    float t = static_cast<float>(j - static_cast<double>(fy));
    float s = static_cast<float>(static_cast<double>(radius) * radius -
                                 static_cast<double>(t) * t);
    if (s <= 0) continue;
    float half = static_cast<float>(static_cast<int>(std::floor(square_root(static_cast<double>(s)) + 0.5)));
    int row = static_cast<int>(j + static_cast<double>(y));
    if (row < 0 || row >= surface.h) continue;
    // The sampling row keeps the fraction of the sample's position.
    float sy = static_cast<float>(j + static_cast<double>(y) + dy);
    // Columns off the bitmap change nothing: the walks start and end on it.
    if (dx >= 0) {
      // Moving left: columns right to left.
      double stop = static_cast<double>(x) - half;
      int col = static_cast<int>(static_cast<double>(x) + half);
      if (col > surface.w - 1) col = surface.w - 1;
      for (; col > stop && col >= 0; --col) smudge_pixel(surface, smear, col, row, dx, sy, k);
    } else {
      // Moving right: columns left to right.
      double stop = static_cast<double>(x) + half;
      int col = static_cast<int>(static_cast<double>(x) - half + 1);
      if (col < 0) col = 0;
      for (; col <= stop && col < surface.w; ++col) smudge_pixel(surface, smear, col, row, dx, sy, k);
    }
  }
}

#ifdef EASEL_WIDE
EASEL_WIDE_LOOP void smudge_rows_wide(const Surface& surface, float radius, float k, float x, float y, float dx,
                                      float dy) {
  smudge_rows(surface, WideSmear(), radius, k, x, y, dx, dy);
}
#endif

}  // namespace

void smudgeDisc(BITMAP* bmp, float radius, float k, float x, float y, float dx, float dy) {
  if (!bmp || bitmap_color_depth(bmp) != 32) return;
  // Below this coverage a step changes nothing; sampling has no side effects.
  if (!(k > 0.005)) return;
  if (!(radius >= 0 && radius <= SMUDGE_RADIUS_LIMIT)) return;
  if (!within(x, SMUDGE_COORD_LIMIT) || !within(y, SMUDGE_COORD_LIMIT) ||
      !within(dx, SMUDGE_COORD_LIMIT) || !within(dy, SMUDGE_COORD_LIMIT))
    return;

  Surface surface = {bmp, bmp->w, bmp->h, is_memory_bitmap(bmp) != 0, false};
#ifdef __SSE2__
  surface.packed = surface.memory && k <= 0.999f && packed_layout();
#endif
#ifdef EASEL_WIDE
  if (surface.packed && wide_available()) {
    smudge_rows_wide(surface, radius, k, x, y, dx, dy);
    return;
  }
#endif
  smudge_rows(surface, ChosenSmear{surface.packed}, radius, k, x, y, dx, dy);
}

void drawSmudge(BITMAP* bmp, float size, float strength, const int16_t* xs, const int16_t* ys,
                int n) {
  log_write(LOG_DEBUG, "drawSmudge invoked with %d points.", n);
  if (!bmp || bitmap_color_depth(bmp) != 32) return;
  if (!xs || !ys) return;
  size = clamp_setting(size, 1.7f, 12.0f);
  strength = clamp_setting(strength, 1.0f, 1000.0f);
  float coverage = static_cast<float>(strength * 0.0008333333333333334);

  bool have_previous = false;
  float px = 0, py = 0;
  walkStroke(xs, ys, n, SMUDGE_SPACING, [&](float X, float Y) {
    // A zero-length first segment yields a sample that is not a number: it
    // marks no place, so it neither smudges nor serves as the previous position.
    if (std::isnan(X) || std::isnan(Y)) return;
    // The first sample of the stroke only marks where the drag starts.
    if (have_previous) {
      smudgeDisc(bmp, size, coverage, X, Y, static_cast<float>(static_cast<double>(px) - X),
                 static_cast<float>(static_cast<double>(py) - Y));
    }
    have_previous = true;
    px = X;
    py = Y;
  });
}
