#include "paint/disc.h"

#include <cmath>

#include "paint/disc_rows.h"
#include "paint/engine_paths.h"

namespace {

// Beyond this a centre or radius cannot come from a stroke; such discs paint nothing.
constexpr float DISC_LIMIT = 1e8f;

}  // namespace

void softDisc(Image* image, float cx, float cy, float r, float g, float b, float coverage, float radius) {
  // A centre that is not a number (a zero-length stroke) paints nothing; a
  // radius below 0.5 has no rows.
  if (!(std::fabs(cx) < DISC_LIMIT && std::fabs(cy) < DISC_LIMIT && radius >= 0.5f && radius < DISC_LIMIT)) return;
  int R = static_cast<int>(std::floor(radius + 0.5));
  // Rows off the image paint nothing: start and stop near its top and bottom.
  int first = 1 - R, last = R;
  double top = std::floor(-static_cast<double>(cy)) - 1, bottom = std::ceil(image->h - static_cast<double>(cy)) + 1;
  if (first < top) first = static_cast<int>(top);
  if (last > bottom) last = static_cast<int>(bottom);
#ifdef EASEL_WIDE
  if (engine_wide()) {
    // A row reaches at most R + 1 pixels from the centre: nothing to paint
    // wholly left or right of the image.
    if (cx + static_cast<double>(R) < -2 || cx - static_cast<double>(R) > image->w + 2) return;
    disc_rows_wide(MemoryRows<PackedRowInk, true>{image, packed_row_ink(r, g, b), coverage}, image->h, cx, cy,
                   radius, coverage, first, last);
    return;
  }
#endif
#ifdef __SSE2__
  if (engine_fast()) {
    disc_rows(MemoryRows<PackedRowInk>{image, packed_row_ink(r, g, b), coverage}, image->h, cx, cy, radius, coverage,
              first, last);
    return;
  }
#endif
  disc_rows(MemoryRows<RowInk>{image, row_ink(r, g, b), coverage}, image->h, cx, cy, radius, coverage, first, last);
}
