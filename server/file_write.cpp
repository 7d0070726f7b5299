#include "file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int file_write_at(int fd, const uint8_t* data, size_t length, uint64_t at) {
  while (length > 0) {
    ssize_t n = pwrite(fd, data, length, off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    data += n;
    length -= size_t(n);
    at += uint64_t(n);
  }
  return 1;
}

int file_replace(const std::string& path, const uint8_t* data, size_t length, mode_t mode, int* kept) {
  const std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return 0;
  bool ok = file_write_at(fd, data, length, 0) && fsync(fd) == 0;
  if (!kept) {
    ok = close(fd) == 0 && ok;
    fd = -1;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) {
    if (kept) *kept = fd;
    return 1;
  }
  if (fd >= 0) close(fd);
  unlink(temporary.c_str());
  return 0;
}
