#include "session/colour_choice.h"

#include <cstring>

#include "paint/canvas.h"
#include "paint/pixel.h"
#include "session/hsv.h"

namespace {

const float START_PALETTE[PALETTE_SIZE][3] = {
    {255, 255, 255}, {160, 160, 160}, {128, 128, 128}, {64, 64, 64},   {0, 0, 0},
    {255, 0, 0},     {255, 128, 0},   {255, 255, 0},   {128, 255, 0},   {0, 255, 0},
    {0, 255, 128},   {0, 255, 255},   {0, 128, 255},   {0, 0, 255},     {128, 0, 255},
    {255, 0, 255},   {255, 0, 128},   {128, 0, 0},     {128, 64, 0},    {128, 128, 0},
    {64, 128, 0},    {0, 128, 0},     {0, 128, 64},    {0, 128, 128},   {0, 64, 128},
    {0, 0, 128},     {64, 0, 128},    {128, 0, 128},   {128, 0, 64},    {255, 128, 128},
    {128, 255, 128}, {128, 128, 255},
};

constexpr double HUE_PER_ROW = 1.40625;  // 360 / 256
constexpr double MIX_KEEP = 0.85;
constexpr double MIX_TAKE = 0.15;

int truncate_channel(float c) { return static_cast<int>(c); }

int scaled_channel(float c, double factor) { return static_cast<int>(c * factor); }

// Right-press mixing: a little of the chosen colour goes into the current one.
void mix_into_current(ColourChoice* c, float r, float g, float b) {
  c->rgb[0] = static_cast<float>(MIX_KEEP * c->rgb[0] + MIX_TAKE * r);
  c->rgb[1] = static_cast<float>(MIX_KEEP * c->rgb[1] + MIX_TAKE * g);
  c->rgb[2] = static_cast<float>(MIX_KEEP * c->rgb[2] + MIX_TAKE * b);
}

void hsv_from_current_rgb(ColourChoice* c) {
  rgbToHsv(c->rgb[0], c->rgb[1], c->rgb[2], &c->hsv[0], &c->hsv[1], &c->hsv[2]);
}

// The square or the hue strip set part of the hsv colour; the result becomes
// the paint colour and is remembered in the palette ring.
void take_hsv_colour(ColourChoice* c, int button_edge) {
  float r, g, b;
  hsvToRgb(c->hsv[0], c->hsv[1], c->hsv[2], &r, &g, &b);
  if (button_edge == 1) {
    c->rgb[0] = r;
    c->rgb[1] = g;
    c->rgb[2] = b;
  } else {
    mix_into_current(c, r, g, b);
    hsv_from_current_rgb(c);
  }
  std::memcpy(c->palette[c->palette_next], c->rgb, sizeof c->palette[c->palette_next]);
  c->palette_next = (c->palette_next + 1) % PALETTE_SIZE;
}

void take_palette_colour(ColourChoice* c, int button_edge, int index) {
  const float* entry = c->palette[index];
  if (button_edge == 1) {
    c->rgb[0] = entry[0];
    c->rgb[1] = entry[1];
    c->rgb[2] = entry[2];
  } else {
    mix_into_current(c, entry[0], entry[1], entry[2]);
  }
  hsv_from_current_rgb(c);
}

void fill_rect(Image* panel, int x0, int y0, int x1, int y1, uint32_t pixel) {
  for (int y = y0; y <= y1; y++)
    for (int x = x0; x <= x1; x++) panel->pixels[y * panel->stride + x] = pixel;
}

void fill_swatches(const float (*palette)[3], Image* panel) {
  for (int j = 0; j < PALETTE_SIZE; j++) {
    const float* c = palette[j];
    int x0 = 288 + 32 * (j / 8);
    int y0 = 32 * (j % 8);
    fill_rect(panel, x0, y0, x0 + 31, y0 + 31,
              pack_pixel(scaled_channel(c[0], 0.3), scaled_channel(c[1], 0.3), scaled_channel(c[2], 0.3)));
    fill_rect(panel, x0 + 1, y0 + 1, x0 + 30, y0 + 30,
              pack_pixel(scaled_channel(c[0], 0.7), scaled_channel(c[1], 0.7), scaled_channel(c[2], 0.7)));
    fill_rect(panel, x0 + 2, y0 + 2, x0 + 29, y0 + 29,
              pack_pixel(truncate_channel(c[0]), truncate_channel(c[1]), truncate_channel(c[2])));
  }
}

}  // namespace

void colour_choice_reset(ColourChoice* c) {
  std::memcpy(c->palette, START_PALETTE, sizeof c->palette);
  c->palette_next = PALETTE_FIRST_NEXT;
  for (int k = 0; k < 3; ++k) c->rgb[k] = c->hsv[k] = 0;
}

int colour_panel_press(ColourChoice* c, int button_edge, int x, int y) {
  bool inside = x >= 0 && x < COLOUR_PANEL_W && y >= 0 && y < COLOUR_PANEL_H;
  if (button_edge == 0 || !inside) return 0;
  if (x <= 255) {
    c->hsv[1] = static_cast<float>(y / 255.0);
    c->hsv[2] = static_cast<float>(x / 255.0);
    take_hsv_colour(c, button_edge);
  } else if (x <= 287) {
    c->hsv[0] = static_cast<float>(y * HUE_PER_ROW);
    take_hsv_colour(c, button_edge);
  } else {
    take_palette_colour(c, button_edge, ((x - 288) / 32) * 8 + y / 32);
  }
  return 1;
}

void colour_pick(ColourChoice* c, const Image* picture, int x, int y) {
  auto coordinate = [](int v) { return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); };
  sampleColor(picture, coordinate(x), coordinate(y), &c->rgb[0], &c->rgb[1], &c->rgb[2]);
  hsv_from_current_rgb(c);
}

void colour_panel_fill(const ColourChoice* c, Image* panel) {
  if (!panel || !panel->pixels || panel->w < COLOUR_PANEL_W || panel->h < COLOUR_PANEL_H) return;
  const float hue = c->hsv[0];
  for (int y = 0; y < 256; y++) {
    uint32_t* row = panel->pixels + y * panel->stride;
    const float saturation = static_cast<float>(y * (1.0 / 255));
    for (int x = 0; x < 256; x++) {
      float r, g, b;
      hsvToRgb(hue, saturation, static_cast<float>(x * (1.0 / 255)), &r, &g, &b);
      row[x] = pack_pixel(truncate_channel(r), truncate_channel(g), truncate_channel(b));
    }
  }
  for (int y = 0; y < 256; y++) {
    float r, g, b;
    hsvToRgb(static_cast<float>(y * HUE_PER_ROW), 1, 1, &r, &g, &b);
    fill_rect(panel, 256, y, 287, y, pack_pixel(truncate_channel(r), truncate_channel(g), truncate_channel(b)));
  }
  fill_swatches(c->palette, panel);
}
