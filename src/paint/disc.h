// The anti-aliased disc rasteriser shared by chalk and stamp.
#pragma once
#include "paint/image.h"

// wide false keeps to the paths every processor has, which give the same bits.
void softDisc(Image* image, float cx, float cy, float r, float g, float b, float coverage, float radius,
              bool wide = true);
