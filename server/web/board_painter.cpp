#include "board_painter.h"

#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "net/command_run.h"
#include "paint/canvas.h"
#include "paint/png_read.h"
#include "paint/png_write.h"

struct BoardPainter {
  std::thread::id owner;
  Image paper = {};  // the empty picture, woven once
  Image canvas = {};
};

static std::atomic<bool> engine_claimed{false};

// Any use from another thread than the creator's is refused: the canvas is
// drawn by that thread alone (with the one worker its runs of commands share).
static bool mine(const BoardPainter* p) { return p && p->owner == std::this_thread::get_id(); }

BoardPainter* painter_create() {
  if (engine_claimed.exchange(true)) return nullptr;
  BoardPainter* p = new BoardPainter;
  p->owner = std::this_thread::get_id();
  if (!image_create(&p->paper, CANVAS_WIDTH, CANVAS_HEIGHT) ||
      !image_create(&p->canvas, CANVAS_WIDTH, CANVAS_HEIGHT)) {
    painter_destroy(p);
    return nullptr;
  }
  paintPaper(&p->paper);
  painter_reset(p);
  return p;
}

void painter_destroy(BoardPainter* p) {
  if (!mine(p)) return;
  image_destroy(&p->paper);
  image_destroy(&p->canvas);
  delete p;
  engine_claimed = false;  // a later painter may draw again
}

int painter_reset(BoardPainter* p) {
  if (!mine(p)) return 0;
  image_copy_all(&p->paper, &p->canvas);
  return 1;
}

size_t painter_apply(BoardPainter* p, const uint8_t* bytes, size_t length) {
  return mine(p) ? apply_frames(&p->canvas, bytes, length) : 0;
}

int painter_png(BoardPainter* p, std::string* out) {
  if (!mine(p)) return 0;
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  if (!f) return 0;
  int ok = png_write(&p->canvas, f);
  ok = fclose(f) == 0 && ok;
  if (ok) out->assign(data, size);
  free(data);
  return ok;
}

uint64_t painter_digest(BoardPainter* p) { return mine(p) ? image_digest(&p->canvas) : 0; }

int painter_load_png(BoardPainter* p, const uint8_t* png, size_t length, uint64_t digest) {
  if (!mine(p)) return 0;
  if (png_read(png, length, CANVAS_WIDTH, CANVAS_HEIGHT, &p->canvas) && image_digest(&p->canvas) == digest) return 1;
  painter_reset(p);
  return 0;
}
