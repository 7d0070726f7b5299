// The anti-aliased disc rasteriser shared by chalk and stamp.
#pragma once
#include "paint/image.h"

void softDisc(Image* image, float cx, float cy, float r, float g, float b, float coverage, float radius);
