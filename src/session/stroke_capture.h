// Stroke capture on the picture: the pointer sampled into a point list (Ctrl
// snaps to a grid, Shift keeps a straight line, the right button cancels, at
// most 255 points), and the preview drawn as it goes: the settled segments on
// a layer of their own, the unsettled end on whatever the caller shows.
#pragma once
#include <cstdint>

#include "net/wire_limits.h"
#include "paint/image.h"

constexpr unsigned STROKE_POINTS_MAX = MAX_POINTS;

// The stroke being drawn. count 0: no stroke in progress. The last point
// (count - 1) floats with the pointer; earlier points are fixed.
struct StrokePointList {
  int16_t xs[STROKE_POINTS_MAX + 1];
  int16_t ys[STROKE_POINTS_MAX + 1];
  uint32_t count;
};

struct CanvasPos {
  int x;
  int y;
};

struct StrokeCapture {
  StrokePointList points;
  float path_length;   // path since the last fixed point
  CanvasPos last_pos;  // the pointer at the previous step
  float phase;         // the preview's offset after the last settled segment
};

// Mouse buttons as the desktop's library numbers them.
constexpr int MOUSE_LEFT = 1;
constexpr int MOUSE_RIGHT = 2;

// What one step of the pointer did to the stroke.
enum StrokeOutcome {
  STROKE_IDLE,       // nothing for the caller
  STROKE_STARTED,    // a stroke began with two points at the pointer
  STROKE_MOVED,      // the floating point moved while the left button is held
  STROKE_CANCELLED,  // the right button dropped the stroke
  STROKE_RELEASED,   // the left button was released; the points still hold the stroke
  STROKE_PICK,       // a right press off a stroke: the colour under the pointer is wanted
};
struct StrokeStep {
  StrokeOutcome outcome;
  int settled;  // a point was fixed: this segment is final; -1 when none
};

// One step of pointer input. (cx, cy) is the pointer in canvas coordinates,
// button_edge the press edge since the last step (0, 1 left, 2 right), buttons
// the buttons held now, ctrl and shift whether either key of the pair is held.
// After STROKE_RELEASED the caller reads the points, then ends the stroke.
StrokeStep stroke_capture_step(StrokeCapture* c, int cx, int cy, int button_edge, int buttons, bool ctrl,
                               bool shift);

// A release with extent: more than a click, so a command.
bool stroke_has_extent(const StrokeCapture* c);
bool stroke_in_progress(const StrokeCapture* c);
// Drops the stroke in progress; the caller recomposes.
void stroke_abandon(StrokeCapture* c);

// The preview, in the colour rgb. Segments first..last-1 drawn for good onto
// layer from phase, which moves on past them.
void stroke_preview_settle(StrokeCapture* c, Image* layer, const float* rgb, unsigned first, unsigned last);
// picture copied onto layer with the settled segments over it: a stroke in
// progress goes on over a rebuilt picture.
void stroke_preview_rebuild(StrokeCapture* c, Image* layer, const Image* picture, const float* rgb);
// The unsettled end drawn onto target; tail gets the area touched.
void stroke_preview_tail(const StrokeCapture* c, Image* target, const float* rgb, ImageArea* tail);
