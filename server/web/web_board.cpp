#include "web_board.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "base/digest.h"
#include "board_painter.h"
#include "checkpoint_file.h"
#include "net/layout.h"
#include "net/message.h"
#include "server_log.h"

namespace {

// The picture is kept up to date this long after the last request for it.
constexpr double INTEREST_SECONDS = 30;
// The painter reads the board file in pieces of this size.
constexpr size_t READ_PIECE = 1 << 20;

}  // namespace

struct WebBoard {
  std::thread painter;
  // The relay loop's own record of what it handed over last.
  std::shared_ptr<BoardFile> given_file;
  size_t given_length = SIZE_MAX;

  std::mutex feed_lock;  // held for pointer and number copies only
  BoardSnapshot fed;

  std::mutex picture_lock;
  std::condition_variable picture_changed;
  BoardPicture picture;
  double interest_until = 0;
  bool png_wanted = false;  // a request found the picture behind the board
  bool stopping = false;

  // Checkpoints: every this many commands (0: none), kept in this file.
  std::string checkpoint_file;
  size_t checkpoint_every = 0;
  std::shared_ptr<const Checkpoint> checkpoint;  // under feed_lock
};

namespace {

// How far the painter has drawn the board: bytes, commands and their digest.
struct Drawn {
  size_t bytes = 0, commands = 0;
  uint64_t history = DIGEST_START;
};

size_t frames_in(const uint8_t* bytes, size_t length) {
  size_t count = 0;
  for (size_t at = 0; at + FRAME_HEADER_SIZE <= length; at += FRAME_HEADER_SIZE + frame_payload_length(bytes + at))
    ++count;
  return count;
}

// Applies the board file's frames from what is drawn to length; returns 0
// when the file cannot be read.
int draw_from_file(BoardPainter* p, const BoardFile& file, Drawn* drawn, size_t length, std::vector<uint8_t>* piece) {
  while (drawn->bytes < length) {
    size_t want = std::min(READ_PIECE, length - drawn->bytes);
    piece->resize(want);
    ssize_t got = pread(file.fd, piece->data(), want, off_t(drawn->bytes));
    if (got <= 0) return 0;
    size_t used = painter_apply(p, piece->data(), size_t(got));
    if (used == 0) return 0;  // the published length ends on a whole frame
    drawn->bytes += used;
    drawn->commands += frames_in(piece->data(), used);
    drawn->history = digest_bytes(drawn->history, piece->data(), used);
  }
  return 1;
}

void publish(WebBoard* b, std::shared_ptr<const Checkpoint> c) {
  std::lock_guard<std::mutex> hold(b->feed_lock);
  b->checkpoint.swap(c);
}

// The checkpoint kept from an earlier run, when it is this board's: served at
// once, and the painter goes on from its picture instead of the paper.
void take_saved_checkpoint(WebBoard* b, BoardPainter* p, const BoardSnapshot& s, Drawn* drawn) {
  auto c = std::make_shared<Checkpoint>();
  std::string why;
  if (!checkpoint_load(b->checkpoint_file, s.file, s.length, c.get(), &why)) {
    if (!why.empty()) server_log("the checkpoint %s %s: it is made anew", b->checkpoint_file.c_str(), why.c_str());
    return;
  }
  const std::vector<uint8_t> payload = checkpoint_payload(*c);
  if (painter_load_png(p, payload.data() + CHECKPOINT_HEAD_SIZE, payload.size() - CHECKPOINT_HEAD_SIZE,
                       c->head.picture)) {
    drawn->bytes = c->offset;
    drawn->commands = c->head.commands;
    drawn->history = c->head.history;
  }
  server_log("checkpoint of %u commands from %s", unsigned(c->head.commands), b->checkpoint_file.c_str());
  publish(b, std::move(c));
}

// The picture after what is drawn becomes the checkpoint, served and saved.
void make_checkpoint(WebBoard* b, BoardPainter* p, const BoardSnapshot& s, const Drawn& drawn) {
  std::string png;
  auto c = std::make_shared<Checkpoint>();
  const CheckpointHead head = {uint32_t(drawn.commands), drawn.bytes, drawn.history, painter_digest(p), 0};
  if (!painter_png(p, &png) || !checkpoint_make(c.get(), s.file, drawn.bytes, head, png)) {
    server_log("error: no checkpoint of the board could be made");
    return;
  }
  if (!checkpoint_save(*c, b->checkpoint_file))
    server_log("error: cannot write the checkpoint %s: %s", b->checkpoint_file.c_str(), strerror(errno));
  else
    server_log("checkpoint of %u commands, %zu bytes, in %s", unsigned(c->head.commands), c->frames.size(),
               b->checkpoint_file.c_str());
  publish(b, std::move(c));
}

// New commands are applied in order from the board file, a new board starts
// from the paper, and a picture is encoded when one is asked for.
// What the painter thread keeps from one round to the next.
struct PaintState {
  uint64_t epoch = UINT64_MAX, encoded_epoch = 0;
  size_t encoded_length = SIZE_MAX, checkpoint_commands = 0;
  Drawn drawn;
  bool unreadable = false, saved_read = false;
};

// The board as the snapshot has it: a new board starts on the paper, the
// saved checkpoint is taken once, the picture drawn as far as wanted (a
// picture asked for, someone looking, a checkpoint due), then the
// checkpoint made. The PNG when one was wanted and the picture changed.
std::shared_ptr<std::string> paint_round(WebBoard* b, BoardPainter* p, PaintState* st, bool wanted) {
  BoardSnapshot s = web_board_snapshot(b);
  if (s.epoch != st->epoch) {
    painter_reset(p);
    *st = PaintState{s.epoch, st->encoded_epoch, st->encoded_length, 0, Drawn{}, false, st->saved_read};
    // A new board (a restart): the old one's checkpoint stands for nothing now.
    if (st->saved_read && b->checkpoint_every) {
      publish(b, nullptr);
      unlink(b->checkpoint_file.c_str());
    }
  }
  if (s.file && !st->saved_read && b->checkpoint_every) {
    st->saved_read = true;
    take_saved_checkpoint(b, p, s, &st->drawn);
    st->checkpoint_commands = st->drawn.commands;
  }
  const bool checkpoint_due = b->checkpoint_every && s.commands >= st->checkpoint_commands + b->checkpoint_every;
  std::vector<uint8_t> piece;
  if ((wanted || checkpoint_due || now_seconds() <= b->interest_until) && s.file && !st->unreadable &&
      !draw_from_file(p, *s.file, &st->drawn, s.length, &piece)) {
    server_log("error: the board's painter cannot read the board file");
    st->unreadable = true;
  }
  if (checkpoint_due && !st->unreadable && st->drawn.bytes == s.length) {
    make_checkpoint(b, p, s, st->drawn);
    st->checkpoint_commands = st->drawn.commands;
  }
  if (!wanted || (st->epoch == st->encoded_epoch && st->drawn.bytes == st->encoded_length)) return nullptr;
  auto png = std::make_shared<std::string>();
  if (!painter_png(p, png.get())) png.reset();
  st->encoded_epoch = st->epoch;
  st->encoded_length = st->drawn.bytes;
  return png;
}

void paint_loop(WebBoard* b) {
  setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
  BoardPainter* p = painter_create();
  std::unique_lock<std::mutex> hold(b->picture_lock);
  if (!p) {
    server_log("error: the web view cannot draw the board");
    b->picture.failed = true;
    return;
  }
  PaintState st;
  while (!b->stopping) {
    bool wanted = b->png_wanted;
    b->png_wanted = false;
    hold.unlock();
    std::shared_ptr<std::string> png;
    // Without memory the picture waits; the relay goes on.
    try {
      png = paint_round(b, p, &st, wanted);
    } catch (const std::bad_alloc&) {
      server_log("error: the board's painter has no memory to draw the board");
    }
    hold.lock();
    if (png) {
      b->picture.png = png;
      b->picture.epoch = st.epoch;
      b->picture.length = st.drawn.bytes;
    }
    b->picture_changed.wait_for(hold, std::chrono::milliseconds(250),
                                [b] { return b->stopping || b->png_wanted; });
  }
  hold.unlock();
  painter_destroy(p);
}

}  // namespace

