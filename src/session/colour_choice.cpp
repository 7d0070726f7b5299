#include "session/colour_choice.h"

#include <cstring>

#include "paint/canvas.h"
#include "paint/pixel.h"
#include "session/hsv.h"

float current_rgb[3] = {0, 0, 0};
float current_hsv[3] = {0, 0, 0};
float Palette[PALETTE_SIZE][3];
int palette_next = PALETTE_FIRST_NEXT;

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
void mix_into_current(float r, float g, float b) {
  current_rgb[0] = static_cast<float>(MIX_KEEP * current_rgb[0] + MIX_TAKE * r);
  current_rgb[1] = static_cast<float>(MIX_KEEP * current_rgb[1] + MIX_TAKE * g);
  current_rgb[2] = static_cast<float>(MIX_KEEP * current_rgb[2] + MIX_TAKE * b);
}

void hsv_from_current_rgb() {
  rgbToHsv(current_rgb[0], current_rgb[1], current_rgb[2], &current_hsv[0], &current_hsv[1],
           &current_hsv[2]);
}

// The square or the hue strip set part of current_hsv; the result becomes the
// paint colour and is remembered in the palette ring.
void take_hsv_colour(int button_edge) {
  float r, g, b;
  hsvToRgb(current_hsv[0], current_hsv[1], current_hsv[2], &r, &g, &b);
  if (button_edge == 1) {
    current_rgb[0] = r;
    current_rgb[1] = g;
    current_rgb[2] = b;
  } else {
    mix_into_current(r, g, b);
    hsv_from_current_rgb();
  }
  std::memcpy(Palette[palette_next], current_rgb, sizeof Palette[palette_next]);
  palette_next = (palette_next + 1) % PALETTE_SIZE;
}

void take_palette_colour(int button_edge, int index) {
  const float* entry = Palette[index];
  if (button_edge == 1) {
    current_rgb[0] = entry[0];
    current_rgb[1] = entry[1];
    current_rgb[2] = entry[2];
  } else {
    mix_into_current(entry[0], entry[1], entry[2]);
  }
  hsv_from_current_rgb();
}

void fill_rect(Image* panel, int x0, int y0, int x1, int y1, uint32_t pixel) {
  for (int y = y0; y <= y1; y++)
    for (int x = x0; x <= x1; x++) panel->pixels[y * panel->stride + x] = pixel;
}

void fill_swatches(Image* panel) {
  for (int j = 0; j < PALETTE_SIZE; j++) {
    const float* c = Palette[j];
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

// The palette must hold its start colours before any code runs, because the
// desktop's sample picture is painted from it during start-up.
[[maybe_unused]] static const bool palette_initialised = (colour_choice_reset(), true);

void colour_choice_reset() {
  std::memcpy(Palette, START_PALETTE, sizeof Palette);
  palette_next = PALETTE_FIRST_NEXT;
  for (int c = 0; c < 3; ++c) current_rgb[c] = current_hsv[c] = 0;
}

int colour_panel_press(int button_edge, int x, int y) {
  bool inside = x >= 0 && x < COLOUR_PANEL_W && y >= 0 && y < COLOUR_PANEL_H;
  if (button_edge == 0 || !inside) return 0;
  if (x <= 255) {
    current_hsv[1] = static_cast<float>(y / 255.0);
    current_hsv[2] = static_cast<float>(x / 255.0);
    take_hsv_colour(button_edge);
  } else if (x <= 287) {
    current_hsv[0] = static_cast<float>(y * HUE_PER_ROW);
    take_hsv_colour(button_edge);
  } else {
    take_palette_colour(button_edge, ((x - 288) / 32) * 8 + y / 32);
  }
  return 1;
}

void colour_pick(const Image* picture, int x, int y) {
  auto coordinate = [](int v) { return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); };
  sampleColor(picture, coordinate(x), coordinate(y), &current_rgb[0], &current_rgb[1], &current_rgb[2]);
  hsv_from_current_rgb();
}

void colour_panel_fill(Image* panel) {
  if (!panel || !panel->pixels || panel->w < COLOUR_PANEL_W || panel->h < COLOUR_PANEL_H) return;
  const float hue = current_hsv[0];
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
  fill_swatches(panel);
}
