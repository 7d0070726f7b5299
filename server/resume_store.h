// The resume sessions (net/resume.h): whose dropped link may be taken up
// again, and how many of its messages (drawing commands and chat lines) the
// server accepted. Kept in memory and in a journal beside the board
// (FILE.resume), so that they survive a restart of the server, kill -9
// included; the board file's bytes are never touched for it.
//
// Soundness: the journal never counts more or fewer accepted messages than
// the board holds. Each iteration's changes are appended as one batch BEFORE
// the board's frames they count are written, and every session record names
// the board bytes it stands for: the file's length when the iteration began
// (board_from) and once its frames are written (board_to). At start, a record
// of the current board whose board_to lies beyond the board file (its frames
// never reached the file) is dropped, and a board whose length falls inside a
// record's range (part of an iteration written, none of it acknowledged or
// relayed) is cut back to that iteration's start.
//
// The journal: a header (magic "EASELRJ1", the board generation, the board
// file's inode, a digest), then fixed records of RESUME_RECORD_SIZE bytes,
// each with its own digest (base/digest.h); a torn or damaged tail is cut. It
// is rewritten compactly (temporary file, fsync, rename) at start, at a board
// restart and whenever it grows past its bound.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/resume.h"
#include "net/wire_limits.h"

constexpr size_t RESUME_SESSIONS_MAX = 1024;
constexpr size_t RESUME_HEADER_SIZE = 28;
constexpr size_t RESUME_RECORD_SIZE = 73;
// The journal is rewritten once it is longer than this plus twice its compact size.
constexpr uint64_t RESUME_JOURNAL_SLACK = 1u << 20;

struct ResumeSession {
  uint8_t token[RESUME_TOKEN_SIZE] = {};
  char name[MAX_NAME_CHARS + 1] = {};
  uint32_t accepted = 0;    // its messages the server accepted, over all its links
  uint32_t generation = 0;  // of the board it drew on
  uint64_t board_from = 0, board_to = 0;  // the board bytes `accepted` stands for (above)
  int64_t ended_at = 0;   // wall-clock second its last link ended; 0 while one is present
  struct Client* link = nullptr;  // the connection holding it now
  bool dirty = false;     // changed since the journal was last written
};

struct ResumeStore {
  std::string path;  // the journal; empty: kept in memory only
  int fd = -1;
  bool sync = false;  // fdatasync the journal as the board is
  double keep_seconds = 24 * 3600;  // after the link ended
  uint32_t generation = 1;  // of the board being written; a restart vote makes a new one
  uint64_t board_inode = 0;
  std::vector<std::unique_ptr<ResumeSession>> sessions;
  std::vector<std::vector<uint8_t>> forgotten;  // tokens whose forgetting is to be written
  bool changed = false;   // some session is dirty, or something was forgotten
  bool rewrite = false;   // the journal is to be written anew, compactly
  bool failing = false;   // the last write failed: nothing may be acknowledged
  uint64_t length = 0;    // bytes of the journal known to be whole
  double next_rewrite_try = 0;  // after a failed rewrite for its bound
};

// At start: reads the journal at path (a missing or damaged one: no sessions,
// logged) for the board file of that inode and length. Returns the length the
// board file must be cut to before anything else (board_length when whole).
// The compact journal is written by the next resume_store_flush.
uint64_t resume_store_load(ResumeStore* s, const std::string& path, bool sync, double keep_seconds,
                           uint64_t board_inode, uint64_t board_length, int64_t now);
// Writes what changed (the whole journal when it is due), before the board's
// frames it counts. 0 while it cannot: nothing may then be acknowledged.
int resume_store_flush(ResumeStore* s);
// After the board was written: a journal past its bound is rewritten.
void resume_store_trim(ResumeStore* s, double now);
void resume_store_close(ResumeStore* s);

// The session of this token, compared in constant time; null when unknown.
ResumeSession* resume_store_find(ResumeStore* s, const uint8_t* token);
// A new session with a fresh random token, of the current board; the oldest
// absent session goes when RESUME_SESSIONS_MAX are kept. Null when no random
// token can be had.
ResumeSession* resume_store_create(ResumeStore* s, const std::string& name, Client* link);
void resume_store_forget(ResumeStore* s, ResumeSession* session);
// A message of the session was accepted; board_written and board_size are the
// board's bytes in the file and with the frames pending.
void resume_store_accept(ResumeStore* s, ResumeSession* session, uint64_t board_written,
                         uint64_t board_size);
void resume_store_attach(ResumeStore* s, ResumeSession* session, Client* link);
void resume_store_detach(ResumeStore* s, ResumeSession* session, int64_t now);
// A restart vote began a new board (of that inode): the sessions present go
// on with it, the absent ones keep the old one.
void resume_store_restart(ResumeStore* s, uint64_t board_inode);
// Forgets the absent sessions kept longer than keep_seconds; how many.
size_t resume_store_sweep(ResumeStore* s, int64_t now);
// The inode of an open file, 0 when it cannot be read.
uint64_t resume_file_inode(int fd);
