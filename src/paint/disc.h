// The anti-aliased disc rasteriser shared by chalk and stamp.
#pragma once
#include <allegro.h>

// wide false keeps to the paths every processor has, which give the same bits.
void softDisc(BITMAP* bmp, float cx, float cy, float r, float g, float b, float coverage, float radius,
              bool wide = true);
void blendSpan(BITMAP* bmp, int x1, int y, int x2, float r, float g, float b, float coverage);
