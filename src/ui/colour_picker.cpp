#include "ui/colour_picker.h"

#include "paint/pixel.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/screen.h"

namespace {

BITMAP* remembered_panel = nullptr;

void draw_markers(BITMAP* panel) {
  const int red = bitmap_colour(255, 0, 0);
  const int black = bitmap_colour(0, 0, 0);

  int yh = static_cast<int>(board.colour.hsv[0] * 256.0 / 360.0);
  hline(panel, 262, yh - 2, 282, red);
  hline(panel, 262, yh + 2, 282, red);
  hline(panel, 263, yh - 3, 281, black);
  hline(panel, 263, yh + 3, 281, black);

  // Two corner brackets leave the chosen point itself uncovered.
  int a = static_cast<int>(board.colour.hsv[2] * 256.0);
  int b = static_cast<int>(board.colour.hsv[1] * 256.0);
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

void colour_picker_reset() {
  colour_choice_reset(&board.colour);
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
  Image view = bitmap_image(panel);
  colour_panel_fill(&board.colour, &view);
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
  if (!colour_panel_press(&board.colour, button_edge, x, y)) {
    if (!created) return nullptr;
    draw_colour_panel(panel);
    return panel;
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
  const int grey = contrast_grey(board.colour.rgb[0], board.colour.rgb[1], board.colour.rgb[2]);
  int shadow = makecol32(grey, grey, grey);
  hline(CursorSprite, 1, 3, 5, shadow);
  vline(CursorSprite, 3, 1, 5, shadow);
  int ink = makecol32(clamp_channel(board.colour.rgb[0]), clamp_channel(board.colour.rgb[1]),
                      clamp_channel(board.colour.rgb[2]));
  hline(CursorSprite, 0, 2, 4, ink);
  vline(CursorSprite, 2, 0, 4, ink);
  set_mouse_sprite(CursorSprite);
  set_mouse_sprite_focus(2, 2);
  if (screen) show_mouse(screen);
}
