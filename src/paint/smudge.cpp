// The smudge: every 2 pixels along the stroke, the pixels of a disc are blended
// towards the colour found at the same place relative to the previous sample.
// The picture is read and written in the same pass, so the order in which the
// pixels are visited decides how far colour is dragged in one step.
#include "paint/smudge.h"

#include <cmath>

#include "base/log.h"
#include "paint/engine_paths.h"
#include "paint/grain.h"
#include "paint/pixel.h"
#include "paint/smudge_rows.h"
#include "paint/splat.h"
#include "paint/splat_packed.h"
#include "paint/stroke_walk.h"

namespace {

constexpr float SMUDGE_SPACING = 2.0f;
// Beyond this distance from the origin no disc can touch an image, and the
// integer conversions below stay defined.
constexpr double SMUDGE_COORD_LIMIT = 1.0e6;
constexpr double SMUDGE_RADIUS_LIMIT = 4096.0;

bool within(float v, double limit) { return v > -limit && v < limit; }

// The read-and-blend of a pixel: the plain one, or the packed one of the fast
// ways for the packed layout.
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

// Blends the pixel (col, row), which is on the image, towards the colour at
// (col + dx, sy); nothing when the sampling point is off it.
template <class Smear>
inline void smudge_pixel(const Surface& s, const Smear& smear, int col, int row, float dx, float sy, float k) {
  float sx = static_cast<float>(col + static_cast<double>(dx));
  int x0, y0;
  float fx, fy;
  if (!bilinear_cell(sx, sy, s.w, s.h, &x0, &y0, &fx, &fy)) return;
  uint32_t* p = image_row(s.image, row) + col;
  const uint32_t* top = image_row(s.image, y0) + x0;
  const uint32_t* bottom = image_row(s.image, y0 + 1) + x0;
  smear(p, top, bottom, fx, fy, k);
}

// A disc's row, one pixel at a time.
template <class Smear>
struct PixelRow {
  const Surface& s;
  Smear smear;
  float x, dx, k;
  void finish() const {}
  void operator()(int row, float sy, float half) const {
    double stop;
    int col = first_column(x, half, dx, s.w, &stop);
    if (dx >= 0)
      for (; col > stop && col >= 0; --col) smudge_pixel(s, smear, col, row, dx, sy, k);
    else
      for (; col <= stop && col < s.w; ++col) smudge_pixel(s, smear, col, row, dx, sy, k);
  }
};

}  // namespace

void smudgeDisc(Image* image, float radius, float k, float x, float y, float dx, float dy) {
  if (!image) return;
  // Below this coverage a step changes nothing; sampling has no side effects.
  if (!(k > 0.005)) return;
  if (!(radius >= 0 && radius <= SMUDGE_RADIUS_LIMIT)) return;
  if (!within(x, SMUDGE_COORD_LIMIT) || !within(y, SMUDGE_COORD_LIMIT) ||
      !within(dx, SMUDGE_COORD_LIMIT) || !within(dy, SMUDGE_COORD_LIMIT))
    return;

  Surface surface = {image, image->w, image->h, false};
#ifdef __SSE2__
  surface.packed = engine_fast() && k <= 0.999f && packed_layout();
#endif
#ifdef EASEL_WIDE
  if (surface.packed && engine_wide()) {
    smudge_rows_wide(surface, radius, k, x, y, dx, dy);
    return;
  }
#endif
  smudge_rows(surface, PixelRow<ChosenSmear>{surface, ChosenSmear{surface.packed}, x, dx, k}, radius, x, y, dy,
              engine_fast());
}

void drawSmudge(Image* image, float size, float strength, const int16_t* xs, const int16_t* ys,
                int n) {
  log_write(LOG_DEBUG, "drawSmudge invoked with %d points.", n);
  if (!image) return;
  if (!xs || !ys) return;
  size = clamp_setting(size, 1.7f, 12.0f);
  strength = clamp_setting(strength, 1.0f, 1000.0f);
  float coverage = static_cast<float>(strength * 0.0008333333333333334);

  bool have_previous = false;
  float px = 0, py = 0;
  // A disc writes within size + 2 of its sample and reads within as much of the
  // previous one.
  const StrokeReach reach = {image->w, image->h, size + 5};
  walkStroke(xs, ys, n, SMUDGE_SPACING, reach, [&](float X, float Y) {
    // A zero-length first segment yields a sample that is not a number: it
    // marks no place, so it neither smudges nor serves as the previous position.
    if (std::isnan(X) || std::isnan(Y)) return;
    // The first sample of the stroke only marks where the drag starts.
    if (have_previous) {
      smudgeDisc(image, size, coverage, X, Y, static_cast<float>(static_cast<double>(px) - X),
                 static_cast<float>(static_cast<double>(py) - Y));
    }
    have_previous = true;
    px = X;
    py = Y;
  }, [&](int) {
    // The last sample of a segment not walked is unknown but out of reach: the
    // next disc, dragged from there, would read only off the picture.
    have_previous = false;
  });
}
