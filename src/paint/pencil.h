#pragma once
#include <allegro.h>
#include <cstdint>

void drawPencil(BITMAP* bmp, float r, float g, float b, float size, const int16_t* xs,
                const int16_t* ys, int n);