WebBoard* web_board_start(const std::string& checkpoint_file, size_t checkpoint_every) {
  WebBoard* b = new WebBoard;
  b->checkpoint_file = checkpoint_file;
  b->checkpoint_every = checkpoint_every;
  b->fed.users = std::make_shared<const std::vector<std::string>>();
  b->painter = std::thread(paint_loop, b);
  return b;
}

void web_board_stop(WebBoard* b) {
  if (!b) return;
  {
    std::lock_guard<std::mutex> hold(b->picture_lock);
    b->stopping = true;
    b->picture_changed.notify_all();
  }
  b->painter.join();
  delete b;
}

void web_board_feed(WebBoard* b, const std::shared_ptr<BoardFile>& file, size_t length, size_t commands) {
  if (file == b->given_file && length == b->given_length) return;
  bool new_board = file != b->given_file;
  b->given_file = file;
  b->given_length = length;
  std::lock_guard<std::mutex> hold(b->feed_lock);
  if (new_board && b->fed.file) b->fed.epoch++;
  b->fed.file = file;
  b->fed.length = length;
  b->fed.commands = commands;
}

void web_board_users(WebBoard* b, std::vector<std::string> names) {
  std::shared_ptr<const std::vector<std::string>> fresh =
      std::make_shared<const std::vector<std::string>>(std::move(names));
  std::lock_guard<std::mutex> hold(b->feed_lock);
  b->fed.users.swap(fresh);
}

BoardSnapshot web_board_snapshot(WebBoard* b) {
  std::lock_guard<std::mutex> hold(b->feed_lock);
  return b->fed;
}

void web_board_look(WebBoard* b) {
  std::lock_guard<std::mutex> hold(b->picture_lock);
  b->interest_until = now_seconds() + INTEREST_SECONDS;
  b->picture_changed.notify_all();
}

BoardPicture web_board_picture(WebBoard* b, const BoardSnapshot& s) {
  web_board_look(b);
  std::lock_guard<std::mutex> hold(b->picture_lock);
  const BoardPicture& p = b->picture;
  if (!p.png || p.epoch != s.epoch || p.length != s.length) {
    b->png_wanted = true;
    b->picture_changed.notify_all();
  }
  return p;
}

std::shared_ptr<const Checkpoint> web_board_checkpoint(WebBoard* b) {
  std::lock_guard<std::mutex> hold(b->feed_lock);
  return b->checkpoint;
}
