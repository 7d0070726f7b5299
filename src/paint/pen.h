// The pen, its bilinear deposit, and the preview of a stroke being drawn.
#pragma once
#include <cstdint>

#include "paint/image.h"

// Deposits a colour at a fractional position over the 2 x 2 pixels around it.
void splatPoint(Image* image, float x, float y, float r, float g, float b, float weight);

void drawPen(Image* image, float r, float g, float b, const int16_t* xs, const int16_t* ys, int n);

// Pen-style preview of segments first..end-1 onto a canvas-sized or larger
// target (the canvas taken as centred in it). Fills rect, when given, with the
// area of target touched. Returns the offset after the last segment.
float drawStrokePreview(Image* target, float r, float g, float b, const int16_t* xs,
                        const int16_t* ys, unsigned n, unsigned first, unsigned end,
                        float offset, ImageArea* rect);
