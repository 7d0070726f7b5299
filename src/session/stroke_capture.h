// Stroke capture on the picture: the pointer sampled into a point list (Ctrl
// snaps to a grid, Shift keeps a straight line, the right button cancels, at
// most 255 points), and the right-button colour pick. What the screen shows
// meanwhile is the caller's, told through the hooks it passes.
#pragma once
#include <cstdint>

#include "net/wire_limits.h"

constexpr unsigned STROKE_POINTS_MAX = MAX_POINTS;

// The stroke being drawn. count 0: no stroke in progress. The last point
// (count - 1) floats with the pointer; earlier points are fixed.
struct StrokePointList {
  int16_t xs[STROKE_POINTS_MAX + 1];
  int16_t ys[STROKE_POINTS_MAX + 1];
  uint32_t count;
};
extern StrokePointList StrokePoints;

struct CanvasPos {
  int x;
  int y;
};

extern float path_length;  // path since the last fixed point
extern CanvasPos last_canvas_pos;

// Mouse buttons as the desktop's library numbers them.
constexpr int MOUSE_LEFT = 1;
constexpr int MOUSE_RIGHT = 2;

// What the caller does as the stroke goes on; any may be null.
struct StrokeHooks {
  void (*started)();                  // a stroke began with two points at the pointer
  void (*settled)(unsigned segment);  // a point was fixed: segment (of count points) is final
  void (*moved)();                    // the floating point moved while the left button is held
  void (*cancelled)();                // the right button dropped the stroke
  // The left button was released; extent: the stroke is more than a click.
  // StrokePoints still holds the stroke; it is dropped after the call.
  void (*released)(bool extent);
  void (*picked)();  // a right press off a stroke took the colour under it
};

// One frame of pointer input. (cx, cy) is the pointer in canvas coordinates,
// button_edge the frame's press edge (0, 1 left, 2 right), buttons the buttons
// held now, ctrl and shift whether either key of the pair is held. A right
// press off a stroke picks the colour of picture.
struct Image;
void stroke_capture_step(const StrokeHooks* hooks, const Image* picture, int cx, int cy, int button_edge,
                         int buttons, bool ctrl, bool shift);

// The stroke's preview in the current colour, which both clients draw as the
// pointer moves. Segments first..last-1 drawn for good onto layer from phase;
// returns the phase after them.
float stroke_preview_settle(Image* layer, unsigned first, unsigned last, float phase);
// picture copied onto layer with the settled segments over it: a stroke in
// progress goes on over a rebuilt picture (phase set when any are settled).
void stroke_preview_rebuild(Image* layer, const Image* picture, float* phase);
// The unsettled end drawn onto target from phase; tail gets the area touched.
struct DirtyRect;
void stroke_preview_tail(Image* target, float phase, DirtyRect* tail);

bool stroke_in_progress();
// Drops the stroke in progress without sending anything; the caller recomposes.
void stroke_abandon();

// No stroke, empty state; for tests.
void stroke_capture_reset();
