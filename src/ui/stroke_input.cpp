#include "ui/stroke_input.h"

#include <allegro.h>

#include "session/painter.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/screen.h"

DirtyRect tail_rect = {};

namespace {

void start_preview() { tail_rect = {}; }

void recompose() { compose_screen(BackBuffer, &LocalCanvas, true); }

// A stroke that moved away and back within the release frame still has its
// last tail on BackBuffer, so the picture is recomposed when a tail was drawn.
void finish_stroke(bool extent) {
  if (extent || (tail_rect.w > 0 && tail_rect.h > 0)) recompose();
}

void picked_colour() {
  rebuild_cursor();
  colour_changed(false);
  colour_panel_refresh();
}

const StrokeView DESKTOP_VIEW = {start_preview, stroke_redraw_tail, recompose, finish_stroke, picked_colour};

}  // namespace

void stroke_step(int cx, int cy, int button_edge, int buttons, bool ctrl, bool shift) {
  painter_pointer(&board, &DESKTOP_VIEW, cx, cy, button_edge, buttons, ctrl, shift);
}

void stroke_redraw_tail() {
  if (board.stroke.points.count < 2 || !BackBuffer || !StrokeLayer.pixels) return;
  blit_image(&StrokeLayer, BackBuffer, tail_rect.x - ox, tail_rect.y - oy, tail_rect.x, tail_rect.y,
             tail_rect.w, tail_rect.h);
  add_dirty_rect(tail_rect);
  Image back = bitmap_image(BackBuffer);
  painter_tail(&board, &back, &tail_rect);
  add_dirty_rect(tail_rect);
}

void stroke_input_reset() {
  stroke_abandon(&board.stroke);
  board.stroke = StrokeCapture{};
  tail_rect = {};
}
