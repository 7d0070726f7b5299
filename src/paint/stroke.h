// The stroke path walker, the bilinear deposit, the pen and the stroke preview.
#pragma once
#include <allegro.h>
#include <cstdint>

struct DirtyRect;

constexpr int STROKE_SAMPLES_MAX = 8192;

// Samples produced by the last sampleSegment/sampleCurve call.
struct StrokeSampleBuffer {
  float x[STROKE_SAMPLES_MAX];
  float y[STROKE_SAMPLES_MAX];
  int count;
};
extern __thread StrokeSampleBuffer StrokeSamples;  // per thread

// Samples segment i of the stroke (P[i] to P[i+1]) into StrokeSamples and
// returns the offset carried to segment i+1.
float sampleSegment(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i,
                    float spacing, float offset);
// The inner control points (c1x, c1y, c2x, c2y) of the cubic curve that
// segment i of a stroke of n >= 3 points follows; 0 when the segment is
// sampled as a straight line instead. The curve lies within the hull of its
// ends and these.
int segmentControls(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float c[4]);
// Equal-chord sampling of a cubic Bezier curve into StrokeSamples.
float sampleCurve(float p0x, float p0y, float c1x, float c1y, float c2x, float c2y,
                  float p3x, float p3y, float spacing, float offset);

// Walks the stroke with the given spacing: every segment in turn, the
// leftover offset carried to the next, visit(x, y) for every sample in order.
template <class Visit>
void walkStroke(const int16_t* xs, const int16_t* ys, int n, float spacing, Visit visit) {
  if (n <= 0) return;
  float offset = 0.0f;
  for (unsigned i = 0; i < static_cast<unsigned>(n); ++i) {
    float leftover = sampleSegment(xs, ys, n, i, spacing, offset);
    for (int k = 0; k < StrokeSamples.count; ++k) visit(StrokeSamples.x[k], StrokeSamples.y[k]);
    offset = leftover;
  }
}

// Deposits a colour at a fractional position over the 2 x 2 pixels around it.
void splatPoint(BITMAP* bmp, float x, float y, float r, float g, float b, float weight);

void drawPen(BITMAP* bmp, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n);

// Pen-style preview of segments first..end-1 onto a canvas-sized or larger
// target (the canvas taken as centred in it). Fills rect, when given, with the
// clipped screen area touched. Returns the offset after the last segment.
float drawStrokePreview(BITMAP* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end,
                        float offset, DirtyRect* rect);
