#pragma once
#include <cstdint>

#include "paint/image.h"

// wide false keeps to the paths every processor has, which give the same bits.
void drawChalk(Image* image, float r, float g, float b, float size, const int16_t* xs,
               const int16_t* ys, int n, bool wide = true);
