#include "ui/screen.h"

#include "paint/canvas.h"

BITMAP* SamplePicture = nullptr;
BITMAP* BackBuffer = nullptr;
BITMAP* ServerCanvas = nullptr;
BITMAP* LocalCanvas = nullptr;
BITMAP* StrokeLayer = nullptr;
BITMAP* ToolbarStrip = nullptr;
BITMAP* CursorSprite = nullptr;

volatile bool switched_away = false;
bool labels_shown = false;

int screen_width = 0, screen_height = 0;
int ox = 0, oy = 0;

void screen_set_layout(int w, int h) {
  screen_width = w;
  screen_height = h;
  ox = (w - CANVAS_WIDTH) / 2;
  oy = (h - CANVAS_HEIGHT) / 2;
  dirty_set_screen_size(w, h);
}

int contrast_colour(float red, float green, float blue) {
  float top = red;
  if (green > top) top = green;
  if (blue > top) top = blue;
  return top > 120 ? makecol32(0, 0, 0) : makecol32(255, 255, 255);
}

void draw_canvas_view_on(BITMAP* target, BITMAP* canvas) {
  if (!target) return;
  const int sw = target->w, sh = target->h;
  const int black = makecol32(0, 0, 0);
  if (canvas) blit(canvas, target, 0, 0, ox, oy, CANVAS_WIDTH, CANVAS_HEIGHT);
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

void draw_canvas_view(BITMAP* canvas) { draw_canvas_view_on(BackBuffer, canvas); }

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
    blit(BackBuffer, dest, 0, 0, 0, 0, BackBuffer->w, BackBuffer->h);
  } else {
    for (int i = 0; i < count; ++i) {
      const DirtyRect r = dirty_list.rects[i];
      blit(BackBuffer, dest, r.x, r.y, r.x, r.y, r.w, r.h);
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
