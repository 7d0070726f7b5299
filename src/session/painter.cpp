#include "session/painter.h"

void painter_pointer(BoardSession* s, const StrokeView* view, int cx, int cy, int button_edge, int buttons,
                     bool ctrl, bool shift) {
  StrokeCapture* c = &s->stroke;
  const StrokeStep step = stroke_capture_step(c, cx, cy, button_edge, buttons, ctrl, shift);
  if (step.settled >= 0)
    stroke_preview_settle(c, &s->StrokeLayer, s->colour.rgb, unsigned(step.settled), unsigned(step.settled) + 1);
  switch (step.outcome) {
    case STROKE_IDLE: break;
    case STROKE_STARTED:
      image_copy_all(&s->LocalCanvas, &s->StrokeLayer);
      if (view->started) view->started();
      break;
    case STROKE_MOVED:
      if (view->moved) view->moved();
      break;
    case STROKE_CANCELLED:
      if (view->cancelled) view->cancelled();
      break;
    case STROKE_RELEASED: {
      // A click without movement sends nothing.
      const bool extent = stroke_has_extent(c);
      if (extent) painter_commit(s);
      stroke_abandon(c);
      if (view->released) view->released(extent);
      break;
    }
    case STROKE_PICK:
      colour_pick(&s->colour, &s->LocalCanvas, cx, cy);
      if (view->picked) view->picked();
      break;
  }
}

void painter_tail(const BoardSession* s, Image* target, ImageArea* tail) {
  if (s->stroke.points.count < 2) return;
  stroke_preview_tail(&s->stroke, target, s->colour.rgb, tail);
}

void painter_commit(BoardSession* s) {
  const StrokePointList& p = s->stroke.points;
  Message m = {};
  if (!encode_tool_command(&m, &s->tools, &s->colour, s->own_user_id, p.xs, p.ys, p.count)) {
    const int tool = s->tools.drawing_tool;
    board_session_notice(s, "Error initiating %s command.",
                         tool >= 0 && tool < DRAWING_TYPE_COUNT ? DRAWING_TOOLS[tool].name : "drawing");
  } else if (board_session_submit(s, &m) == SUBMIT_SEND_FAILED) {
    board_session_disconnect(s, LINK_SEND_FAILED);
  }
}
