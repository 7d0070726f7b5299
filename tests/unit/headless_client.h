// The client's process-wide state without a display, for tests and drivers
// that run the real session, stroke and chat code headless.
#pragma once
#include <cstring>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "net/command.h"
#include "paint/canvas.h"

namespace testsupport {

// Every module at its start, the socket library started, and the shared bitmaps
// of the screen as the client opens them; config's server, port and name are the caller's.
inline void start_headless_client(int screen_w, int screen_h) {
  config.screen_w = uint16_t(screen_w);
  config.screen_h = uint16_t(screen_h);
  client_state_reset();
  net_available = true;
  client_world_open(screen_w, screen_h);
}

// True when LocalCanvas is ServerCanvas with every queued command but chat
// lines drawn over it; scratch is a canvas-sized image it overwrites.
inline bool local_canvas_consistent(Image* scratch) {
  image_copy_all(&ServerCanvas, scratch);
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* m = queue_at(&command_queue, i);
    if (m->type != MSG_CHAT) apply_command(scratch, m);
  }
  for (int y = 0; y < CANVAS_HEIGHT; ++y)
    if (memcmp(image_row(scratch, y), image_row(&LocalCanvas, y), size_t(CANVAS_WIDTH) * 4) != 0) return false;
  return true;
}

}  // namespace testsupport
