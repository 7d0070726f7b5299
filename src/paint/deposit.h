// The ways of depositing splatPoint's dots, for loops that lay many: each lays
// out a colour once (ink) and deposits dots with it (splat). All give
// splatPoint's bits; the loop is compiled once per way and the fastest one the
// processor takes is chosen per stroke.
#pragma once
#include "paint/image.h"
#include "paint/splat.h"
#include "paint/splat_wide.h"
#include "paint/stroke.h"

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

// paint(deposit) with the fastest deposit the processor takes, the wide one
// only if wide; paint is called once, with a deposit of one of the kinds above.
template <class Paint>
void paint_with_deposit(Image* image, const Paint& paint, bool wide = true) {
#ifdef EASEL_WIDE
  if (wide && wide_available()) {
    paint_wide(image, paint);
    return;
  }
#endif
#ifdef __SSE2__
  if (packed_layout()) {
    paint(PackedDeposit{image});
    return;
  }
#endif
  (void)wide;
  paint(PointDeposit{image});
}
