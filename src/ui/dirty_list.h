// The list of screen rectangles that changed in BackBuffer this frame.
#pragma once
#include <cstdint>

#include "paint/image.h"

using DirtyRect = ImageArea;

constexpr int DIRTY_LIST_CAPACITY = 32;

// count == DIRTY_LIST_CAPACITY is the full state: the whole screen is copied.
struct DirtyList {
  DirtyRect rects[DIRTY_LIST_CAPACITY];
  volatile int count;
};
extern DirtyList dirty_list;

// The screen size that rectangles are clipped to (set at start-up).
void dirty_set_screen_size(int w, int h);

// Normalises negative sizes and clips the rectangle to the screen in place.
// Returns false when nothing of it remains.
bool clip_dirty_rect(DirtyRect* rect);

// False only when the list is full; true otherwise, also when clipped away.
bool add_dirty_rect(int x, int y, int w, int h);
bool add_dirty_rect(const DirtyRect& rect);
void mark_all_dirty();
// Empty list, for the refresh and for tests.
void dirty_list_clear();
// Empties the list if it still holds the `seen` entries the refresh copied: a
// whole-screen mark set meanwhile by the display-switch callback stays.
void dirty_list_take(int seen);
