#include "test_support.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "paint/pixel.h"

namespace testsupport {

namespace {

struct Checksum {
  uint64_t h = 1469598103934665603ull;
  void mix(int v) {
    h ^= static_cast<uint64_t>(v & 0xFF);
    h *= 1099511628211ull;
  }
  void size(int w, int height) {
    mix(w);
    mix(w >> 8);
    mix(height);
    mix(height >> 8);
  }
};

}  // namespace

uint64_t image_checksum(const Image* image) {
  Checksum sum;
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

uint64_t bitmap_checksum(BITMAP* bmp) {
  Checksum sum;
  sum.size(bmp->w, bmp->h);
  for (int y = 0; y < bmp->h; ++y) {
    for (int x = 0; x < bmp->w; ++x) {
      int p = getpixel(bmp, x, y);
      sum.mix(getr32(p));
      sum.mix(getg32(p));
      sum.mix(getb32(p));
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

long count_differences(BITMAP* a, BITMAP* b) {
  if (a->w != b->w || a->h != b->h) return -1;
  const int channels = makecol32(255, 255, 255);  // their bits, whatever the layout
  long n = 0;
  for (int y = 0; y < a->h; ++y)
    for (int x = 0; x < a->w; ++x) n += ((getpixel(a, x, y) ^ getpixel(b, x, y)) & channels) != 0;
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

BITMAP* make_filled_bitmap(int w, int h, int r, int g, int b) {
  BITMAP* bmp = create_bitmap_ex(32, w, h);
  if (bmp) clear_to_color(bmp, makecol32(r, g, b));
  return bmp;
}

void fill_rect(Image* image, int x0, int y0, int x1, int y1, uint32_t pixel) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) image_row(image, y)[x] = pixel;
}

TempDir::TempDir() : previous_(std::filesystem::current_path()) {
  std::string made = (std::filesystem::temp_directory_path() / "easel-test-XXXXXX").string();
  if (mkdtemp(made.data()) && chdir(made.c_str()) == 0) path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
