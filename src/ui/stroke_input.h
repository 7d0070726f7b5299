// The desktop's view of the painter's stroke (session/painter.h captures it,
// previews its settled part on StrokeLayer and commits it): the live tail
// over BackBuffer and the screen recomposed as the stroke ends.
#pragma once
#include "ui/dirty_list.h"

extern DirtyRect tail_rect;  // screen area of the live tail drawn last

// One frame of stroke input. (cx, cy) is the mouse in canvas coordinates,
// button_edge the frame's press edge (0, 1 left, 2 right), buttons the buttons
// held now, ctrl and shift whether either key of the pair is held.
void stroke_step(int cx, int cy, int button_edge, int buttons, bool ctrl, bool shift);

// Redraws the unsettled end of the stroke over BackBuffer: restores the area
// of the previous tail from StrokeLayer, draws the last segments up to the
// floating point and records both areas as dirty. Needs count > 1.
void stroke_redraw_tail();

// No stroke, empty state; for tests.
void stroke_input_reset();
