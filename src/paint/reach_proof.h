// Where a tool can leave paint, and the proof that a long curved segment
// stays out of reach of the picture (reach_proof.cpp), which lets the fast
// ways skip it.
#pragma once
#include <cstdint>

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

// True when segment i, walked from the given offset, is known without walking
// it to give STROKE_SAMPLES_MAX samples (and so a leftover of 0), every one of
// them off the picture. Long curves only (the walk asks only when
// segmentCouldFill says so); false whenever it cannot tell.
bool segmentMissesPicture(const int16_t* xs, const int16_t* ys, unsigned n, unsigned i, float spacing, float offset,
                          const StrokeReach& reach);

