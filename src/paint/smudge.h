// The smudge: drags existing paint along the stroke.
#pragma once
#include <cstdint>

#include "paint/image.h"

void drawSmudge(Image* image, float size, float strength, const int16_t* xs, const int16_t* ys,
                int n);
// One step of the smudge: the disc at (x, y) blended towards the colours at
// (dx, dy) from each of its pixels.
void smudgeDisc(Image* image, float radius, float coverage, float x, float y, float dx, float dy);
