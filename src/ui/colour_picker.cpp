#include "ui/colour_picker.h"

#include <cstring>

#include "paint/pixel.h"
#include "ui/bitmap_image.h"
#include "ui/hsv.h"
#include "ui/screen.h"

float current_rgb[3] = {0, 0, 0};
float current_hsv[3] = {0, 0, 0};

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

BITMAP* remembered_panel = nullptr;

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

void draw_swatches(BITMAP* panel) {
  for (int j = 0; j < PALETTE_SIZE; j++) {
    const float* c = Palette[j];
    int x0 = 288 + 32 * (j / 8);
    int y0 = 32 * (j % 8);
    rectfill(panel, x0, y0, x0 + 31, y0 + 31,
             bitmap_colour(scaled_channel(c[0], 0.3), scaled_channel(c[1], 0.3),
                           scaled_channel(c[2], 0.3)));
    rectfill(panel, x0 + 1, y0 + 1, x0 + 30, y0 + 30,
             bitmap_colour(scaled_channel(c[0], 0.7), scaled_channel(c[1], 0.7),
                           scaled_channel(c[2], 0.7)));
    rectfill(panel, x0 + 2, y0 + 2, x0 + 29, y0 + 29,
             bitmap_colour(truncate_channel(c[0]), truncate_channel(c[1]), truncate_channel(c[2])));
  }
}

void draw_markers(BITMAP* panel) {
  const int red = bitmap_colour(255, 0, 0);
  const int black = bitmap_colour(0, 0, 0);

  int yh = static_cast<int>(current_hsv[0] * 256.0 / 360.0);
  hline(panel, 262, yh - 2, 282, red);
  hline(panel, 262, yh + 2, 282, red);
  hline(panel, 263, yh - 3, 281, black);
  hline(panel, 263, yh + 3, 281, black);

  // Two corner brackets leave the chosen point itself uncovered.
  int a = static_cast<int>(current_hsv[2] * 256.0);
  int b = static_cast<int>(current_hsv[1] * 256.0);
  hline(panel, a - 10, b - 2, a - 2, red);
  vline(panel, a - 2, b - 10, b - 3, red);
  hline(panel, a + 2, b + 2, a + 10, red);
  vline(panel, a + 2, b + 3, b + 10, red);
  hline(panel, a - 9, b - 3, a - 3, black);
  vline(panel, a - 3, b - 9, b - 4, black);
  hline(panel, a + 3, b + 3, a + 9, black);
  vline(panel, a + 3, b + 4, b + 9, black);
}

}  // namespace

float Palette[PALETTE_SIZE][3];
int palette_next = PALETTE_FIRST_NEXT;

// The palette must hold its start colours before any code runs, because the
// sample picture is painted from it during start-up.
[[maybe_unused]] static const bool palette_initialised = (colour_picker_reset(), true);

void colour_picker_reset() {
  std::memcpy(Palette, START_PALETTE, sizeof Palette);
  palette_next = PALETTE_FIRST_NEXT;
  remembered_panel = nullptr;
}

void colour_panel_forget() { remembered_panel = nullptr; }

void colour_panel_refresh() {
  if (remembered_panel) draw_colour_panel(remembered_panel);
}

void draw_colour_panel(BITMAP* panel) {
  // The square is written row by row: only a 32-bit bitmap of full size will do.
  if (!panel || bitmap_color_depth(panel) != 32 || panel->w < COLOUR_PANEL_W ||
      panel->h < COLOUR_PANEL_H)
    return;
  const float hue = current_hsv[0];
  for (int y = 0; y < 256; y++) {
    uint32_t* row = reinterpret_cast<uint32_t*>(panel->line[y]);
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
    hline(panel, 256, y, 287,
          bitmap_colour(truncate_channel(r), truncate_channel(g), truncate_channel(b)));
  }
  draw_swatches(panel);
  draw_markers(panel);
  rebuild_cursor();
}

BITMAP* colour_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y) {
  (void)key;
  bool created = false;
  if (!panel) {
    panel = create_bitmap_ex(32, COLOUR_PANEL_W, COLOUR_PANEL_H);
    if (!panel) return nullptr;
    created = true;
  }
  remembered_panel = panel;

  // Only presses inside the panel change anything; anything else is ignored.
  bool inside = x >= 0 && x < COLOUR_PANEL_W && y >= 0 && y < COLOUR_PANEL_H;
  if (button_edge == 0 || !inside) {
    if (!created) return nullptr;
    draw_colour_panel(panel);
    return panel;
  }

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

  colour_changed(true);
  draw_colour_panel(panel);
  return panel;
}

static ColourChangedHook changed_hook = nullptr;

void colour_set_changed_hook(ColourChangedHook hook) { changed_hook = hook; }

void colour_changed(bool bar_shown) {
  if (changed_hook) changed_hook(bar_shown);
}

static int clamp_channel(float v) {
  int c = static_cast<int>(v);
  return c < 0 ? 0 : (c > 255 ? 255 : c);
}

// The library draws the sprite onto the screen itself: its pixels are in the
// library's layout.
void rebuild_cursor() {
  show_mouse(nullptr);
  if (!CursorSprite) return;
  clear_to_color(CursorSprite, makecol32(255, 0, 255));
  const int grey = contrast_grey(current_rgb[0], current_rgb[1], current_rgb[2]);
  int shadow = makecol32(grey, grey, grey);
  hline(CursorSprite, 1, 3, 5, shadow);
  vline(CursorSprite, 3, 1, 5, shadow);
  int ink = makecol32(clamp_channel(current_rgb[0]), clamp_channel(current_rgb[1]),
                      clamp_channel(current_rgb[2]));
  hline(CursorSprite, 0, 2, 4, ink);
  vline(CursorSprite, 2, 0, 4, ink);
  set_mouse_sprite(CursorSprite);
  set_mouse_sprite_focus(2, 2);
  if (screen) show_mouse(screen);
}
