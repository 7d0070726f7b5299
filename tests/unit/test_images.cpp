#include "test_images.h"

#include "paint/pixel.h"

namespace testsupport {

uint64_t image_checksum(const Image* image) {
  ChannelChecksum sum;
  sum.size(image->w, image->h);
  for (int y = 0; y < image->h; ++y) {
    for (int x = 0; x < image->w; ++x) {
      const uint32_t p = pixel_at(image, x, y);
      sum.mix(pixel_red(p));
      sum.mix(pixel_green(p));
      sum.mix(pixel_blue(p));
    }
  }
  return sum.h;
}

long count_differences(const Image* a, const Image* b) {
  if (a->w != b->w || a->h != b->h) return -1;
  long n = 0;
  for (int y = 0; y < a->h; ++y)
    for (int x = 0; x < a->w; ++x) n += ((pixel_at(a, x, y) ^ pixel_at(b, x, y)) & 0x00FFFFFFu) != 0;
  return n;
}

Image* make_filled(int w, int h, int r, int g, int b) {
  Image* image = new Image;
  if (image_create(image, w, h)) image_fill(image, pack_pixel(r, g, b));
  return image;
}

Image* make_pattern(int w, int h) {
  Image* image = new Image;
  if (!image_create(image, w, h)) return image;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int r = (x * 255) / (w > 1 ? w - 1 : 1);
      int g = (y * 255) / (h > 1 ? h - 1 : 1);
      int b = ((x / 7 + y / 5) % 2) ? 220 : 30;
      image_row(image, y)[x] = pack_pixel(r, g, b);
    }
  }
  return image;
}

void free_image(Image* image) {
  image_destroy(image);
  delete image;
}

void fill_rect(Image* image, int x0, int y0, int x1, int y1, uint32_t pixel) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) image_row(image, y)[x] = pixel;
}

}  // namespace testsupport
