#include "paint/canvas.h"

#include <cmath>
#include <utility>
#include <vector>

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

// The two dots of one step of a pass, in draw order.
struct Step {
  float x1, y1, x2, y2;
};

// One pass over rows row_step apart, steps col_step apart along each, four
// draws per step, painted or not. Dots of one pixel must land in draw order,
// but only dots a few pixels apart share one: so the right half of a row is
// painted side by side with the left half of the next, two independent chains
// of reads and writes, and every pixel still sees its dots in the same order.
template <class Deposit, class Place>
void weave_pass(const Deposit& out, Draws& draws, float row_step, float col_step, int width, int height,
                const typename Deposit::Ink& ink1, float weight1, const typename Deposit::Ink& ink2, float weight2,
                Place place) {
  const unsigned n = count_steps(col_step, width);
  if (n == 0 || !(0.0f < height)) return;
  // Narrow rows stay one chain: the halves must be wider than a dot's reach.
  const unsigned half = n >= 32 ? n / 2 : 0;
  std::vector<Step> rows[2] = {std::vector<Step>(n), std::vector<Step>(n)};
  auto fill = [&](std::vector<Step>& row, float y) {
    unsigned i = 0;
    for (float x = 0.0f; x < width; x = static_cast<float>(x + static_cast<double>(col_step))) {
      uint32_t d[4];
      for (uint32_t& v : d) v = draws.next();
      row[i++] = place(x, y, d);
    }
  };
  auto paint = [&](const Step& s) {
    out.splat(s.x1, s.y1, ink1, weight1);
    out.splat(s.x2, s.y2, ink2, weight2);
  };
  std::vector<Step>* cur = &rows[0];
  std::vector<Step>* next = &rows[1];
  float y = 0.0f;
  fill(*cur, y);
  for (unsigned i = 0; i < half; ++i) paint((*cur)[i]);
  for (;;) {
    float ny = static_cast<float>(y + static_cast<double>(row_step));
    bool more = ny < height;
    if (more) fill(*next, ny);
    unsigned lead = more ? half : 0;
    for (unsigned i = 0; half + i < n; ++i) {
      paint((*cur)[half + i]);
      if (i < lead) paint((*next)[i]);
    }
    if (!more) return;
    std::swap(cur, next);
    y = ny;
  }
}

// Rows 2.5 apart, then columns 2.5 apart.
template <class Deposit>
void weave_paper(const Deposit& out, int width, int height) {
  const typename Deposit::Ink grain = out.ink(GRAIN_COLOR.r, GRAIN_COLOR.g, GRAIN_COLOR.b);
  const typename Deposit::Ink light = out.ink(LIGHT_GRAIN_COLOR.r, LIGHT_GRAIN_COLOR.g, LIGHT_GRAIN_COLOR.b);
  Draws draws(4 * (count_steps(2.5f, height) * count_steps(1.0f, width) +
                   count_steps(1.0f, height) * count_steps(2.5f, width)));
  weave_pass(out, draws, 2.5f, 1.0f, width, height, grain, 0.2f, light, 0.1f,
             [](float x, float y, const uint32_t* d) {
               return Step{static_cast<float>(jitter(d[0]) + x - 0.5), static_cast<float>(jitter(d[1]) + y),
                           static_cast<float>(x + jitter(d[2]) - 0.5), static_cast<float>(y + jitter(d[3]) + 0.69)};
             });
  weave_pass(out, draws, 1.0f, 2.5f, width, height, light, 0.2f, grain, 0.1f,
             [](float x, float y, const uint32_t* d) {
               return Step{static_cast<float>(jitter(d[0]) + x + 0.69), static_cast<float>(jitter(d[1]) + y),
                           static_cast<float>(x + jitter(d[2]) - 0.5), static_cast<float>(y + jitter(d[3]))};
             });
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
