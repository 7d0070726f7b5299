#include "paint/png_read.h"

#include <climits>

#include "paint/pixel.h"

// The decoder is compiled here, private to this file, and for PNG alone.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 16384
#include <stb/stb_image.h>

int png_read(const uint8_t* bytes, size_t length, int w, int h, Image* out) {
  if (!bytes || length == 0 || length > size_t(INT_MAX) || !out || out->w != w || out->h != h) return 0;
  int got_w = 0, got_h = 0, channels = 0;
  // The size is checked before anything is decoded: a picture of another size is refused cheaply.
  if (!stbi_info_from_memory(bytes, int(length), &got_w, &got_h, &channels) || got_w != w || got_h != h) return 0;
  stbi_uc* rgb = stbi_load_from_memory(bytes, int(length), &got_w, &got_h, &channels, 3);
  if (!rgb) return 0;
  const bool fits = got_w == w && got_h == h;
  for (int y = 0; fits && y < h; ++y) {
    const stbi_uc* from = rgb + size_t(y) * size_t(w) * 3;
    uint32_t* row = image_row(out, y);
    for (int x = 0; x < w; ++x) row[x] = pack_pixel(from[3 * x], from[3 * x + 1], from[3 * x + 2]);
  }
  stbi_image_free(rgb);
  return fits;
}
