// An open file read as it is sent: the board file, which the relay streams
// to a user who logs in and the web side serves and draws, or a page file.
// The descriptor stays valid for the readers still streaming it after a
// restart has moved the board file aside; it is closed with the last of them.
#pragma once
#include <unistd.h>

struct BoardFile {
  int fd = -1;
  BoardFile() = default;
  BoardFile(const BoardFile&) = delete;
  BoardFile& operator=(const BoardFile&) = delete;
  ~BoardFile() {
    if (fd >= 0) close(fd);
  }
};
