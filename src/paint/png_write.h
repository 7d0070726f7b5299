// The picture as an 8-bit RGB PNG, for files and for the server's web view.
#pragma once
#include <allegro.h>
#include <cstdio>

// Writes a 32-bit bitmap to an open stream. Returns 1 on success, 0 on failure.
int png_write(BITMAP* canvas, FILE* out);
