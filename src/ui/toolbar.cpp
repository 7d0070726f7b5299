#include "ui/toolbar.h"

#include <cctype>
#include <cstdio>

#include "net/drawing_tools.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "ui/dirty_list.h"
#include "ui/bitmap_image.h"
#include "ui/chat_input.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/user_labels.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

ToolSlot ToolTable[TOOL_COUNT];
int selected_tool = 0;
bool panel_visible = false;

// A drawing tool's icons are named after it: "pen.bmp" and "penmask.bmp".
static void drawing_slot(ToolSlot* slot, int tool) {
  const DrawingTool& row = DRAWING_TOOLS[tool];
  char stem[24];
  size_t k = 0;
  for (; row.name[k] && k + 1 < sizeof stem; ++k) stem[k] = char(tolower(static_cast<unsigned char>(row.name[k])));
  stem[k] = '\0';
  *slot = ToolSlot{row.name, {}, {}, tool_slider(tool, 0) ? drawing_panel_handler : nullptr, nullptr, nullptr, nullptr, 0};
  snprintf(slot->icon_file, sizeof slot->icon_file, "%s.bmp", stem);
  snprintf(slot->mask_file, sizeof slot->mask_file, "%smask.bmp", stem);
}

static void tool_table_reset() {
  for (int i = 0; i < DRAWING_TYPE_COUNT; ++i) drawing_slot(&ToolTable[i], i);
  ToolTable[TOOL_PAINT] = ToolSlot{"Paint", "paint.bmp", "paintmask.bmp", colour_panel_handler, nullptr, nullptr, nullptr, 0};
  ToolTable[TOOL_CHAT] = ToolSlot{"Chat", "chat.bmp", "chatmask.bmp", chat_input_handler, nullptr, nullptr, nullptr, 1};
  selected_tool = 0;
  panel_visible = false;
}

// The table is whole before any code runs.
[[maybe_unused]] static const bool tool_table_made = (tool_table_reset(), true);

void tint_icon_pixel(int icon_r, int icon_g, int icon_b, int mask_r, int mask_b, int* out_r,
                     int* out_g, int* out_b) {
  const float a = static_cast<float>(static_cast<double>(mask_r + 2 * mask_b) / 765.0);
  if (a <= 0.005) {
    *out_r = icon_r;
    *out_g = icon_g;
    *out_b = icon_b;
    return;
  }
  auto channel = [a](int p, float c) {
    double v = p * (1.0 - static_cast<double>(a)) +
               static_cast<double>(a) * (static_cast<double>(c) + p - 128.0);
    int t = static_cast<int>(v);
    return t < 0 ? 0 : (t > 255 ? 255 : t);
  };
  *out_r = channel(icon_r, board.colour.rgb[0]);
  *out_g = channel(icon_g, board.colour.rgb[1]);
  *out_b = channel(icon_b, board.colour.rgb[2]);
}

// Loads an image as a 42 x 42 32-bit bitmap whatever the file's depth or size
// (parts beyond the file's edges stay black). None when it cannot be read. The
// icons and their stand-ins are only read, in the library's layout.
static BITMAP* load_icon_file(const char* file) {
  PALETTE pal;
  BITMAP* loaded = load_bitmap(file, pal);
  if (!loaded) return nullptr;
  BITMAP* out = create_bitmap_ex(32, TOOL_ICON_SIZE, TOOL_ICON_SIZE);
  if (out) {
    clear_to_color(out, makecol32(0, 0, 0));
    bool paletted = bitmap_color_depth(loaded) == 8;
    if (paletted) select_palette(pal);
    blit(loaded, out, 0, 0, 0, 0, TOOL_ICON_SIZE, TOOL_ICON_SIZE);
    if (paletted) unselect_palette();
  }
  destroy_bitmap(loaded);
  return out;
}

