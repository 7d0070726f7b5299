#include "app/input_wait.h"

#include <allegro.h>
#include <sys/select.h>
#include <xalleg.h>

namespace {

bool paused = false;

// Flushes our drawing and counts the events Xlib has read; events it has
// already read never make the descriptor readable again.
int events_queued() {
  XLOCK();
  int queued = XEventsQueued(_xwin.display, QueuedAfterFlush);
  XUNLOCK();
  return queued;
}

}  // namespace

void input_wait_begin() {
  if (paused || !_xwin.display || !_unix_bg_man) return;
  DISABLE();
  paused = true;
}

void input_wait_end() {
  if (!paused) return;
  paused = false;
  ENABLE();
}

// The library's handler also waits for a round trip to the X server first,
// which an idle frame can skip.
void input_pump() {
  if (paused && events_queued() > 0) _xwin_handle_input();
}

void input_wait(int socket_fd, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  int top = -1;
  if (socket_fd >= 0 && socket_fd < FD_SETSIZE) {
    FD_SET(socket_fd, &set);
    top = socket_fd;
  }
  if (paused) {
    if (events_queued() > 0) return;
    int x_fd = ConnectionNumber(_xwin.display);
    if (x_fd < FD_SETSIZE) {
      FD_SET(x_fd, &set);
      if (x_fd > top) top = x_fd;
    }
  }
  timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  select(top + 1, top >= 0 ? &set : nullptr, nullptr, nullptr, &timeout);
}
