#include "ui/dirty_list.h"

DirtyList dirty_list = {{}, 0};

namespace {
// Until the screen size is set every rectangle clips away.
int dirty_screen_w = 0;
int dirty_screen_h = 0;

bool append_clipped(long long x, long long y, long long w, long long h) {
  int n = dirty_list.count;
  if (n >= DIRTY_LIST_CAPACITY) return false;
  if (!image_clip_span(&x, &w, dirty_screen_w) || !image_clip_span(&y, &h, dirty_screen_h)) return true;
  dirty_list.rects[n] = DirtyRect{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(w),
                                  static_cast<int16_t>(h)};
  // The display-switch callback may mark the list full meanwhile; then the
  // whole screen is copied anyway and this rectangle is not needed.
  __sync_bool_compare_and_swap(&dirty_list.count, n, n + 1);
  return true;
}
}  // namespace

void dirty_set_screen_size(int w, int h) {
  dirty_screen_w = w;
  dirty_screen_h = h;
}

bool clip_dirty_rect(DirtyRect* rect) { return image_area_clip(rect, dirty_screen_w, dirty_screen_h); }

bool add_dirty_rect(int x, int y, int w, int h) { return append_clipped(x, y, w, h); }

bool add_dirty_rect(const DirtyRect& rect) { return append_clipped(rect.x, rect.y, rect.w, rect.h); }

void mark_all_dirty() { dirty_list.count = DIRTY_LIST_CAPACITY; }

void dirty_list_clear() { dirty_list.count = 0; }

void dirty_list_take(int seen) { __sync_bool_compare_and_swap(&dirty_list.count, seen, 0); }
