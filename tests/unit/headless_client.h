// The client's process-wide state without a display, for tests and drivers
// that run the real session, stroke and chat code headless.
#pragma once
#include <allegro.h>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"

namespace testsupport {

// Every module at its start, the socket library taken as started, and the
// shared bitmaps of a screen_w x screen_h screen as the client opens them. The
// caller fills config's server, port and name first.
inline void start_headless_client(int screen_w, int screen_h) {
  config.screen_w = uint16_t(screen_w);
  config.screen_h = uint16_t(screen_h);
  client_state_reset();
  net_available = true;
  client_world_open(screen_w, screen_h);
}

inline void stop_headless_client() {
  session_reset();
  client_world_close();
}

}  // namespace testsupport
