// The client's process-wide state without a display, for tests and drivers
// that run the real stroke, chat and network code headless.
#pragma once
#include <cstring>

#include "app/client.h"
#include "app/config.h"
#include "app/server_link.h"
#include "net/command.h"
#include "paint/canvas.h"
#include "ui/board.h"

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

}  // namespace testsupport
