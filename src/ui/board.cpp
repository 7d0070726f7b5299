#include "ui/board.h"

#include "paint/canvas.h"

namespace {

// The colour is there before the session opens: the tool panels' sample
// picture is painted from the palette during start-up.
BoardSession desktop_session() {
  BoardSession s = {};
  s.reset_canvas = resetCanvas;
  colour_choice_reset(&s.colour);
  tool_settings_reset(&s.tools);
  return s;
}

}  // namespace

BoardSession board = desktop_session();
Image& ServerCanvas = board.ServerCanvas;
Image& LocalCanvas = board.LocalCanvas;
Image& StrokeLayer = board.StrokeLayer;

void board_reset() {
  board_session_reset(&board);
  board.reset_canvas = resetCanvas;
}
