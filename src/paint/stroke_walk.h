// The stroke path walker. A stroke is a list of points; segment i joins point
// i to point i + 1 as a cubic curve through its neighbours, sampled at equal
// chords (curve_search.h), or straight where it has no direction.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "paint/engine_paths.h"
#include "paint/reach_proof.h"

// The pen's dots, laid by the fast curve search as it goes (pen_dots.h).
struct LaidDots;

constexpr int STROKE_SAMPLES_MAX = 8192;

// Samples produced by the last sampleSegment/sampleCurve call. The pen's
// dots of the first `laid` were laid by the walk itself, as it went.
struct StrokeSampleBuffer {
  float x[STROKE_SAMPLES_MAX];
  float y[STROKE_SAMPLES_MAX];
  int count;
  int laid;
};
extern __thread StrokeSampleBuffer StrokeSamples;  // per thread

// Samples segment i of the stroke (P[i] to P[i+1]) into StrokeSamples and
// returns the offset carried to segment i+1. With dots, the fast ways may lay
// the pen's dots of the first samples themselves (counted in `laid`).
float sampleSegment(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                    float spacing, float offset, const LaidDots* dots = nullptr);
// The inner control points (c1x, c1y, c2x, c2y) of the cubic curve that
// segment i of a stroke of n >= 3 points follows; 0 when the segment is
// sampled as a straight line instead. The curve lies within the hull of its
// ends and these.
int segmentControls(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[4]);
// False when segment i of a stroke of three points or more is too short to
// fill the sample buffer, by a bound with no root: its curve's control
// polygon is no longer than the chord and half of each tangent, each measured
// as the sum of its coordinates' differences, plus the control points' rounding.
inline bool segmentCouldFill(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing) {
  unsigned before = i == 0 ? 0 : i - 1, after = i == n - 2 ? i + 1 : i + 2;
  auto span = [&](unsigned a, unsigned b) { return std::abs(xs[a] - xs[b]) + std::abs(ys[a] - ys[b]); };
  return span(i, i + 1) + 0.5 * (span(i + 1, before) + span(i, after)) + 1 > STROKE_SAMPLES_MAX * spacing;
}

// visit(x, y) for one sample; false when the visit ends the walk, which a
// visit that returns nothing never does.
template <class Visit>
inline bool visit_sample(Visit& visit, float x, float y) {
  if constexpr (std::is_same<decltype(visit(x, y)), bool>::value) {
    return visit(x, y);
  } else {
    visit(x, y);
    return true;
  }
}

// Walks the stroke with the given spacing: every segment in turn, the
// leftover offset carried to the next, visit(x, y) for every sample in order
// (but those whose dots the walk laid itself) until a visit returns false (a
// tool that can change nothing more).
// The fast ways do not visit samples out of reach of the picture: skip(count)
// stands for count of them, a single one or a whole segment that provably
// stays out of reach.
template <class Visit, class Skip>
void walkStroke(const int16_t* xs, const int16_t* ys, int n, float spacing, const StrokeReach& reach, Visit visit,
                Skip skip, const LaidDots* dots = nullptr) {
  if (n <= 0) return;
  const bool proofs = engine_fast() && reach.reach < INFINITY;
  float offset = 0.0f;
  for (unsigned i = 0; i < static_cast<unsigned>(n); ++i) {
    if (proofs && n >= 3 && i + 1 < static_cast<unsigned>(n) && segmentCouldFill(xs, ys, n, i, spacing) &&
        segmentMissesPicture(xs, ys, n, i, spacing, offset, reach)) {
      skip(STROKE_SAMPLES_MAX);
      offset = 0.0f;
      continue;
    }
    float leftover = sampleSegment(xs, ys, n, i, spacing, offset, dots);
    for (int k = StrokeSamples.laid; k < StrokeSamples.count; ++k) {
      const float x = StrokeSamples.x[k], y = StrokeSamples.y[k];
      if (proofs && sampleOffPicture(reach, x, y))
        skip(1);
      else if (!visit_sample(visit, x, y))
        return;
    }
    offset = leftover;
  }
}

// Every sample visited, none skipped.
template <class Visit>
void walkStroke(const int16_t* xs, const int16_t* ys, int n, float spacing, Visit visit) {
  walkStroke(xs, ys, n, spacing, StrokeReach{0, 0, INFINITY}, visit, [](int) {});
}
