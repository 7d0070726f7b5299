// The ways of depositing splatPoint's dots, for loops that lay many: each lays
// out a colour once (ink) and deposits dots with it (splat). All give
// splatPoint's bits; the loop is compiled once per way and the fastest one the
// bitmap and the processor take is chosen per stroke.
#pragma once
#include <allegro.h>

#include "paint/splat.h"
#include "paint/splat_wide.h"
#include "paint/stroke.h"

// Any bitmap: splatPoint takes its own way for each kind.
struct PointDeposit {
  BITMAP* bmp;
  struct Ink {
    float r, g, b;
  };
  static Ink ink(float r, float g, float b) { return Ink{r, g, b}; }
  void splat(float x, float y, const Ink& c, float weight) const { splatPoint(bmp, x, y, c.r, c.g, c.b, weight); }
};

#ifdef __SSE2__
// A 32-bit memory bitmap in the packed layout, written straight into its rows.
struct PackedDeposit {
  BITMAP* bmp;
  typedef PackedInk Ink;
  static Ink ink(float r, float g, float b) { return packed_ink(r, g, b); }
  void splat(float x, float y, const Ink& c, float weight) const { splat_packed(bmp, x, y, c, weight); }
};
#endif

#ifdef EASEL_WIDE
// A 32-bit memory bitmap on a processor with AVX2.
struct WideDeposit {
  BITMAP* bmp;
  typedef WideInk Ink;
  static Ink ink(float r, float g, float b) { return wide_ink(r, g, b); }
  EASEL_WIDE_TARGET void splat(float x, float y, const Ink& c, float weight) const {
    splat_wide(bmp, x, y, c, weight);
  }
};

template <class Paint>
EASEL_WIDE_LOOP void paint_wide(BITMAP* bmp, const Paint& paint) {
  paint(WideDeposit{bmp});
}
#endif

// paint(deposit) with the fastest deposit for the bitmap, the wide one only if
// wide; paint is called once, with a deposit of one of the kinds above.
template <class Paint>
void paint_with_deposit(BITMAP* bmp, const Paint& paint, bool wide = true) {
  const bool memory = bmp && is_memory_bitmap(bmp) && bitmap_color_depth(bmp) == 32;
#ifdef EASEL_WIDE
  if (memory && wide && wide_available()) {
    paint_wide(bmp, paint);
    return;
  }
#endif
#ifdef __SSE2__
  if (memory && packed_layout()) {
    paint(PackedDeposit{bmp});
    return;
  }
#endif
  paint(PointDeposit{bmp});
}
