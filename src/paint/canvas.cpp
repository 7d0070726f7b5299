#include "paint/canvas.h"

#include <cmath>

#include "paint/deposit.h"
#include "paint/pixel.h"
#include "paint/random.h"

namespace {

struct Colour {
  float r, g, b;
};

constexpr Colour PAPER_COLOR = {232, 229, 227};
constexpr Colour GRAIN_COLOR = {186, 178, 171};
constexpr Colour LIGHT_GRAIN_COLOR = {255, 255, 255};

// Copies "bg.bmp" onto the bitmap; false when there is no such picture.
bool copy_background(BITMAP* bmp) {
  // Loaded at 32 bits whatever depth is current, so the copy converts nothing.
  int depth = get_color_depth();
  set_color_depth(32);
  BITMAP* bg = load_bitmap("bg.bmp", nullptr);
  set_color_depth(depth);
  if (!bg) return false;
  blit(bg, bmp, 0, 0, 0, 0, bg->w, bg->h);
  destroy_bitmap(bg);
  return true;
}

// Steps of a loop "for v = 0, step, 2 step, ... while v < limit" with a float counter.
unsigned count_steps(float step, int limit) {
  unsigned n = 0;
  for (float v = 0.0f; v < limit; v = static_cast<float>(v + static_cast<double>(step))) ++n;
  return n;
}

// The command stream's draws in blocks, never more than the paper uses.
class Draws {
 public:
  explicit Draws(unsigned total) : left_(total) {}
  uint32_t next() {
    if (pos_ == len_) {
      len_ = left_ < BLOCK ? left_ : BLOCK;
      nextRandomBlock(buf_, len_);
      left_ -= len_;
      pos_ = 0;
    }
    return buf_[pos_++];
  }

 private:
  static constexpr unsigned BLOCK = 1024;
  uint32_t buf_[BLOCK];
  unsigned pos_ = 0, len_ = 0, left_;
};

inline double jitter(uint32_t d) { return (random_unit(d) - 0.5) * 1.4; }

// Rows 2.5 apart, then columns 2.5 apart; four draws per step, painted or not.
template <class Deposit>
void weave_paper(const Deposit& out, int width, int height) {
  const typename Deposit::Ink grain = out.ink(GRAIN_COLOR.r, GRAIN_COLOR.g, GRAIN_COLOR.b);
  const typename Deposit::Ink light = out.ink(LIGHT_GRAIN_COLOR.r, LIGHT_GRAIN_COLOR.g, LIGHT_GRAIN_COLOR.b);
  Draws draws(4 * (count_steps(2.5f, height) * count_steps(1.0f, width) +
                   count_steps(1.0f, height) * count_steps(2.5f, width)));
  for (float y = 0.0f; y < height; y = static_cast<float>(y + 2.5)) {
    for (float x = 0.0f; x < width; x = static_cast<float>(x + 1.0)) {
      uint32_t d1 = draws.next();
      uint32_t d2 = draws.next();
      out.splat(static_cast<float>(jitter(d1) + x - 0.5), static_cast<float>(jitter(d2) + y), grain, 0.2f);
      uint32_t d3 = draws.next();
      uint32_t d4 = draws.next();
      out.splat(static_cast<float>(x + jitter(d3) - 0.5), static_cast<float>(y + jitter(d4) + 0.69),
                light, 0.1f);
    }
  }
  for (float y = 0.0f; y < height; y = static_cast<float>(y + 1.0)) {
    for (float x = 0.0f; x < width; x = static_cast<float>(x + 2.5)) {
      uint32_t d1 = draws.next();
      uint32_t d2 = draws.next();
      out.splat(static_cast<float>(jitter(d1) + x + 0.69), static_cast<float>(jitter(d2) + y), light,
                0.2f);
      uint32_t d3 = draws.next();
      uint32_t d4 = draws.next();
      out.splat(static_cast<float>(x + jitter(d3) - 0.5), static_cast<float>(y + jitter(d4)), grain, 0.1f);
    }
  }
}

}  // namespace

void resetCanvas(BITMAP* bmp) {
  if (!bmp || copy_background(bmp)) return;
  paintPaper(bmp);
}

void paintPaper(BITMAP* bmp) {
  useCommandStream(0);
  clear_to_color(bmp, pack_pixel(static_cast<int>(PAPER_COLOR.r), static_cast<int>(PAPER_COLOR.g),
                                 static_cast<int>(PAPER_COLOR.b)));
  paint_with_deposit(bmp, [bmp](const auto& out) { weave_paper(out, bmp->w, bmp->h); });
  useLocalStream();
}
