// The picture as an 8-bit RGB PNG, for files and for the server's web view.
#pragma once
#include <cstdio>

#include "paint/image.h"

// Writes an image to an open stream. Returns 1 on success, 0 on failure.
int png_write(const Image* canvas, FILE* out);
