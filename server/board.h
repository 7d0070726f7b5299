// The board: every drawing command since the last restart, kept as wire frames
// in one file (the format easel-render reads). New frames are gathered in
// memory and written in one go per loop iteration, before any acknowledgement
// for them leaves the server.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board_file.h"

struct Board {
  std::string path;
  std::shared_ptr<BoardFile> file;
  size_t written = 0;            // bytes in the file
  std::vector<uint8_t> pending;  // frames not written yet, in order
  size_t commands = 0;           // frames on the board, pending ones included
  bool sync = false;             // fdatasync after every write
  bool failing = false;          // the last write failed; logged once
};

// Opens the board file, creating it when missing. Loads and checks its frames:
// a torn last frame is cut off with a warning; from a damaged frame on, the
// rest is dropped after the whole original file was copied aside.
int board_open(Board* b, const std::string& path, bool sync);
void board_append(Board* b, const uint8_t* frame, size_t length);
// Size of the board in bytes, pending frames included.
size_t board_size(const Board* b);
// Writes the pending frames. Returns 0 while they cannot be written; nothing
// may then be acknowledged.
int board_flush(Board* b);
// Moves the current file aside under a time-stamped name and starts an empty
// board. Returns 0 (and keeps the old board) when that fails.
int board_restart(Board* b, std::string* archive_path);
void board_close(Board* b);
// FILE-YYYYMMDD-HHMMSS.easel beside FILE (its extension kept), with a counter
// when that name is taken.
std::string board_archive_name(const std::string& path, const char* tag);
