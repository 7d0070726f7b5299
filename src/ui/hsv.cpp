#include "ui/hsv.h"

#include <allegro.h>

void rgbToHsv(float r, float g, float b, float* h, float* s, float* v) {
  rgb_to_hsv(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b), h, s, v);
}

void hsvToRgb(float h, float s, float v, float* r, float* g, float* b) {
  int ri = 0, gi = 0, bi = 0;
  hsv_to_rgb(h, s, v, &ri, &gi, &bi);
  *r = static_cast<float>(ri);
  *g = static_cast<float>(gi);
  *b = static_cast<float>(bi);
}
