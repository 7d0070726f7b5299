// The bristle brush.
#pragma once
#include <cstdint>

#include "paint/image.h"

void drawBrush(Image* image, float r, float g, float b, float size, float dryness,
               const int16_t* xs, const int16_t* ys, int n);
