// The bristle brush's records, which its plain way (brush.cpp) and its AVX2
// way (brush_wide.h) share.
#pragma once
#include <cstddef>
#include <cstdint>

namespace brush {


constexpr int BRISTLE_MAX = 256;
constexpr float BRUSH_SPACING = 1.5f;

// A draw scaled by 0.2 in one step (0.2 / 4294967295 is a single double constant).
constexpr double DRAW_SCALE_FIFTH = 0.2 / 4294967295.0;
constexpr double DRAW_RANGE_SQUARED = 4294967295.0 * 4294967295.0;

// The wide planning reads across..y and carry..g, and writes x..load, four
// floats at a time.
struct Bristle {
  float across;  // offset across the stroke direction
  float along;   // offset along the stroke direction
  float x, y;    // current position on the canvas
  float carry;   // distance from the current position to the next trail dot
  float load;    // paint load; only decreases
  float r, g, b; // current colour
};
static_assert(offsetof(Bristle, load) == offsetof(Bristle, across) + 5 * sizeof(float) &&
                  offsetof(Bristle, g) == offsetof(Bristle, across) + 7 * sizeof(float),
              "the wide planning's four-float reads and writes");

// What a sample does to one live bristle apart from the picture's colours.
// Positions, loads and draws never depend on the pixels, so a sample works
// them out for every bristle first and then paints the bristles in order.
struct Step {
  float sx, sy;       // the pick-up position
  int x0, y0;         // its cell and fractions, when on the picture
  float fx, fy;
  bool pick;          // the pick-up cell is on the picture
  uint32_t draws[4];  // the pick-up's two (0 without it), then the drying's two
  // Worked out from the above, four bristles side by side where the processor
  // allows, in groups of four written at once.
  float mix, opacity, weight, ex;  // pick-up mix, the trails' opacity, the refill's weight, direction
  float ey;
  int dots;    // dots on each trail, 0 for none
  int mix_in;  // the pick-up mixes its colour in
  int spare;   // completes the group
  float tx[4], ty[4];  // the trails' first dots
};
static_assert(offsetof(Step, spare) == offsetof(Step, mix) + 7 * sizeof(float) &&
                  offsetof(Step, ty) == offsetof(Step, mix) + 12 * sizeof(float),
              "the wide planning's four-float writes");

// Rebuilt at the start of every stroke; fixed storage so no stroke allocates.
struct BristleList {
  Bristle bristles[BRISTLE_MAX];
  int count;
  Step steps[BRISTLE_MAX];  // the bristles' part of the current sample
};


constexpr float TRAIL_OFFSET[4] = {1.0f, -0.5f, 0.5f, -1.0f};

struct Sample {
  float X, Y, tx, ty, nx, ny;
};

// A live bristle's trails from its place to the next, its carry, refill weight

}  // namespace brush
