#include "ui/board.h"

#include "paint/canvas.h"

namespace {

BoardSession desktop_session() {
  BoardSession s = {};
  s.clock = board_clock;
  s.reset_canvas = resetCanvas;
  return s;
}

}  // namespace

BoardSession board = desktop_session();
Image& ServerCanvas = board.ServerCanvas;
Image& LocalCanvas = board.LocalCanvas;

time_t board_clock() { return time(nullptr); }

void board_reset() {
  board_session_reset(&board);
  board.clock = board_clock;
  board.reset_canvas = resetCanvas;
}
