// Conversions between RGB (floats 0..255) and HSV (hue 0..360, s and v 0..1).
#pragma once

void rgbToHsv(float r, float g, float b, float* h, float* s, float* v);
void hsvToRgb(float h, float s, float v, float* r, float* g, float* b);
