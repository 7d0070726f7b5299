#include "app/busy_indicator.h"

#include <allegro.h>

#include "app/client.h"
#include "ui/board.h"
#include "paint/canvas.h"
#include "ui/dirty_list.h"
#include "ui/bitmap_image.h"
#include "ui/screen.h"

namespace {
constexpr int BUSY_CYCLE = 50;  // the counter runs through 1..49
constexpr int BAND = 5;         // pixels per band, frames per step
constexpr int BAR_TOP = 1;
}  // namespace

void busy_indicator_step() {
  const int xb = screen_width / 2 - BUSY_BAR_WIDTH / 2;
  // Strokes held while the link is down wait for the server too, until they
  // are sent after the rejoin; after a goodbye nothing will take them.
  const bool waiting = board.connected ? queue_count(&board.command_queue) != 0
                                       : board.take_resume && board_session_may_rejoin(&board) &&
                                             board_session_pending(&board, nullptr) != 0;
  if (waiting) {
    ++busy_counter;
    if (busy_counter >= BUSY_CYCLE) busy_counter = 1;
    const int p = (busy_counter - 1) / BAND;
    const int q = (busy_counter - 2) / BAND;
    if (!board.frame.received_this_frame && p == q) return;
    const int red = bitmap_colour(255, 0, 0);
    const int black = bitmap_colour(0, 0, 0);
    for (int i = 0; i < BUSY_BAR_WIDTH; ++i) {
      const bool dark = ((p + i) / BAND) % 2 == 1;
      vline(BackBuffer, xb + i, BAR_TOP, BAR_TOP + BUSY_BAR_HEIGHT - 1, dark ? black : red);
    }
    add_dirty_rect(xb, BAR_TOP, BUSY_BAR_WIDTH, BUSY_BAR_HEIGHT);
    return;
  }
  if (busy_counter == 0) return;
  busy_counter = 0;
  const int ry = BAR_TOP - oy;  // the picture row under the bar's first row
  if (ry < 0) {
    rectfill(BackBuffer, xb, BAR_TOP, xb + BUSY_BAR_WIDTH - 1, BAR_TOP + BUSY_BAR_HEIGHT - 1,
             bitmap_colour(0, 0, 0));
  } else {
    blit_image(&LocalCanvas, BackBuffer, xb - ox, ry, xb, BAR_TOP, BUSY_BAR_WIDTH, BUSY_BAR_HEIGHT);
  }
  add_dirty_rect(xb, BAR_TOP, BUSY_BAR_WIDTH, BUSY_BAR_HEIGHT);
}
