#include "web_board.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "board_painter.h"
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
};

namespace {

// Applies the board file's frames from *drawn to length; returns 0 when the
// file cannot be read.
int draw_from_file(BoardPainter* p, const BoardFile& file, size_t* drawn, size_t length,
                   std::vector<uint8_t>* piece) {
  while (*drawn < length) {
    size_t want = std::min(READ_PIECE, length - *drawn);
    piece->resize(want);
    ssize_t got = pread(file.fd, piece->data(), want, off_t(*drawn));
    if (got <= 0) return 0;
    size_t used = painter_apply(p, piece->data(), size_t(got));
    if (used == 0) return 0;  // the published length ends on a whole frame
    *drawn += used;
  }
  return 1;
}

// New commands are applied in order from the board file, a new board starts
// from the paper, and a picture is encoded when one is asked for.
void paint_loop(WebBoard* b) {
  setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 19);
  BoardPainter* p = painter_create();
  std::unique_lock<std::mutex> hold(b->picture_lock);
  if (!p) {
    server_log("error: the web view cannot draw the board");
    b->picture.failed = true;
    return;
  }
  uint64_t epoch = UINT64_MAX, encoded_epoch = 0;
  size_t drawn = 0, encoded_length = SIZE_MAX;
  bool unreadable = false;
  std::vector<uint8_t> piece;
  while (!b->stopping) {
    bool wanted = b->png_wanted;
    b->png_wanted = false;
    if (wanted || now_seconds() <= b->interest_until) {
      hold.unlock();
      BoardSnapshot s = web_board_snapshot(b);
      std::shared_ptr<std::string> png;
      // Without memory the picture waits; the relay goes on.
      try {
        if (s.epoch != epoch) {
          painter_reset(p);
          epoch = s.epoch;
          drawn = 0;
          unreadable = false;
        }
        if (s.file && !unreadable && !draw_from_file(p, *s.file, &drawn, s.length, &piece)) {
          server_log("error: the web view cannot read the board file");
          unreadable = true;
        }
        std::vector<uint8_t>().swap(piece);
        if (wanted && (epoch != encoded_epoch || drawn != encoded_length)) {
          png = std::make_shared<std::string>();
          if (!painter_png(p, png.get())) png.reset();
          encoded_epoch = epoch;
          encoded_length = drawn;
        }
      } catch (const std::bad_alloc&) {
        server_log("error: the web view has no memory to draw the board");
        png.reset();
      }
      hold.lock();
      if (png) {
        b->picture.png = png;
        b->picture.epoch = epoch;
        b->picture.length = drawn;
      }
    }
    b->picture_changed.wait_for(hold, std::chrono::milliseconds(250),
                                [b] { return b->stopping || b->png_wanted; });
  }
  hold.unlock();
  painter_destroy(p);
}

}  // namespace

WebBoard* web_board_start() {
  WebBoard* b = new WebBoard;
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
