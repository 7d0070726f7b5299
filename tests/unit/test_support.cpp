#include "test_support.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

uint64_t bitmap_checksum(BITMAP* bmp) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](int v) {
    h ^= static_cast<uint64_t>(v & 0xFF);
    h *= 1099511628211ull;
  };
  mix(bmp->w);
  mix(bmp->w >> 8);
  mix(bmp->h);
  mix(bmp->h >> 8);
  for (int y = 0; y < bmp->h; ++y) {
    for (int x = 0; x < bmp->w; ++x) {
      int p = getpixel(bmp, x, y);
      mix(getr32(p));
      mix(getg32(p));
      mix(getb32(p));
    }
  }
  return h;
}

long count_differences(BITMAP* a, BITMAP* b) {
  if (a->w != b->w || a->h != b->h) return -1;
  const int channels = makecol32(255, 255, 255);  // their bits, whatever the layout
  long n = 0;
  for (int y = 0; y < a->h; ++y)
    for (int x = 0; x < a->w; ++x) n += ((getpixel(a, x, y) ^ getpixel(b, x, y)) & channels) != 0;
  return n;
}

BITMAP* make_filled(int w, int h, int r, int g, int b) {
  BITMAP* bmp = create_bitmap_ex(32, w, h);
  if (bmp) clear_to_color(bmp, makecol32(r, g, b));
  return bmp;
}

BITMAP* make_pattern(int w, int h) {
  BITMAP* bmp = create_bitmap_ex(32, w, h);
  if (!bmp) return nullptr;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int r = (x * 255) / (w > 1 ? w - 1 : 1);
      int g = (y * 255) / (h > 1 ? h - 1 : 1);
      int b = ((x / 7 + y / 5) % 2) ? 220 : 30;
      putpixel(bmp, x, y, makecol32(r, g, b));
    }
  }
  return bmp;
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
