// The ways of depositing splatPoint's dots, for loops that lay many: each lays
// out a colour once (ink) and deposits dots with it (splat). All give
// splatPoint's bits; the loop is compiled once per way and the way is chosen
// per stroke: the plain one for the reference ways, else the fastest one the
// processor takes.
#pragma once
#include "paint/engine_paths.h"
#include "paint/image.h"
#include "paint/pen.h"
#include "paint/splat.h"
#include "paint/splat_packed.h"
#include "paint/splat_wide.h"

// The plain way: splatPoint, dot by dot.
struct PointDeposit {
  Image* image;
  struct Ink {
    float r, g, b;
  };
  static Ink ink(float r, float g, float b) { return Ink{r, g, b}; }
  void splat(float x, float y, const Ink& c, float weight) const { splatPoint(image, x, y, c.r, c.g, c.b, weight); }
};

#ifdef __SSE2__
// The packed layout, written straight into the rows.
struct PackedDeposit {
  Image* image;
  typedef PackedInk Ink;
  static Ink ink(float r, float g, float b) { return packed_ink(r, g, b); }
  void splat(float x, float y, const Ink& c, float weight) const { splat_packed(image, x, y, c, weight); }
};
#endif

#ifdef EASEL_WIDE
// A processor with AVX2.
struct WideDeposit {
  Image* image;
  typedef WideInk Ink;
  static Ink ink(float r, float g, float b) { return wide_ink(r, g, b); }
  EASEL_WIDE_TARGET void splat(float x, float y, const Ink& c, float weight) const {
    splat_wide(image, x, y, c, weight);
  }
};

template <class Paint>
EASEL_WIDE_LOOP void paint_wide(Image* image, const Paint& paint) {
  paint(WideDeposit{image});
}
#endif

// paint(deposit) with the deposit the engine's ways choose; paint is called
// once, with a deposit of one of the kinds above.
template <class Paint>
void paint_with_deposit(Image* image, const Paint& paint) {
#ifdef EASEL_WIDE
  if (engine_wide()) {
    paint_wide(image, paint);
    return;
  }
#endif
#ifdef __SSE2__
  if (engine_fast() && packed_layout()) {
    paint(PackedDeposit{image});
    return;
  }
#endif
  paint(PointDeposit{image});
}
