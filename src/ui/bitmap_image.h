// The engine's images among the graphics library's bitmaps. Every bitmap the
// client composes its screen in holds the engine's pixel layout (paint/image.h),
// so the engine draws on one through a view of its pixels and copies either
// way are plain. Only the screen, and the pointer sprite that the library
// draws there, hold the library's own layout: refresh_screen converts to it
// when the two differ.
#pragma once
#include <allegro.h>

#include "paint/image.h"

// The engine's view of a 32-bit memory bitmap's pixels; an empty image (which
// the engine draws nothing on) for any other bitmap.
Image bitmap_image(BITMAP* bmp);

// Copies the rectangle (sx, sy, w, h) of image to (dx, dy) of a 32-bit memory
// bitmap, the part that lies on both, as blit does between two bitmaps.
void blit_image(const Image* image, BITMAP* bmp, int sx, int sy, int dx, int dy, int w, int h);

// A colour as the client's bitmaps hold it, for the library's drawing calls.
int bitmap_colour(int r, int g, int b);

// Whether the library's 32-bit pixels are laid out as the engine's.
bool library_layout_matches();
