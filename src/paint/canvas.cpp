#include "paint/canvas.h"

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "paint/bmp_file.h"
#include "paint/deposit.h"
#include "paint/paper_dots.h"
#include "paint/paper_wide.h"
#include "paint/pixel.h"
#include "paint/random.h"

namespace {

struct Colour {
  float r, g, b;
};

constexpr Colour PAPER_COLOR = {232, 229, 227};
constexpr Colour GRAIN_COLOR = {186, 178, 171};
constexpr Colour LIGHT_GRAIN_COLOR = {255, 255, 255};

constexpr const char* BACKGROUND_FILE = "bg.bmp";

// Copies "bg.bmp" onto the image; false when there is no such picture.
bool copy_background(Image* image) {
  Image bg;
  if (!bmp_load(&bg, BACKGROUND_FILE)) return false;
  image_copy_all(&bg, image);
  image_destroy(&bg);
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
  // The next four draws; blocks hold whole fours when every caller takes four.
  const uint32_t* next4() {
    next();
    pos_ += 3;
    return buf_ + pos_ - 4;
  }

 private:
  static constexpr unsigned BLOCK = 1024;
  uint32_t buf_[BLOCK];
  unsigned pos_ = 0, len_ = 0, left_;
};

// One pass over rows row_step apart, steps col_step apart along each, four
// draws per step, painted or not. Dots of one pixel must land in draw order,
// but only dots a few pixels apart share one: so the right half of a row is
// painted side by side with the left half of the next, two independent chains
// of reads and writes, and every pixel still sees its dots in the same order.
template <class Deposit>
void weave_pass(const Deposit& out, Draws& draws, float row_step, float col_step, int width, int height,
                const typename Deposit::Ink& ink1, float weight1, const typename Deposit::Ink& ink2, float weight2,
                const paper::Offsets& offsets) {
  typedef paper::PaperDots<Deposit> Dots;
  typedef typename Dots::Item Item;
  const unsigned n = count_steps(col_step, width);
  if (n == 0 || !(0.0f < height)) return;
  // Narrow rows stay one chain: the halves must be wider than a dot's reach.
  const unsigned half = n >= 32 ? n / 2 : 0;
  std::vector<Item> rows[2] = {std::vector<Item>(n), std::vector<Item>(n)};
  auto fill = [&](std::vector<Item>& row, float y) {
    unsigned i = 0;
    for (float x = 0.0f; x < width; x = static_cast<float>(x + static_cast<double>(col_step)))
      row[i++] = Dots::place(out, x, y, draws.next4(), offsets, weight1, weight2);
  };
  auto paint = [&](const Item& s) { Dots::paint(out, s, ink1, weight1, ink2, weight2); };
  std::vector<Item>* cur = &rows[0];
  std::vector<Item>* next = &rows[1];
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
  weave_pass(out, draws, 2.5f, 1.0f, width, height, grain, 0.2f, light, 0.1f, paper::Offsets{-0.5, 0.0, -0.5, 0.69});
  weave_pass(out, draws, 1.0f, 2.5f, width, height, light, 0.2f, grain, 0.1f, paper::Offsets{0.69, 0.0, -0.5, 0.0});
}

}  // namespace

void resetCanvas(Image* image) {
  if (!image || copy_background(image)) return;
  paintPaper(image);
}

bool canvasHasBackground() {
  FILE* f = fopen(BACKGROUND_FILE, "rb");
  if (f) fclose(f);
  return f != nullptr;
}

void paintPaper(Image* image) {
  useCommandStream(0);
  image_fill(image, pack_pixel(static_cast<int>(PAPER_COLOR.r), static_cast<int>(PAPER_COLOR.g),
                               static_cast<int>(PAPER_COLOR.b)));
  paint_with_deposit(image, [image](const auto& out) { weave_paper(out, image->w, image->h); });
  useLocalStream();
}
