#pragma once
#include <allegro.h>
#include <cstdint>

void drawChalk(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs,
               const int16_t* ys, int n);
