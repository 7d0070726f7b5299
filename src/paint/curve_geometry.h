// The cubic curves of a stroke's segments: their points, parts and boxes, and
// the bounds the proofs of the fast curve search and of the reach rest on.
#pragma once
#include <algorithm>
#include <cmath>

// The point at parameter t of the curve with these coordinates along one axis.
inline double bezier(double t, float p0, float c1, float c2, float p3) {
  double a = 1.0 - t;
  return a * a * a * p0 + 3.0 * t * a * a * c1 + 3.0 * t * t * a * c2 + t * t * t * p3;
}

// The squared distances from the last sample beyond which a curve point is
// too far for the target, and below which it is too near.
inline float too_far_for(float target) { return static_cast<float>((target + 0.01) * (target + 0.01)); }
inline float too_near_for(float target) { return static_cast<float>((target - 0.01) * (target - 0.01)); }

struct Cubic {
  double x[4], y[4];
};

// The curve of the control points f (x, y pairs).
inline Cubic cubic_of(const float f[8]) { return Cubic{{f[0], f[2], f[4], f[6]}, {f[1], f[3], f[5], f[7]}}; }

// De Casteljau's split at t: the part before t into left, after it into right.
void split_curve(const Cubic& c, double t, Cubic* left, Cubic* right);

// The part of c between the parameters j / pieces and k / pieces.
inline Cubic curve_part(const Cubic& c, int j, int k, int pieces) {
  Cubic rest = c, part, unused;
  if (j > 0) split_curve(c, static_cast<double>(j) / pieces, &unused, &rest);
  split_curve(rest, static_cast<double>(k - j) / (pieces - j), &part, &unused);
  return part;
}

inline double largest_coordinate(const Cubic& c) {
  double largest = 0;
  for (int k = 0; k < 4; ++k) largest = std::max({largest, std::fabs(c.x[k]), std::fabs(c.y[k])});
  return largest;
}

// The box of a curve's control points, which holds the curve, widened by slack.
struct Box {
  double min_x, min_y, max_x, max_y;
};

inline Box control_box(const Cubic& c, double slack) {
  return Box{*std::min_element(c.x, c.x + 4) - slack, *std::min_element(c.y, c.y + 4) - slack,
             *std::max_element(c.x, c.x + 4) + slack, *std::max_element(c.y, c.y + 4) + slack};
}

// The square of the distance between two boxes, 0 where they meet.
inline double box_gap2(const Box& a, const Box& b) {
  const double gx = std::max({0.0, b.min_x - a.max_x, a.min_x - b.max_x});
  const double gy = std::max({0.0, b.min_y - a.max_y, a.min_y - b.max_y});
  return gx * gx + gy * gy;
}

// A curve whose derivative's control vectors lie within 41 degrees of one
// direction keeps its derivative in that cone: the distance from any point to
// later points then grows by at least this much per unit of parameter (0 when
// the vectors spread wider).
double cone_climb(const Cubic& c);

// The climb of the whole curve (see cone_climb), and how far rounding puts a
// float position from its exact point.
struct CurveClimb {
  double climb = 0, rounding = 0;
};
CurveClimb curve_climb(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y);

// How far the distance must grow between a run's last two too-far midpoints
// for a proof by the climb to beat the rounding, at this target.
inline double climb_need(const CurveClimb& c, float target) {
  return 4 * c.rounding + 1e-6 * (target + 0.01) + 1e-9;
}
