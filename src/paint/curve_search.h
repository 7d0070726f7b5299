// The curve search: equal-chord samples of a segment's cubic curve, by plain
// bisection or by the fast ways that give the same samples.
#pragma once

// The pen's dots, laid by the fast curve search as it goes (pen_dots.h).
struct LaidDots;

// Equal-chord sampling of a cubic Bezier curve into StrokeSamples: from the
// last sample, the next is the curve point farther on whose distance is
// within 0.01 of the spacing (the first: of the offset). Returns the
// distance left over at the end, carried to the next segment.
float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y,
                  float p3x, float p3y, float spacing, float offset, const LaidDots* dots = nullptr);
