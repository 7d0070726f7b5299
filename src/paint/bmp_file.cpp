#include "paint/bmp_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "paint/pixel.h"

// The decoder and encoder are compiled here, private to this file, and the
// decoder for BMP alone: nothing else of theirs is reachable from a file.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS BMP_SIDE_MAX
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

// The file header; the bytes read_header needs at least.
constexpr size_t FILE_HEADER = 14;
constexpr size_t HEADERS_READ = FILE_HEADER + 16;
// A pixel takes at least one bit of the file.
constexpr size_t PIXELS_PER_BYTE = 8;
// Four colours of an old header's palette.
constexpr size_t OLD_PALETTE_GAP = 12;

uint32_t little_endian(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = v << 8 | p[k];
  return v;
}

// The numbers of the header that matter besides the decoder: the size, the
// bits a pixel (a palette up to 8), for 16 bits whether green has 5 of them,
// and whether the header is the old 12-byte one.
struct Header {
  int64_t w, h;
  uint32_t bits;
  bool green_of_5, old;
};

// The header, when the picture is one worth decoding: within the limits, and
// one that the bytes can hold at all (a damaged header must not make the
// decoder fill a huge picture from nothing).
bool read_header(const uint8_t* bytes, size_t size, Header* out) {
  if (size < HEADERS_READ || bytes[0] != 'B' || bytes[1] != 'M') return false;
  Header h = {0, 0, 0, false, false};
  h.old = little_endian(bytes + FILE_HEADER, 4) == 12;
  if (h.old) {
    h.w = little_endian(bytes + 18, 2);
    h.h = little_endian(bytes + 20, 2);
    h.bits = little_endian(bytes + 24, 2);
  } else {
    h.w = static_cast<int32_t>(little_endian(bytes + 18, 4));
    h.h = static_cast<int32_t>(little_endian(bytes + 22, 4));
    h.bits = little_endian(bytes + 28, 2);
    if (h.h < 0) h.h = -h.h;  // rows from the top down
    // Without masks 16 bits are 5 a channel; with them, green's mask tells.
    const uint32_t compression = size >= 34 ? little_endian(bytes + 30, 4) : 0;
    const uint32_t green_mask = compression == 0 ? 0x3E0 : size >= 62 ? little_endian(bytes + 58, 4) : 0;
    h.green_of_5 = h.bits == 16 && green_mask == 0x3E0;
  }
  if (h.w <= 0 || h.h <= 0 || h.w > BMP_SIDE_MAX || h.h > BMP_SIDE_MAX) return false;
  if (static_cast<uint64_t>(h.w * h.h) > static_cast<uint64_t>(size) * PIXELS_PER_BYTE) return false;
  *out = h;
  return true;
}

// A channel as the client has always shown a palette's and the green of 5
// bits: the desktop's graphics library kept 6 bits of them, widened again.
inline uint8_t six_bits(uint8_t c) { return static_cast<uint8_t>((c & 0xFC) | c >> 6); }

// The encoder's bytes; a failed write shows in the stream's error flag.
void write_to_file(void* context, void* data, int size) {
  if (size > 0) fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(context));
}

}  // namespace

int bmp_decode(Image* image, const uint8_t* bytes, size_t size) {
  *image = Image{nullptr, 0, 0, 0};
  Header header;
  if (!bytes || size > INT32_MAX - OLD_PALETTE_GAP || !read_header(bytes, size, &header)) return 0;
  int w = 0, h = 0, channels = 0;
  stbi_uc* rgb = nullptr;
  const uint32_t offset = little_endian(bytes + 10, 4);
  if (header.old && header.bits <= 8 && offset <= size) {
    // The decoder counts an old header's palette four colours short: given
    // that many bytes more before the pixels, it finds them all.
    uint8_t* spaced = static_cast<uint8_t*>(calloc(size + OLD_PALETTE_GAP, 1));
    if (!spaced) return 0;
    memcpy(spaced, bytes, offset);
    memcpy(spaced + offset + OLD_PALETTE_GAP, bytes + offset, size - offset);
    for (int k = 0; k < 4; ++k) spaced[10 + k] = static_cast<uint8_t>((offset + OLD_PALETTE_GAP) >> (8 * k));
    rgb = stbi_load_from_memory(spaced, static_cast<int>(size + OLD_PALETTE_GAP), &w, &h, &channels, 3);
    free(spaced);
  } else {
    rgb = stbi_load_from_memory(bytes, static_cast<int>(size), &w, &h, &channels, 3);
  }
  if (!rgb) return 0;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
  if (header.bits <= 8)
    for (size_t k = 0; k < count; ++k) rgb[k] = six_bits(rgb[k]);
  if (header.green_of_5)
    for (size_t k = 1; k < count; k += 3) rgb[k] = six_bits(rgb[k]);
  int ok = image_create(image, w, h);
  for (int y = 0; ok && y < h; ++y) {
    const stbi_uc* from = rgb + static_cast<size_t>(y) * static_cast<size_t>(w) * 3;
    uint32_t* row = image_row(image, y);
    for (int x = 0; x < w; ++x) row[x] = pack_pixel(from[3 * x], from[3 * x + 1], from[3 * x + 2]);
  }
  stbi_image_free(rgb);
  return ok;
}

int bmp_load(Image* image, const char* path) {
  *image = Image{nullptr, 0, 0, 0};
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  // No picture within the limits needs more than 32 bits a pixel and its headers.
  const long most = static_cast<long>(BMP_SIDE_MAX) * BMP_SIDE_MAX * 4 + 65536;
  long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
  uint8_t* bytes = size > 0 && size <= most && fseek(f, 0, SEEK_SET) == 0
                       ? static_cast<uint8_t*>(malloc(static_cast<size_t>(size)))
                       : nullptr;
  int ok = bytes && fread(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size) &&
           bmp_decode(image, bytes, static_cast<size_t>(size));
  free(bytes);
  fclose(f);
  return ok;
}

int bmp_save(const Image* image, const char* path) {
  if (!image->pixels || image->w <= 0 || image->h <= 0) return 0;
  const size_t line = static_cast<size_t>(image->w) * 3;
  uint8_t* rgb = static_cast<uint8_t*>(malloc(line * static_cast<size_t>(image->h)));
  if (!rgb) return 0;
  for (int y = 0; y < image->h; ++y) {
    const uint32_t* row = image_row(image, y);
    uint8_t* to = rgb + static_cast<size_t>(y) * line;
    for (int x = 0; x < image->w; ++x) {
      to[3 * x] = static_cast<uint8_t>(pixel_red(row[x]));
      to[3 * x + 1] = static_cast<uint8_t>(pixel_green(row[x]));
      to[3 * x + 2] = static_cast<uint8_t>(pixel_blue(row[x]));
    }
  }
  FILE* f = fopen(path, "wb");
  int ok = f && stbi_write_bmp_to_func(write_to_file, f, image->w, image->h, 3, rgb) && !ferror(f);
  if (f) ok = fclose(f) == 0 && ok;
  free(rgb);
  return ok;
}
