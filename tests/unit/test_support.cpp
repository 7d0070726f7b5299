#include "test_support.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "paint/pixel.h"

namespace testsupport {

uint64_t bitmap_checksum(BITMAP* bmp) {
  ChannelChecksum sum;
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

long count_differences(BITMAP* a, BITMAP* b) {
  if (a->w != b->w || a->h != b->h) return -1;
  const int channels = makecol32(255, 255, 255);  // their bits, whatever the layout
  long n = 0;
  for (int y = 0; y < a->h; ++y)
    for (int x = 0; x < a->w; ++x) n += ((getpixel(a, x, y) ^ getpixel(b, x, y)) & channels) != 0;
  return n;
}

BITMAP* make_filled_bitmap(int w, int h, int r, int g, int b) {
  BITMAP* bmp = create_bitmap_ex(32, w, h);
  if (bmp) clear_to_color(bmp, makecol32(r, g, b));
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
