#include "paint/curve_geometry.h"

#include "paint/square_root.h"

void split_curve(const Cubic& c, double t, Cubic* left, Cubic* right) {
  auto lerp = [t](double a, double b) { return a + (b - a) * t; };
  const double* v[2] = {c.x, c.y};
  double* l[2] = {left->x, left->y};
  double* r[2] = {right->x, right->y};
  for (int a = 0; a < 2; ++a) {
    double p01 = lerp(v[a][0], v[a][1]), p12 = lerp(v[a][1], v[a][2]), p23 = lerp(v[a][2], v[a][3]);
    double p012 = lerp(p01, p12), p123 = lerp(p12, p23), mid = lerp(p012, p123);
    l[a][0] = v[a][0], l[a][1] = p01, l[a][2] = p012, l[a][3] = mid;
    r[a][0] = mid, r[a][1] = p123, r[a][2] = p23, r[a][3] = v[a][3];
  }
}

double cone_climb(const Cubic& c) {
  double hx[3], hy[3], len[3];
  for (int k = 0; k < 3; ++k) {
    hx[k] = c.x[k + 1] - c.x[k], hy[k] = c.y[k + 1] - c.y[k];
    len[k] = square_root(hx[k] * hx[k] + hy[k] * hy[k]);
    if (!(len[k] > 0)) return 0;
  }
  // The cone's axis halves the widest angle between two of the vectors.
  int a = 0, b = 1;
  double widest = 2;
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j) {
      double c = (hx[i] * hx[j] + hy[i] * hy[j]) / (len[i] * len[j]);
      if (c < widest) widest = c, a = i, b = j;
    }
  double ux = hx[a] / len[a] + hx[b] / len[b], uy = hy[a] / len[a] + hy[b] / len[b];
  double ulen = square_root(ux * ux + uy * uy);
  if (!(ulen > 0)) return 0;
  ux /= ulen, uy /= ulen;
  double cosine = 1, slowest = INFINITY;
  for (int k = 0; k < 3; ++k) {
    double along = ux * hx[k] + uy * hy[k];
    cosine = std::min(cosine, along / len[k]);
    slowest = std::min(slowest, along);
  }
  cosine -= 1e-9;
  if (!(cosine > 0.75)) return 0;
  // The speed is at least 3 * slowest; the chord to a later point and the
  // direction there are at most twice the cone's half-angle apart.
  return (2 * cosine * cosine - 1) * 3 * slowest * (1 - 1e-9);
}

CurveClimb curve_climb(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y, float p3x, float p3y) {
  const Cubic curve = {{p0x, c1x, c2x, p3x}, {p0y, c1y, c2y, p3y}};
  CurveClimb c;
  c.climb = cone_climb(curve);
  c.rounding = largest_coordinate(curve) * 1e-7 + 1e-9;
  return c;
}
