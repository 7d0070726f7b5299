// The pictures the engine draws on: a plain record of 32-bit pixels, whoever
// owns them (the engine's own, or a view of another library's bitmap).
#pragma once
#include <cstddef>
#include <cstdint>

// Every pixel is 0x00RRGGBB: red in bits 16..23, green in 8..15, blue in 0..7,
// the top byte 0. The same on every platform and in every program, so a
// picture's bytes never depend on who shows it.
constexpr int PIXEL_RED_SHIFT = 16;
constexpr int PIXEL_GREEN_SHIFT = 8;
constexpr int PIXEL_BLUE_SHIFT = 0;

// w x h pixels; row y starts stride pixels after row y - 1. The stride is
// of a type that no pixel write can alias, so loops that write pixels keep it
// in a register.
struct Image {
  uint32_t* pixels;  // row 0
  int w, h;
  ptrdiff_t stride;
};

// A rectangle of an image, such as the part a drawing touched.
struct ImageArea {
  int16_t x, y, w, h;
};
// Clips the span (pos, len) of one axis to 0..limit, a negative len first
// turned round; false when nothing of it remains.
bool image_clip_span(long long* pos, long long* len, long long limit);
// Normalises negative sizes and clips the area to a w x h image in place.
// Returns false when nothing of it remains (its size is then 0).
bool image_area_clip(ImageArea* area, int w, int h);

// A w x h image of pixels of its own, all 0 (black), rows one after another.
// 1 on success; 0 leaves the record empty.
int image_create(Image* image, int w, int h);
// Frees what image_create allocated and empties the record; never call it on a view.
void image_destroy(Image* image);

// The part (x, y, w, h) of image, which must lie inside it: a view of the same pixels.
Image image_part(const Image* image, int x, int y, int w, int h);

inline uint32_t* image_row(const Image* image, int y) { return image->pixels + y * image->stride; }

// A 64-bit digest of the pixels row by row (FNV-1a taking each pixel as one
// 32-bit word, a quarter of the work of taking its bytes): the same picture
// has the same digest on every machine.
uint64_t image_digest(const Image* image);

// Every pixel set to pixel.
void image_fill(Image* image, uint32_t pixel);

// Copies the rectangle (sx, sy, w, h) of from to (dx, dy) of to, the part that
// lies on both. from and to must not overlap unless they are the same pixels
// at the same place.
void image_copy(const Image* from, Image* to, int sx, int sy, int dx, int dy, int w, int h);
// Copies the whole of from to the top left of to, clipped.
void image_copy_all(const Image* from, Image* to);
