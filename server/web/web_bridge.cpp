#include "web_bridge.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

int web_bridge_open(WebBridge* b) {
  b->event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return b->event_fd >= 0;
}

int web_bridge_offer(WebBridge* b, const BridgedConnection& c) {
  {
    std::lock_guard<std::mutex> hold(b->lock);
    if (!b->closed) {
      b->offered.push_back(c);
      uint64_t one = 1;
      // A counter already set wakes the loop as well: a failed write is harmless.
      ssize_t ignored = write(b->event_fd, &one, sizeof one);
      (void)ignored;
      return 1;
    }
  }
  close(c.fd);
  return 0;
}

std::vector<BridgedConnection> web_bridge_take(WebBridge* b) {
  uint64_t count;
  ssize_t ignored = read(b->event_fd, &count, sizeof count);  // nothing set is fine too
  (void)ignored;
  std::vector<BridgedConnection> taken;
  std::lock_guard<std::mutex> hold(b->lock);
  taken.swap(b->offered);
  return taken;
}

void web_bridge_close(WebBridge* b) {
  std::vector<BridgedConnection> left;
  {
    std::lock_guard<std::mutex> hold(b->lock);
    b->closed = true;
    left.swap(b->offered);
  }
  for (const BridgedConnection& c : left) {
    c.farewell->store(FAREWELL_STOPPING);
    close(c.fd);
  }
  if (b->event_fd >= 0) close(b->event_fd);
  b->event_fd = -1;
}
