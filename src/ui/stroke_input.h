// The desktop's side of stroke capture (session/stroke_capture.h samples the
// mouse into the point list): the preview while the stroke is drawn, the
// commit as one drawing command, the pointer redrawn after a colour pick.
#pragma once
#include <cstdint>

#include "net/message.h"
#include "paint/dirty_rect.h"
#include "session/stroke_capture.h"

extern float preview_phase;   // offset after the last segment drawn on StrokeLayer
extern DirtyRect tail_rect;   // screen area of the live tail drawn last

// One frame of stroke input. (cx, cy) is the mouse in canvas coordinates,
// button_edge the frame's press edge (0, 1 left, 2 right), buttons the buttons
// held now, ctrl and shift whether either key of the pair is held.
void stroke_step(int cx, int cy, int button_edge, int buttons, bool ctrl, bool shift);

// Redraws the unsettled end of the stroke over BackBuffer: restores the area
// of the previous tail from StrokeLayer, draws the last segments up to the
// floating point and records both areas as dirty. Needs count > 1.
void stroke_redraw_tail();
// LocalCanvas was rebuilt under a stroke in progress: StrokeLayer becomes
// LocalCanvas with the settled segments drawn again.
void stroke_rebuild_layer();

// The build_command of every drawing tool: fills m with the drawing tool's
// command (its layout in COMMAND_LAYOUTS) from StrokePoints, the current colour
// and the tool's settings. 1 on success.
int build_drawing_command(Message* m);

// No stroke, empty state; for tests.
void stroke_input_reset();
