#include "paint/dirty_rect.h"

DirtyList dirty_list = {{}, 0};

namespace {
// Until the screen size is set every rectangle clips away.
int dirty_screen_w = 0;
int dirty_screen_h = 0;

// Clips one axis; false when nothing of it remains.
bool clip_span(long long* pos, long long* len, long long limit) {
  if (*len == 0) return false;
  if (*len < 0) {
    *pos += *len;
    *len = -*len;
  }
  if (*pos < 0) {
    *len += *pos;
    *pos = 0;
    if (*len <= 0) return false;
  }
  if (*pos + *len > limit) {
    *len = limit - *pos;
    if (*len <= 0) return false;
  }
  return true;
}
}  // namespace

void dirty_set_screen_size(int w, int h) {
  dirty_screen_w = w;
  dirty_screen_h = h;
}

bool clip_dirty_rect(DirtyRect* rect) {
  long long x = rect->x, y = rect->y, w = rect->w, h = rect->h;
  if (!clip_span(&x, &w, dirty_screen_w) || !clip_span(&y, &h, dirty_screen_h)) {
    // An emptied rectangle keeps no size, so adding it later adds nothing.
    rect->w = 0;
    rect->h = 0;
    return false;
  }
  *rect = DirtyRect{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(w),
                    static_cast<int16_t>(h)};
  return true;
}

namespace {
bool append_clipped(long long x, long long y, long long w, long long h) {
  int n = dirty_list.count;
  if (n >= DIRTY_LIST_CAPACITY) return false;
  if (!clip_span(&x, &w, dirty_screen_w) || !clip_span(&y, &h, dirty_screen_h)) return true;
  dirty_list.rects[n] = DirtyRect{static_cast<int16_t>(x), static_cast<int16_t>(y),
                                  static_cast<int16_t>(w), static_cast<int16_t>(h)};
  // The display-switch callback may mark the list full meanwhile; then the
  // whole screen is copied anyway and this rectangle is not needed.
  __sync_bool_compare_and_swap(&dirty_list.count, n, n + 1);
  return true;
}
}  // namespace

bool add_dirty_rect(int x, int y, int w, int h) { return append_clipped(x, y, w, h); }

bool add_dirty_rect(const DirtyRect& rect) { return append_clipped(rect.x, rect.y, rect.w, rect.h); }

void mark_all_dirty() { dirty_list.count = DIRTY_LIST_CAPACITY; }

void dirty_list_clear() { dirty_list.count = 0; }

void dirty_list_take(int seen) { __sync_bool_compare_and_swap(&dirty_list.count, seen, 0); }
