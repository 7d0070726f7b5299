// The server's checkpoint of the board (net/checkpoint.h): made by the
// painter thread, served to the clients that ask for one at login, and kept
// in FILE.checkpoint beside the board file so that a restarted server serves
// them at once. A checkpoint names the history it stands for by its length
// and digest; one that does not match the board file is never served.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board_file.h"
#include "net/checkpoint.h"

struct Checkpoint {
  std::shared_ptr<BoardFile> file;  // the board it was made of: served only while that board lasts
  size_t offset = 0;                // bytes of the board file it stands for, whole frames
  CheckpointHead head = {};
  std::vector<uint8_t> frames;      // MSG_CHECKPOINT frames, ready to send
};

std::string checkpoint_path(const std::string& board_path);
// The frames' payloads one after another: the head as it travels, then the PNG.
std::vector<uint8_t> checkpoint_payload(const Checkpoint& c);

// Makes c from the PNG of the picture after the first offset bytes of file.
// 0 when the frames cannot be made.
int checkpoint_make(Checkpoint* c, const std::shared_ptr<BoardFile>& file, size_t offset, const CheckpointHead& head,
                    const std::string& png);
// Writes c to path through a temporary file and a rename: a crash leaves the
// old checkpoint or the new one. 0 on failure (logged by the caller).
int checkpoint_save(const Checkpoint& c, const std::string& path);
// Reads path and checks it against the board file, of which length bytes are
// the board: its own digest, its length within the board and the digest of
// the history it stands for. 1 with c filled; 0 with why said when it is
// missing (why empty), damaged or another board's.
int checkpoint_load(const std::string& path, const std::shared_ptr<BoardFile>& file, size_t length, Checkpoint* c,
                    std::string* why);
// The digest of bytes [from, to) of the board file, after what start stood
// for; 0 in *ok when the file cannot be read.
uint64_t checkpoint_digest_file(const BoardFile& file, size_t from, size_t to, uint64_t start, bool* ok);
