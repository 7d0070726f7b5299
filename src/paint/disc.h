// The anti-aliased disc rasteriser shared by chalk and stamp.
#pragma once
#include <allegro.h>

void softDisc(BITMAP* bmp, float cx, float cy, float r, float g, float b, float coverage,
              float radius);
void blendSpan(BITMAP* bmp, int x1, int y, int x2, float r, float g, float b, float coverage);
