#pragma once
#include <cstdint>

#include "paint/image.h"

void drawPencil(Image* image, float r, float g, float b, float size, const int16_t* xs,
                const int16_t* ys, int n);
