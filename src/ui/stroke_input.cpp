#include "ui/stroke_input.h"

#include <allegro.h>

#include "net/command.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "session/board_session.h"
#include "ui/bitmap_image.h"
#include "ui/board.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/screen.h"
#include "ui/tool_settings.h"
#include "ui/tool_table.h"

float preview_phase = 0;
DirtyRect tail_rect = {};

namespace {

// Segment of the stroke is final: drawn for good on StrokeLayer.
void settle_segment(unsigned segment) {
  preview_phase = stroke_preview_settle(&StrokeLayer, segment, segment + 1, preview_phase);
}

// The finished stroke becomes one command, drawn at once exactly as every
// client will draw it, then sent and kept until the server accepts it.
void commit_stroke() {
  const ToolSlot& slot = ToolTable[drawing_tool];
  if (slot.build_command) {
    Message m = {};
    if (!slot.build_command(&m))
      show_message("Error initiating %s command.", slot.name);
    else if (board_session_submit(&board, &m) == SUBMIT_SEND_FAILED)
      board_session_disconnect(&board, LINK_SEND_FAILED);
  }
  compose_screen(BackBuffer, &LocalCanvas, true);
}

void start_preview() {
  preview_phase = 0;
  tail_rect = {};
  image_copy_all(&LocalCanvas, &StrokeLayer);
}

void recompose() { compose_screen(BackBuffer, &LocalCanvas, true); }

// A stroke that moved away and back within the release frame still has its
// last tail on BackBuffer, so the picture is recomposed when a tail was drawn.
void finish_stroke(bool extent) {
  if (extent)
    commit_stroke();
  else if (tail_rect.w > 0 && tail_rect.h > 0)
    recompose();
}

void picked_colour() {
  rebuild_cursor();
  colour_changed(false);
  colour_panel_refresh();
}

const StrokeHooks DESKTOP_HOOKS = {start_preview, settle_segment, stroke_redraw_tail, recompose, finish_stroke,
                                   picked_colour};

}  // namespace

void stroke_step(int cx, int cy, int button_edge, int buttons, bool ctrl, bool shift) {
  stroke_capture_step(&DESKTOP_HOOKS, &LocalCanvas, cx, cy, button_edge, buttons, ctrl, shift);
}

void stroke_redraw_tail() {
  const unsigned n = StrokePoints.count;
  if (n < 2 || !BackBuffer || !StrokeLayer.pixels) return;
  blit_image(&StrokeLayer, BackBuffer, tail_rect.x - ox, tail_rect.y - oy, tail_rect.x, tail_rect.y,
             tail_rect.w, tail_rect.h);
  add_dirty_rect(tail_rect);
  Image back = bitmap_image(BackBuffer);
  stroke_preview_tail(&back, preview_phase, &tail_rect);
  add_dirty_rect(tail_rect);
}

void stroke_rebuild_layer() {
  if (StrokePoints.count == 0) return;
  stroke_preview_rebuild(&StrokeLayer, &LocalCanvas, &preview_phase);
}

int build_drawing_command(Message* m) {
  const StrokePointList& p = StrokePoints;
  return encode_tool_command(m, drawing_tool, board.own_user_id, p.xs, p.ys, p.count);
}

void stroke_input_reset() {
  stroke_capture_reset();
  preview_phase = 0;
  tail_rect = {};
}
