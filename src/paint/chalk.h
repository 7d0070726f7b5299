#pragma once
#include <allegro.h>
#include <cstdint>

// wide false keeps to the paths every processor has, which give the same bits.
void drawChalk(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs,
               const int16_t* ys, int n, bool wide = true);
