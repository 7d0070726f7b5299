#include "app/input_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> wake_read{-1};
std::atomic<int> wake_write{-1};
// Set by a wake until a wait consumes it: a burst of events writes one byte.
std::atomic<bool> wake_pending{false};

void drain() {
  char bytes[64];
  while (read(wake_read, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

int input_wait_open() {
  if (wake_read >= 0) return 1;
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
  wake_write = ends[1];
  wake_read = ends[0];
  return 1;
}

void input_wake() {
  if (wake_pending.exchange(true)) return;
  const int fd = wake_write;
  if (fd < 0) return;
  const int saved = errno;  // a signal handler must leave errno as it found it
  ssize_t written = write(fd, "", 1);
  (void)written;  // a full pipe wakes the loop as well
  errno = saved;
}

void input_wait(int socket_fd, bool want_write, int timeout_ms) {
  if (!wake_pending.exchange(false)) {
    pollfd watched[2] = {{wake_read, POLLIN, 0}, {socket_fd, short(POLLIN | (want_write ? POLLOUT : 0)), 0}};
    poll(watched, socket_fd >= 0 ? 2 : 1, timeout_ms);
    // A wake from now on writes a new byte; the one drained below belongs to
    // input that the next frame takes anyway.
    wake_pending = false;
  }
  if (wake_read >= 0) drain();
}
