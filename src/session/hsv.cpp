#include "session/hsv.h"

#include <cmath>

// Single precision throughout, as the desktop's graphics library computed it
// before: the picker's colours must not move by a channel step.
void rgbToHsv(float rf, float gf, float bf, float* h, float* s, float* v) {
  const int r = static_cast<int>(rf), g = static_cast<int>(gf), b = static_cast<int>(bf);
  int delta;
  if (r > g) {
    if (b > r) {
      delta = b - g;
      *h = 240.0f + ((r - g) * 60) / static_cast<float>(delta);
      *s = static_cast<float>(delta) / static_cast<float>(b);
      *v = static_cast<float>(b) * (1.0f / 255.0f);
    } else {
      delta = r - (g < b ? g : b);
      *h = ((g - b) * 60) / static_cast<float>(delta);
      if (*h < 0.0f) *h += 360.0f;
      *s = static_cast<float>(delta) / static_cast<float>(r);
      *v = static_cast<float>(r) * (1.0f / 255.0f);
    }
  } else if (b > g) {
    delta = b - r;
    *h = 240.0f + ((r - g) * 60) / static_cast<float>(delta);
    *s = static_cast<float>(delta) / static_cast<float>(b);
    *v = static_cast<float>(b) * (1.0f / 255.0f);
  } else {
    delta = g - (r < b ? r : b);
    if (delta == 0) {
      *h = 0.0f;
      if (g == 0) {
        *s = *v = 0.0f;
      } else {
        *s = static_cast<float>(delta) / static_cast<float>(g);
        *v = static_cast<float>(g) * (1.0f / 255.0f);
      }
    } else {
      *h = 120.0f + ((b - r) * 60) / static_cast<float>(delta);
      *s = static_cast<float>(delta) / static_cast<float>(g);
      *v = static_cast<float>(g) * (1.0f / 255.0f);
    }
  }
}

void hsvToRgb(float h, float s, float v, float* r, float* g, float* b) {
  int ri = 0, gi = 0, bi = 0;
  v *= 255.0f;
  if (s == 0.0f) {
    ri = gi = bi = static_cast<int>(v + 0.5f);
  } else {
    h = static_cast<float>(std::fmod(static_cast<double>(h), 360.0) / 60.0);
    if (h < 0.0f) h += 6.0f;
    const int i = static_cast<int>(h);
    const float f = h - static_cast<float>(i);
    const float x = v * s;
    const float y = x * f;
    v += 0.5f;
    const float z = v - x;
    const int top = static_cast<int>(v), low = static_cast<int>(z);
    const int rising = static_cast<int>(z + y), falling = static_cast<int>(v - y);
    switch (i) {
      case 6:
      case 0: ri = top; gi = rising; bi = low; break;
      case 1: ri = falling; gi = top; bi = low; break;
      case 2: ri = low; gi = top; bi = rising; break;
      case 3: ri = low; gi = falling; bi = top; break;
      case 4: ri = rising; gi = low; bi = top; break;
      case 5: ri = top; gi = low; bi = falling; break;
    }
  }
  *r = static_cast<float>(ri);
  *g = static_cast<float>(gi);
  *b = static_cast<float>(bi);
}
