// The reach proof: a long curved segment that stays out of reach of the
// picture need not be walked (walkStroke skips it when the fast ways are
// chosen), when it provably fills the sample buffer there.
#include <algorithm>
#include <cmath>

#include "paint/curve_geometry.h"
#include "paint/reach_proof.h"
#include "paint/stroke_segment.h"
#include "paint/stroke_walk.h"

namespace {

// The curve through the proof below is cut into this many equal parameter pieces.
constexpr int PIECES = 64;

struct Piece {
  Box box;
  double chord;         // from its start to its end: at most its length
  double hx[3], hy[3];  // its derivative's control vectors, up to a factor
};

// Cosine of the widest angle between a direction and the derivative's control
// vectors of two neighbouring pieces; the derivative lies within that cone.
// Rounding in the vectors is allowed for with slack.
double cone_cosine(const Piece& a, const Piece& b, double slack) {
  const Piece* both[2] = {&a, &b};
  double ux = 0, uy = 0;
  for (const Piece* p : both)
    for (int k = 0; k < 3; ++k) {
      double len = std::hypot(p->hx[k], p->hy[k]);
      if (len > 0) ux += p->hx[k] / len, uy += p->hy[k] / len;
    }
  double ulen = std::hypot(ux, uy);
  if (!(ulen > 0.5)) return -1;
  ux /= ulen, uy /= ulen;
  double cosine = 1;
  for (const Piece* p : both)
    for (int k = 0; k < 3; ++k) {
      double len = std::hypot(p->hx[k], p->hy[k]);
      if (len > 0) cosine = std::min(cosine, (ux * p->hx[k] + uy * p->hy[k] - 4 * slack) / (len + 4 * slack));
    }
  return cosine;
}

}  // namespace

// The walk joins samples (float positions near the curve, with parameters in
// increasing order) by steps no longer than step_max below, and ends once one
// is nearer the end than the spacing. With the curve cut into pieces:
// - no two points of pieces two or more apart are within step_max, so a step
//   spans at most two neighbouring pieces;
// - the derivative over any two neighbouring pieces stays within a cone of
//   cosine c, so a step's stretch of curve is at most its length / c.
// Then after k steps at most k * step_max / c of the curve is behind, which
// bounds where the first STROKE_SAMPLES_MAX samples lie; and a curve longer
// than (STROKE_SAMPLES_MAX * step_max + spacing) / c cannot end earlier.
__attribute__((noinline)) bool segmentMissesPicture(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                                                     float spacing, float offset, const StrokeReach& reach) {
  if (!std::isfinite(reach.reach) || n < 3 || i >= n - 1) return false;
  if (!(spacing > 0 && offset >= 0 && offset <= spacing)) return false;
  float f[8];
  if (!segment_curve(xs, ys, n, i, f)) return false;
  const Cubic curve = cubic_of(f);
  const double cap = STROKE_SAMPLES_MAX;
  // The control polygon is at least as long as the curve.
  double polygon = 0, fastest = 0;
  for (int k = 0; k < 3; ++k) {
    double side = std::hypot(curve.x[k + 1] - curve.x[k], curve.y[k + 1] - curve.y[k]);
    polygon += side;
    fastest = std::max(fastest, 3 * side);
  }
  if (!(polygon > cap * spacing)) return false;
  const double largest = largest_coordinate(curve);
  // A sample is off its exact curve point by float rounding (rounding); a
  // step exceeds its target by the search's tolerance, the rounding of the
  // distance compared, and, when the search runs out of float parameters, the
  // curve's travel over one parameter step.
  const double rounding = largest * 1.2e-7 + 1e-6;
  const double step_max = (spacing + 0.01) * (1 + 1e-6) + fastest * 1.2e-7 + 4 * rounding;
  const double slack = largest * 1e-9 + 1e-9;

  Piece pieces[PIECES];
  for (int j = 0; j < PIECES; ++j) {
    const Cubic piece = curve_part(curve, j, j + 1, PIECES);
    Piece& p = pieces[j];
    p.box = control_box(piece, slack);
    p.chord = std::hypot(piece.x[3] - piece.x[0], piece.y[3] - piece.y[0]) - 2 * slack;
    for (int k = 0; k < 3; ++k) p.hx[k] = piece.x[k + 1] - piece.x[k], p.hy[k] = piece.y[k + 1] - piece.y[k];
  }
  double cosine = 1;
  for (int j = 0; j + 1 < PIECES; ++j) cosine = std::min(cosine, cone_cosine(pieces[j], pieces[j + 1], slack));
  if (!(cosine > 0.5)) return false;
  for (int j = 0; j < PIECES; ++j)
    for (int k = j + 2; k < PIECES; ++k)
      if (!(box_gap2(pieces[j].box, pieces[k].box) > step_max * step_max)) return false;
  double length = 0;
  for (const Piece& p : pieces) length += std::max(0.0, p.chord);
  if (!(length * cosine > (cap * step_max + spacing) * (1 + 1e-6) + 1e-3)) return false;
  // The samples lie on the pieces before the curve's length behind exceeds this.
  const double behind = cap * step_max / cosine * (1 + 1e-6) + 1e-3;
  const double left = -reach.reach - rounding, top = left;
  const double right = reach.w + static_cast<double>(reach.reach) + rounding;
  const double bottom = reach.h + static_cast<double>(reach.reach) + rounding;
  double along = 0;
  for (const Piece& p : pieces) {
    if (!(p.box.max_x < left || p.box.min_x > right || p.box.max_y < top || p.box.min_y > bottom)) return false;
    along += std::max(0.0, p.chord);
    if (along > behind) break;
  }
  return true;
}
