// The client's process-wide state without a display, for tests and drivers
// that run the real session, stroke and chat code headless.
#pragma once
#include <allegro.h>

#include "app/client.h"
#include "app/config.h"
#include "app/roster.h"
#include "app/session.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "ui/chat_input.h"
#include "ui/chat_log.h"
#include "ui/dirty_rect.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"

namespace testsupport {

// reset_client_modules, a screen_w x screen_h screen, and the picture
// bitmaps: ServerCanvas freshly reset and copied into LocalCanvas and
// StrokeLayer, BackBuffer black. The caller fills config's server, port and
// name first; screen_w and screen_h are set here.
// Every module the session, stroke and chat code use back to its start, with
// the socket library taken as started.
inline void reset_client_modules() {
  dirty_list_clear();
  chat_log_reset();
  roster_reset();
  random_reset();
  session_reset();
  chat_input_reset();
  stroke_input_reset();
  net_available = true;
}

inline void start_headless_client(int screen_w, int screen_h) {
  config.screen_w = uint16_t(screen_w);
  config.screen_h = uint16_t(screen_h);
  screen_set_layout();
  reset_client_modules();
  BackBuffer = create_bitmap_ex(32, screen_w, screen_h);
  ServerCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  LocalCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  StrokeLayer = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  clear_to_color(BackBuffer, makecol32(0, 0, 0));
  resetCanvas(ServerCanvas);
  blit(ServerCanvas, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  blit(ServerCanvas, StrokeLayer, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
}

inline void stop_headless_client() {
  session_reset();
  destroy_bitmap(BackBuffer);
  destroy_bitmap(ServerCanvas);
  destroy_bitmap(LocalCanvas);
  destroy_bitmap(StrokeLayer);
  BackBuffer = ServerCanvas = LocalCanvas = StrokeLayer = nullptr;
}

}  // namespace testsupport
