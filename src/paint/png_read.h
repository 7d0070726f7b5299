// A PNG read into a picture: the server's checkpoints of the board as clients
// take them, natively and in WebAssembly alike.
#pragma once
#include <cstddef>
#include <cstdint>

#include "paint/image.h"

// Decodes bytes, which must be a PNG of exactly w x h pixels, into out (a w x
// h image the caller made). Returns 1 on success; 0 leaves out's pixels
// undefined.
int png_read(const uint8_t* bytes, size_t length, int w, int h, Image* out);
