#include "paint/image.h"

#include <cstdlib>
#include <cstring>

#include "base/digest.h"

int image_create(Image* image, int w, int h) {
  *image = Image{nullptr, 0, 0, 0};
  if (w <= 0 || h <= 0) return 0;
  void* pixels = calloc(static_cast<size_t>(w) * static_cast<size_t>(h), sizeof(uint32_t));
  if (!pixels) return 0;
  *image = Image{static_cast<uint32_t*>(pixels), w, h, w};
  return 1;
}

void image_destroy(Image* image) {
  free(image->pixels);
  *image = Image{nullptr, 0, 0, 0};
}

Image image_part(const Image* image, int x, int y, int w, int h) {
  return Image{image_row(image, y) + x, w, h, image->stride};
}

void image_fill(Image* image, uint32_t pixel) {
  for (int y = 0; y < image->h; ++y) {
    uint32_t* row = image_row(image, y);
    for (int x = 0; x < image->w; ++x) row[x] = pixel;
  }
}

void image_copy(const Image* from, Image* to, int sx, int sy, int dx, int dy, int w, int h) {
  // The source's edges first, then the target's, each moving both corners.
  if (sx < 0) w += sx, dx -= sx, sx = 0;
  if (sy < 0) h += sy, dy -= sy, sy = 0;
  if (w > from->w - sx) w = from->w - sx;
  if (h > from->h - sy) h = from->h - sy;
  if (dx < 0) w += dx, sx -= dx, dx = 0;
  if (dy < 0) h += dy, sy -= dy, dy = 0;
  if (w > to->w - dx) w = to->w - dx;
  if (h > to->h - dy) h = to->h - dy;
  if (w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y) {
    uint32_t* target = image_row(to, dy + y) + dx;
    const uint32_t* source = image_row(from, sy + y) + sx;
    if (target != source) memcpy(target, source, static_cast<size_t>(w) * sizeof(uint32_t));
  }
}

void image_copy_all(const Image* from, Image* to) { image_copy(from, to, 0, 0, 0, 0, from->w, from->h); }

bool image_clip_span(long long* pos, long long* len, long long limit) {
  if (*len == 0) return false;
  if (*len < 0) {
    *pos += *len;
    *len = -*len;
  }
  if (*pos < 0) {
    *len += *pos;
    *pos = 0;
    if (*len <= 0) return false;
  }
  if (*pos + *len > limit) {
    *len = limit - *pos;
    if (*len <= 0) return false;
  }
  return true;
}

bool image_area_clip(ImageArea* area, int w, int h) {
  long long x = area->x, y = area->y, aw = area->w, ah = area->h;
  if (!image_clip_span(&x, &aw, w) || !image_clip_span(&y, &ah, h)) {
    // An emptied area keeps no size, so adding it later adds nothing.
    area->w = 0;
    area->h = 0;
    return false;
  }
  *area = ImageArea{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(aw),
                    static_cast<int16_t>(ah)};
  return true;
}

uint64_t image_digest(const Image* image) {
  uint64_t h = DIGEST_START;
  for (int y = 0; y < image->h; ++y) {
    const uint32_t* row = image_row(image, y);
    for (int x = 0; x < image->w; ++x) h = (h ^ row[x]) * 1099511628211ull;
  }
  return h;
}
