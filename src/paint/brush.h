// The bristle brush.
#pragma once
#include <allegro.h>
#include <cstdint>

void drawBrush(BITMAP* bmp, float r, float g, float b, float size, float dryness,
               const int16_t* xs, const int16_t* ys, int n);
