#include "paint/pixel.h"

#include <cmath>

#include "paint/square_root.h"

void blendPixel(Image* image, int x, int y, float r, float g, float b, float coverage) {
  blend_in_place(image_row(image, y) + x, r, g, b, coverage);
}

int sampleBilinear(const Image* image, float x, float y, float* r, float* g, float* b) {
  int x0, y0;
  float fx, fy;
  if (!bilinear_cell(x, y, image->w, image->h, &x0, &y0, &fx, &fy)) return 0;
  const uint32_t* top = image_row(image, y0) + x0;
  const uint32_t* bottom = image_row(image, y0 + 1) + x0;
  bilinear_mix(top[0], top[1], bottom[0], bottom[1], fx, fy, r, g, b);
  return 1;
}

void sampleColor(const Image* image, int16_t x, int16_t y, float* r, float* g, float* b) {
  // The on-image part of the 9 x 9 window, gathered once.
  float pr[81], pg[81], pb[81];
  int count = 0;
  for (int py = y - 4; py <= y + 4; ++py) {
    if (py < 0 || py >= image->h) continue;
    for (int px = x - 4; px <= x + 4; ++px) {
      if (px < 0 || px >= image->w) continue;
      uint32_t p = image_row(image, py)[px];
      pr[count] = static_cast<float>(pixel_red(p));
      pg[count] = static_cast<float>(pixel_green(p));
      pb[count] = static_cast<float>(pixel_blue(p));
      ++count;
    }
  }
  if (count == 0) {
    *r = *g = *b = 0.5f;
    return;
  }
  float sr = 0.5f, sg = 0.5f, sb = 0.5f;
  for (int i = 0; i < count; ++i) {
    sr = static_cast<float>(static_cast<double>(sr) + pr[i]);
    sg = static_cast<float>(static_cast<double>(sg) + pg[i]);
    sb = static_cast<float>(static_cast<double>(sb) + pb[i]);
  }
  float er = static_cast<float>(static_cast<double>(sr) / count);
  float eg = static_cast<float>(static_cast<double>(sg) / count);
  float eb = static_cast<float>(static_cast<double>(sb) / count);

  // One unit in the last place below the double nearest to 1 / 65025.
  const double k = 1.5378700499807765e-05;
  for (int iter = 0; iter < 150; ++iter) {
    float wr = 0.0f, wg = 0.0f, wb = 0.0f, wsum = 0.0f;
    for (int i = 0; i < count; ++i) {
      double dr = static_cast<double>(pr[i]) - er, dg = static_cast<double>(pg[i]) - eg,
             db = static_cast<double>(pb[i]) - eb;
      float d = static_cast<float>(square_root((dr * dr + dg * dg + db * db) * k));
      float w = static_cast<float>(0.1 / (static_cast<double>(d) + 0.1));
      wr = static_cast<float>(wr + static_cast<double>(w) * pr[i]);
      wg = static_cast<float>(wg + static_cast<double>(w) * pg[i]);
      wb = static_cast<float>(wb + static_cast<double>(w) * pb[i]);
      wsum = static_cast<float>(static_cast<double>(wsum) + w);
    }
    er = static_cast<float>(static_cast<double>(wr) / wsum);
    eg = static_cast<float>(static_cast<double>(wg) / wsum);
    eb = static_cast<float>(static_cast<double>(wb) / wsum);
  }
  *r = er;
  *g = eg;
  *b = eb;
}
