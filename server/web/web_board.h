// What the web side knows of the board: what the relay loop hands over (the
// board file's descriptor, its length and the users present) and the picture
// drawn from it. The relay loop hands over under a lock that no one holds for
// longer than a pointer copy, so it never waits for the web side. Nothing
// keeps a copy of the board: the painter thread and /board.easel read the
// board file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board_file.h"
#include "checkpoint_file.h"

struct WebBoard;

// The board as the web thread sees it at one moment.
struct BoardSnapshot {
  std::shared_ptr<BoardFile> file;  // null before the relay handed one over
  uint64_t epoch = 0;               // one more for every new board (a restart)
  size_t length = 0, commands = 0;
  std::shared_ptr<const std::vector<std::string>> users;
};

// The last finished picture; png is null while there is none.
struct BoardPicture {
  std::shared_ptr<const std::string> png;
  uint64_t epoch = 0;
  size_t length = 0;
  bool failed = false;  // the painter cannot draw at all
};

// Starts the painter thread at the lowest priority (the relay loop comes
// first for the CPU). It draws while someone looks and, with checkpoint_every
// above 0, whenever the board has grown by that many commands since its last
// checkpoint: the picture then becomes the new checkpoint, kept in
// checkpoint_file. A checkpoint in that file from an earlier run is served at
// once when it matches the board.
WebBoard* web_board_start(const std::string& checkpoint_file, size_t checkpoint_every);
void web_board_stop(WebBoard* b);

// Relay loop: the board as written and acknowledged, its first length bytes
// holding commands frames. Another file is a new board (a restart).
void web_board_feed(WebBoard* b, const std::shared_ptr<BoardFile>& file, size_t length, size_t commands);
void web_board_users(WebBoard* b, std::vector<std::string> names);

// The latest checkpoint, or null; any thread.
std::shared_ptr<const Checkpoint> web_board_checkpoint(WebBoard* b);

// Web thread.
BoardSnapshot web_board_snapshot(WebBoard* b);
// Someone looks: the picture is kept up to date for a while.
void web_board_look(WebBoard* b);
// Never waits for the painter: the last finished picture, and a newer one is
// asked for when it is behind the board of s.
BoardPicture web_board_picture(WebBoard* b, const BoardSnapshot& s);