// The stand-in for a missing file: the tool's name on a blue-grey square, or
// for a mask in white on black, so that only the letters take the colour.
static BITMAP* generated_square(const char* name, bool mask) {
  BITMAP* b = create_bitmap_ex(32, TOOL_ICON_SIZE, TOOL_ICON_SIZE);
  if (!b) return nullptr;
  const int white = makecol32(255, 255, 255);
  if (mask) {
    clear_to_color(b, makecol32(0, 0, 0));
    textout_centre_ex(b, font, name, 21, 21, white, -1);
    return b;
  }
  clear_to_color(b, makecol32(64, 128, 172));
  textout_centre_ex(b, font, name, 20, 20, white, -1);
  textout_centre_ex(b, font, name, 22, 22, makecol32(0, 0, 0), -1);
  textout_centre_ex(b, font, name, 21, 21, makecol32(128, 128, 128), -1);
  return b;
}

void draw_toolbar_icons() {
  if (!ToolbarStrip) return;
  clear_to_color(ToolbarStrip, bitmap_colour(128, 172, 255));
  for (int i = 0; i < TOOL_COUNT; ++i) {
    ToolSlot& slot = ToolTable[i];
    if (!slot.icon) {
      slot.icon = load_icon_file(slot.icon_file);
      if (!slot.icon) slot.icon = generated_square(slot.name, false);
      if (!slot.icon) continue;
    }
    if (!slot.mask) {
      slot.mask = load_icon_file(slot.mask_file);
      if (!slot.mask) slot.mask = generated_square(slot.name, true);
      if (!slot.mask) continue;
    }
    for (int r = 0; r < TOOL_ICON_SIZE; ++r) {
      for (int j = 0; j < TOOL_ICON_SIZE; ++j) {
        int m = getpixel(slot.mask, j, r);
        int p = getpixel(slot.icon, j, r);
        int red, green, blue;
        tint_icon_pixel(getr32(p), getg32(p), getb32(p), getr32(m), getb32(m), &red, &green,
                        &blue);
        putpixel(ToolbarStrip, TOOL_ICON_SIZE * i + j, r, bitmap_colour(red, green, blue));
      }
    }
  }
}

void draw_toolbar() {
  draw_user_labels();
  if (!BackBuffer) return;
  const int sh = screen_height;
  if (ToolbarStrip) {
    blit(ToolbarStrip, BackBuffer, 0, 0, 0, sh - TOOLBAR_HEIGHT, screen_width, TOOLBAR_HEIGHT);
  }
  const int x0 = TOOL_ICON_SIZE * selected_tool;
  rect(BackBuffer, x0 + 1, sh - 41, x0 + 41, sh - 1, bitmap_colour(0, 0, 0));
  rect(BackBuffer, x0, sh - 42, x0 + 40, sh - 2, bitmap_colour(255, 255, 255));
  add_dirty_rect(0, sh - TOOLBAR_HEIGHT, screen_width, TOOLBAR_HEIGHT);
}

void panel_placement(int tool, int pw, int ph, int* px, int* py) {
  int x = TOOL_ICON_SIZE * tool + 21 - pw / 2;
  if (x < 0) {
    x = 0;
  } else if (x > screen_width - pw) {
    x = screen_width - pw;
  }
  *px = x;
  *py = screen_height - TOOLBAR_HEIGHT - ph;
}

// Turns the picture under a see-through panel into a dim blue-grey.
static void tint_behind_panel(BITMAP* bmp, int x0, int y0, int w, int h) {
  int x1 = x0 + w, y1 = y0 + h;
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > bmp->w) x1 = bmp->w;
  if (y1 > bmp->h) y1 = bmp->h;
  for (int y = y0; y < y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(bmp->line[y]);
    for (int x = x0; x < x1; ++x) {
      int r = pixel_red(row[x]), g = pixel_green(row[x]), b = pixel_blue(row[x]);
      int s = r + g + b;
      row[x] = pack_pixel((r + 2 * s) / 14, (g + 2 * s) / 12, (b + 2 * s) / 10);
    }
  }
}

