// The stroke path walker, the bilinear deposit, the pen and the stroke preview.
// A stroke is a list of points; segment i joins point i to point i + 1 as a
// cubic curve through its neighbours (stroke_walk.cpp), sampled at equal
// chords (curve_search.cpp), or straight where it has no direction.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "paint/engine_paths.h"
#include "paint/image.h"

struct DirtyRect;
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
// Equal-chord sampling of a cubic Bezier curve into StrokeSamples: from the
// last sample, the next is the curve point farther on whose distance is
// within 0.01 of the spacing (the first: of the offset). Returns the
// distance left over at the end, carried to the next segment.
float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y,
                  float p3x, float p3y, float spacing, float offset, const LaidDots* dots = nullptr);

// Where a tool can leave paint: no pixel of a w x h picture changes for a
// sample farther than reach outside it.
struct StrokeReach {
  int w, h;
  float reach;
};

// Whether a sample lies farther than the reach outside the picture.
inline bool sampleOffPicture(const StrokeReach& r, float x, float y) {
  return x < -r.reach || y < -r.reach || x > r.w + r.reach || y > r.h + r.reach;
}

// False when segment i of a stroke of three points or more is too short to
// fill the sample buffer, by a bound with no root: its curve's control
// polygon is no longer than the chord and half of each tangent, each measured
// as the sum of its coordinates' differences, plus the control points' rounding.
inline bool segmentCouldFill(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing) {
  unsigned before = i == 0 ? 0 : i - 1, after = i == n - 2 ? i + 1 : i + 2;
  auto span = [&](unsigned a, unsigned b) { return std::abs(xs[a] - xs[b]) + std::abs(ys[a] - ys[b]); };
  return span(i, i + 1) + 0.5 * (span(i + 1, before) + span(i, after)) + 1 > STROKE_SAMPLES_MAX * spacing;
}

// True when segment i, walked from the given offset, is known without walking
// it to give STROKE_SAMPLES_MAX samples (and so a leftover of 0), every one of
// them off the picture. Long curves only (the walk asks only when
// segmentCouldFill says so); false whenever it cannot tell.
bool segmentMissesPicture(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing, float offset,
                          const StrokeReach& reach);

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

// Deposits a colour at a fractional position over the 2 x 2 pixels around it.
void splatPoint(Image* image, float x, float y, float r, float g, float b, float weight);

void drawPen(Image* image, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n);

// Pen-style preview of segments first..end-1 onto a canvas-sized or larger
// target (the canvas taken as centred in it). Fills rect, when given, with the
// clipped screen area touched. Returns the offset after the last segment.
float drawStrokePreview(Image* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end,
                        float offset, DirtyRect* rect);
