#pragma once
#include <cstdint>

#include "paint/image.h"

void drawStamp(Image* image, float r, float g, float b, float size, float gap,
               const int16_t* xs, const int16_t* ys, int n);
