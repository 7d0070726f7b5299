// The painter's hand on the board: the pointer becomes a stroke previewed on
// StrokeLayer, and a finished stroke one drawing command in the painter's
// tool and colour, submitted to the session; a right press off a stroke takes
// the colour under it. The screen only shows what it is told.
#pragma once
#include "session/board_session.h"

// What the screen does as the stroke goes on, after the session did its part;
// any may be null.
struct StrokeView {
  void (*started)();              // a stroke began: StrokeLayer is LocalCanvas
  void (*moved)();                // the floating end moved: draw the tail again
  void (*cancelled)();            // the right button dropped the stroke
  void (*released)(bool extent);  // the stroke ended; with extent it was committed
  void (*picked)();               // the colour under the pointer was taken
};

// One step of the pointer, in canvas coordinates (see stroke_capture_step).
void painter_pointer(BoardSession* s, const StrokeView* view, int cx, int cy, int button_edge, int buttons,
                     bool ctrl, bool shift);
// The stroke's unsettled end over target (a picture the size of the canvas or
// a screen around it); tail gets the area touched.
void painter_tail(const BoardSession* s, Image* target, ImageArea* tail);
// The finished stroke in s->stroke becomes a command drawn on LocalCanvas and
// sent; a command that cannot be made is said in the chat, one that cannot
// be framed ends the link.
void painter_commit(BoardSession* s);
