#include "ui/screen.h"

#include "paint/canvas.h"
#include "paint/pixel.h"
#include "ui/bitmap_image.h"

Image SamplePicture = {};
BITMAP* BackBuffer = nullptr;
BITMAP* ToolbarStrip = nullptr;
BITMAP* CursorSprite = nullptr;

volatile bool switched_away = false;
bool labels_shown = false;

int screen_width = 0, screen_height = 0;
int ox = 0, oy = 0;

// Whether the screen takes BackBuffer's pixels converted.
static bool screen_converts = false;

void screen_set_layout(int w, int h) {
  screen_width = w;
  screen_height = h;
  ox = (w - CANVAS_WIDTH) / 2;
  oy = (h - CANVAS_HEIGHT) / 2;
  dirty_set_screen_size(w, h);
  screen_converts = !library_layout_matches();
}

int contrast_grey(float red, float green, float blue) {
  float top = red;
  if (green > top) top = green;
  if (blue > top) top = blue;
  return top > 120 ? 0 : 255;
}

int contrast_colour(float red, float green, float blue) {
  const int grey = contrast_grey(red, green, blue);
  return bitmap_colour(grey, grey, grey);
}

void draw_canvas_view_on(BITMAP* target, const Image* canvas) {
  if (!target) return;
  const int sw = target->w, sh = target->h;
  const int black = bitmap_colour(0, 0, 0);
  if (canvas) blit_image(canvas, target, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
  // Picture rows on the screen, clipped; the bands lie outside them.
  int top = oy < 0 ? 0 : oy;
  int bottom = oy + CANVAS_HEIGHT > sh ? sh : oy + CANVAS_HEIGHT;
  if (sh > CANVAS_HEIGHT) {
    if (top > 0) rectfill(target, 0, 0, sw - 1, top - 1, black);
    if (bottom < sh) rectfill(target, 0, bottom, sw - 1, sh - 1, black);
  }
  if (sw > CANVAS_WIDTH && bottom > top) {
    int right = ox + CANVAS_WIDTH;
    if (ox > 0) rectfill(target, 0, top, ox - 1, bottom - 1, black);
    if (right < sw) rectfill(target, right, top, sw - 1, bottom - 1, black);
  }
  labels_shown = false;
  mark_all_dirty();
}

void draw_canvas_view(const Image* canvas) { draw_canvas_view_on(BackBuffer, canvas); }

// Copies the rectangle (x, y, w, h) of BackBuffer to the same place of dest,
// each pixel in the library's layout when that is not the engine's.
static void copy_to_screen(BITMAP* dest, int x, int y, int w, int h) {
  if (!screen_converts) {
    blit(BackBuffer, dest, x, y, x, y, w, h);
    return;
  }
  const Image back = bitmap_image(BackBuffer);
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (w > back.w - x) w = back.w - x;
  if (h > back.h - y) h = back.h - y;
  if (w <= 0 || h <= 0) return;
  BITMAP* line = create_bitmap_ex(32, w, 1);
  if (!line) return;
  for (int row = y; row < y + h; ++row) {
    const uint32_t* from = image_row(&back, row) + x;
    uint32_t* to = reinterpret_cast<uint32_t*>(line->line[0]);
    for (int i = 0; i < w; ++i)
      to[i] = static_cast<uint32_t>(makecol32(pixel_red(from[i]), pixel_green(from[i]), pixel_blue(from[i])));
    blit(line, dest, 0, 0, x, row, w, 1);
  }
  destroy_bitmap(line);
}

void refresh_screen_to(BITMAP* dest) {
  // Read before the switch flag, so that a mark the callback sets on return
  // is not taken for one already seen.
  const int count = dirty_list.count;
  if (switched_away) {
    dirty_list_take(count);
    return;
  }
  if (count == 0 || !dest || !BackBuffer) return;
  // A pointer the library draws into the picture (when the system cannot
  // draw it) is hidden while rectangles are copied; scare_mouse does nothing
  // to one the system draws. It is not frozen instead: frozen, the library
  // reports the pointer where it was drawn last, not where the painter moved
  // it. It is hidden before the screen is acquired, never after: hiding it
  // takes the library's timer lock, whose thread may be waiting for the
  // display lock that an acquired screen holds, and the client would hang.
  scare_mouse();
  acquire_bitmap(dest);
  if (count >= DIRTY_LIST_CAPACITY) {
    copy_to_screen(dest, 0, 0, BackBuffer->w, BackBuffer->h);
  } else {
    for (int i = 0; i < count; ++i) {
      const DirtyRect r = dirty_list.rects[i];
      copy_to_screen(dest, r.x, r.y, r.w, r.h);
    }
  }
  dirty_list_take(count);
  release_bitmap(dest);
  unscare_mouse();
}

void refresh_screen() { refresh_screen_to(screen); }

static void on_switch_out() { switched_away = true; }

static void on_switch_in() {
  mark_all_dirty();
  switched_away = false;
}

void install_display_switch() {
  if (set_display_switch_mode(SWITCH_AMNESIA) == 0) {
    set_display_switch_callback(SWITCH_OUT, on_switch_out);
    set_display_switch_callback(SWITCH_IN, on_switch_in);
    return;
  }
  // A windowed display keeps its contents and is not lost while another window
  // has the focus: keep drawing in the background and repaint all on return.
  set_display_switch_mode(SWITCH_BACKGROUND);
  set_display_switch_callback(SWITCH_IN, on_switch_in);
}
