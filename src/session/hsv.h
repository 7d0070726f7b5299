// Conversions between RGB (floats 0..255) and HSV (hue 0..360, s and v 0..1),
// the colour picker's arithmetic: every client turns the same press into the
// same colour. RGB goes in truncated to whole channels and comes out whole.
#pragma once

void rgbToHsv(float r, float g, float b, float* h, float* s, float* v);
void hsvToRgb(float h, float s, float v, float* r, float* g, float* b);