void draw_tool_panel() {
  if (selected_tool < 0 || selected_tool >= TOOL_COUNT || !BackBuffer) return;
  const ToolSlot& slot = ToolTable[selected_tool];
  BITMAP* panel = slot.panel;
  if (!panel) return;
  int px, py;
  panel_placement(selected_tool, panel->w, panel->h, &px, &py);
  add_dirty_rect(px, py, panel->w, panel->h);
  if (slot.panel_style != 1 && slot.panel_style != 2) {
    blit(panel, BackBuffer, 0, 0, px, py, panel->w, panel->h);
    return;
  }
  rectfill(BackBuffer, px, py, px + panel->w - 1, py + panel->h - 1, bitmap_colour(0, 0, 0));
  blit_image(&LocalCanvas, BackBuffer, px - ox, py - oy, px, py, panel->w, panel->h);
  if (slot.panel_style == 1) tint_behind_panel(BackBuffer, px, py, panel->w, panel->h);
  masked_blit(panel, BackBuffer, 0, 0, px, py, panel->w, panel->h);
}

static void hide_panel() {
  compose_screen(BackBuffer, &LocalCanvas, true);
  panel_visible = false;
}

static void show_panel(bool chat_key) {
  bool stale_panel = panel_visible;
  if (stroke_in_progress(&board.stroke)) {
    stroke_abandon(&board.stroke);
    compose_screen(BackBuffer, &LocalCanvas, true);
    stale_panel = false;
  }
  if (chat_key) selected_tool = TOOL_CHAT;
  // Another tool's panel is still on the picture when '/' switches to Chat.
  if (stale_panel) compose_screen(BackBuffer, &LocalCanvas, true);
  draw_toolbar();
  draw_tool_panel();
  panel_visible = true;
}

int toolbar_panel_keys(int key) {
  const int scan = key >> 8;
  if (scan == KEY_TAB) {
    if (panel_visible) {
      hide_panel();
    } else {
      show_panel(false);
    }
    return 0;
  }
  if (scan == KEY_ESC && panel_visible) {
    hide_panel();
    return 0;
  }
  if ((scan == KEY_SLASH || scan == KEY_TILDE) && !(panel_visible && selected_tool == TOOL_CHAT)) {
    show_panel(true);
    return 0;
  }
  return key;
}

int toolbar_panel_step(int key, int button_edge, int mouse_x, int mouse_y) {
  if (!panel_visible) return button_edge;
  ToolSlot& slot = ToolTable[selected_tool];
  if (slot.panel_handler) {
    BITMAP* changed;
    if (slot.panel) {
      int px, py;
      panel_placement(selected_tool, slot.panel->w, slot.panel->h, &px, &py);
      int x = mouse_x - px, y = mouse_y - py;
      if (x >= 0 && x < slot.panel->w && y >= 0 && y < slot.panel->h) {
        changed = slot.panel_handler(slot.panel, button_edge, key, x, y);
        button_edge = 0;
      } else {
        changed = slot.panel_handler(slot.panel, 0, key, 0, 0);
      }
    } else {
      changed = slot.panel_handler(nullptr, 0, key, 0, 0);
    }
    if (changed) {
      slot.panel = changed;
      draw_tool_panel();
    }
  }
  if (!button_edge) return 0;
  if (mouse_y >= screen_height - TOOLBAR_HEIGHT) {
    int i = mouse_x >= 0 ? mouse_x / TOOL_ICON_SIZE : -1;
    if (i >= 0 && i < TOOL_COUNT && i != selected_tool) {
      selected_tool = i;
      tool_settings_select(&board.tools, i);
      compose_screen(BackBuffer, &LocalCanvas, true);
      draw_toolbar();
      draw_tool_panel();
    }
    return 0;
  }
  // A press on the picture closes the bar and goes on to the stroke.
  hide_panel();
  return button_edge;
}

void toolbar_destroy_bitmaps() {
  for (ToolSlot& slot : ToolTable) {
    if (slot.icon) destroy_bitmap(slot.icon);
    if (slot.mask) destroy_bitmap(slot.mask);
    if (slot.panel) destroy_bitmap(slot.panel);
    slot.icon = slot.mask = slot.panel = nullptr;
  }
}

void toolbar_reset() {
  toolbar_destroy_bitmaps();
  tool_table_reset();
  board.tools.drawing_tool = 0;
  for (int c = 0; c < 3; ++c) board.colour.rgb[c] = board.colour.hsv[c] = 0;
}

// The icons show the paint colour.
static void repaint_colour(bool bar_shown) {
  draw_toolbar_icons();
  if (bar_shown) draw_toolbar();
}

void toolbar_register_hooks() { colour_set_changed_hook(repaint_colour); }
