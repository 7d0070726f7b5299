// The smudge: drags existing paint along the stroke.
#pragma once
#include <cstdint>

#include "paint/image.h"

void drawSmudge(Image* image, float size, float strength, const int16_t* xs, const int16_t* ys,
                int n);
// wide false keeps to the paths every processor has, which give the same bits.
void smudgeDisc(Image* image, float radius, float coverage, float x, float y, float dx, float dy, bool wide = true);
