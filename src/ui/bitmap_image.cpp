#include "ui/bitmap_image.h"

#include "paint/pixel.h"

Image bitmap_image(BITMAP* bmp) {
  if (!bmp || !is_memory_bitmap(bmp) || bitmap_color_depth(bmp) != 32 || bmp->w <= 0 || bmp->h <= 0)
    return Image{nullptr, 0, 0, 0};
  // A memory bitmap's rows lie evenly spaced, a sub-bitmap's at its parent's spacing.
  uint32_t* first = reinterpret_cast<uint32_t*>(bmp->line[0]);
  const ptrdiff_t stride = bmp->h > 1 ? reinterpret_cast<uint32_t*>(bmp->line[1]) - first : bmp->w;
  return Image{first, bmp->w, bmp->h, stride};
}

void blit_image(const Image* image, BITMAP* bmp, int sx, int sy, int dx, int dy, int w, int h) {
  Image to = bitmap_image(bmp);
  image_copy(image, &to, sx, sy, dx, dy, w, h);
}

int bitmap_colour(int r, int g, int b) { return static_cast<int>(pack_pixel(r, g, b)); }

bool library_layout_matches() {
  return makecol32(255, 0, 0) == bitmap_colour(255, 0, 0) && makecol32(0, 255, 0) == bitmap_colour(0, 255, 0) &&
         makecol32(0, 0, 255) == bitmap_colour(0, 0, 255);
}
