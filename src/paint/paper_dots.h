// The paper's dots: where each step of the weave lays its two dots, and how
// (canvas.cpp weaves them; paper_wide.h is the AVX2 way of laying them).
#pragma once
#include <cstdint>

#include "paint/random.h"

namespace paper {

inline double jitter(uint32_t d) { return (random_unit(d) - 0.5) * 1.4; }

// The two dots of one step of a pass, in draw order.
struct Step {
  float x1, y1, x2, y2;
};

// What a pass adds to the jittered place of each dot of a step.
struct Offsets {
  double x1, y1, x2, y2;
};

// A step's dots from its four draws d at (x, y), and how they are laid: any
// deposit places and splats them one by one.
template <class Deposit>
struct PaperDots {
  typedef Step Item;
  static Item place(const Deposit&, float x, float y, const uint32_t* d, const Offsets& o, float, float) {
    return Step{static_cast<float>(jitter(d[0]) + x + o.x1), static_cast<float>(jitter(d[1]) + y + o.y1),
                static_cast<float>(x + jitter(d[2]) + o.x2), static_cast<float>(y + jitter(d[3]) + o.y2)};
  }
  template <class Ink>
  static void paint(const Deposit& out, const Item& s, const Ink& ink1, float weight1, const Ink& ink2,
                    float weight2) {
    out.splat(s.x1, s.y1, ink1, weight1);
    out.splat(s.x2, s.y2, ink2, weight2);
  }
};

}  // namespace paper
