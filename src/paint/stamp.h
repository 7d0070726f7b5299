#pragma once
#include <allegro.h>
#include <cstdint>

void drawStamp(BITMAP* bmp, float r, float g, float b, float size, float gap,
               const int16_t* xs, const int16_t* ys, int n);
