#include "board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/message.h"
#include "rules.h"
#include "server_log.h"

static int write_all(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    data += n;
    length -= size_t(n);
  }
  return 1;
}

static bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string board_archive_name(const std::string& path, const char* tag) {
  char stamp[32];
  file_time_stamp(stamp, sizeof stamp);
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  std::string stem = path, extension;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
    stem = path.substr(0, dot);
    extension = path.substr(dot);
  }
  std::string base = stem + "-" + tag + stamp;
  std::string name = base + extension;
  for (int i = 2; file_exists(name); i++) name = base + "-" + std::to_string(i) + extension;
  return name;
}

static int copy_file(int from, const std::string& to) {
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return 0;
  uint8_t buffer[65536];
  off_t position = 0;
  int ok = 1;
  for (;;) {
    ssize_t n = pread(from, buffer, sizeof buffer, position);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!write_all(out, buffer, size_t(n))) {
      ok = 0;
      break;
    }
    position += n;
  }
  if (ok) ok = fsync(out) == 0;
  close(out);
  return ok;
}

enum ScanEnd { SCAN_CLEAN, SCAN_TORN, SCAN_DAMAGED };

// Walks the frames of the file. *valid is the length of the prefix of whole,
// valid drawing commands; what follows is nothing, the beginning of one frame
// (a write cut short), or damage.
static ScanEnd scan_frames(int fd, size_t* valid, size_t* commands) {
  std::vector<uint8_t> buffer;
  *valid = 0;
  *commands = 0;
  uint8_t block[65536];
  off_t position = 0;
  for (;;) {
    ssize_t n = pread(fd, block, sizeof block, position);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SCAN_DAMAGED;
    if (n == 0) return buffer.empty() ? SCAN_CLEAN : SCAN_TORN;
    position += n;
    buffer.insert(buffer.end(), block, block + n);
    size_t at = 0;
    for (;;) {
      size_t left = buffer.size() - at;
      const uint8_t* frame = buffer.data() + at;
      if (left < 3) break;
      size_t length = frame_payload_length(frame);
      if (!is_drawing_type(frame[0]) || length > MAX_PAYLOAD) return SCAN_DAMAGED;
      if (left < 3 + length) break;
      if (!validate_drawing(frame[0], frame + 3, length)) return SCAN_DAMAGED;
      at += 3 + length;
      *valid += 3 + length;
      (*commands)++;
    }
    buffer.erase(buffer.begin(), buffer.begin() + long(at));
  }
}

int board_open(Board* b, const std::string& path, bool sync) {
  b->path = path;
  b->sync = sync;
  b->pending.clear();
  b->failing = false;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    server_log("error: cannot open the board file %s: %s", path.c_str(), strerror(errno));
    return 0;
  }
  b->file = std::make_shared<BoardFile>();
  b->file->fd = fd;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    server_log("error: cannot read the board file %s: %s", path.c_str(), strerror(errno));
    return 0;
  }
  if (!S_ISREG(st.st_mode)) {
    server_log("error: the board file %s is not a regular file", path.c_str());
    return 0;
  }
  size_t size = size_t(st.st_size);
  size_t valid = 0;
  ScanEnd scan = scan_frames(fd, &valid, &b->commands);
  if (scan != SCAN_CLEAN) {
    if (scan == SCAN_TORN) {
      server_log("warning: the board file %s ends in a torn frame; its %zu bytes are dropped",
                 path.c_str(), size - valid);
    } else {
      std::string copy = board_archive_name(path, "damaged-");
      if (!copy_file(fd, copy)) {
        server_log(
            "error: the board file %s is damaged at byte %zu and cannot be copied to %s;"
            " move it aside and start again",
            path.c_str(), valid, copy.c_str());
        return 0;
      }
      server_log(
          "warning: the board file %s is damaged at byte %zu; the original was copied to"
          " %s and the board keeps the %zu commands before that point",
          path.c_str(), valid, copy.c_str(), b->commands);
    }
    if (ftruncate(fd, off_t(valid)) != 0) {
      server_log("error: cannot cut the board file %s: %s", path.c_str(), strerror(errno));
      return 0;
    }
  }
  b->written = valid;
  server_log("board %s: %zu commands, %zu bytes", path.c_str(), b->commands, valid);
  return 1;
}

void board_append(Board* b, const uint8_t* frame, size_t length) {
  b->pending.insert(b->pending.end(), frame, frame + length);
  b->commands++;
}

size_t board_size(const Board* b) { return b->written + b->pending.size(); }

int board_flush(Board* b) {
  size_t done = 0;
  bool ok = true;
  while (done < b->pending.size()) {
    ssize_t n = write(b->file->fd, b->pending.data() + done, b->pending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += size_t(n);
  }
  b->written += done;
  b->pending.erase(b->pending.begin(), b->pending.begin() + long(done));
  // After a failed sync the written bytes are synced again before anything counts.
  if (ok && b->sync && (done > 0 || b->failing) && fdatasync(b->file->fd) != 0) ok = false;
  if (!ok) {
    if (!b->failing)
      server_log("error: cannot write the board file %s: %s; acknowledgements wait",
                 b->path.c_str(), strerror(errno));
    b->failing = true;
    return 0;
  }
  if (b->failing) server_log("the board file %s is written again", b->path.c_str());
  b->failing = false;
  return 1;
}

int board_restart(Board* b, std::string* archive_path) {
  if (!board_flush(b)) return 0;
  fsync(b->file->fd);
  std::string archive = board_archive_name(b->path, "");
  if (rename(b->path.c_str(), archive.c_str()) != 0) {
    server_log("error: cannot move the board file %s aside: %s", b->path.c_str(), strerror(errno));
    return 0;
  }
  int fd = open(b->path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    server_log("error: cannot create the board file %s: %s", b->path.c_str(), strerror(errno));
    if (rename(archive.c_str(), b->path.c_str()) != 0)
      server_log("error: the board stays in %s", archive.c_str());
    return 0;
  }
  // Readers still streaming the old board keep the old descriptor.
  b->file = std::make_shared<BoardFile>();
  b->file->fd = fd;
  b->written = 0;
  b->commands = 0;
  *archive_path = archive;
  return 1;
}

void board_close(Board* b) {
  if (b->file) {
    board_flush(b);
    fsync(b->file->fd);
  }
  b->file.reset();
}
