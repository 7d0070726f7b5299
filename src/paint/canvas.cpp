#include "paint/canvas.h"

#include <cmath>
#include <utility>
#include <vector>

#include "paint/bmp_file.h"
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

// Copies "bg.bmp" onto the image; false when there is no such picture.
bool copy_background(Image* image) {
  Image bg;
  if (!bmp_load(&bg, "bg.bmp")) return false;
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

inline double jitter(uint32_t d) { return (random_unit(d) - 0.5) * 1.4; }

// The two dots of one step of a pass, in draw order.
struct Step {
  float x1, y1, x2, y2;
};

// What a pass adds to the jittered place of each dot of a step.
struct Offsets {
  double x1, y1, x2, y2;
};

// A step's dots from its four draws d at (x, y), and how they are laid: any
// deposit places and splats them one by one.
template <class Deposit>
struct PaperDots {
  typedef Step Item;
  static Item place(const Deposit&, float x, float y, const uint32_t* d, const Offsets& o, float, float) {
    return Step{static_cast<float>(jitter(d[0]) + x + o.x1), static_cast<float>(jitter(d[1]) + y + o.y1),
                static_cast<float>(x + jitter(d[2]) + o.x2), static_cast<float>(y + jitter(d[3]) + o.y2)};
  }
  template <class Ink>
  static void paint(const Deposit& out, const Item& s, const Ink& ink1, float weight1, const Ink& ink2,
                    float weight2) {
    out.splat(s.x1, s.y1, ink1, weight1);
    out.splat(s.x2, s.y2, ink2, weight2);
  }
};

#ifdef EASEL_WIDE
// With AVX2 a step's four places, both dots' cells and their eight coverages
// come from one set of lanes, each lane doing the plain double operations in
// their order and rounding where they round; only the blends are left per dot.
template <>
struct PaperDots<WideDeposit> {
  struct Item {
    Step at;
    int ix[2], iy[2];
    bool on[2];
    __m128 covs[2];
  };
  EASEL_WIDE_TARGET static Item place(const WideDeposit& out, float x, float y, const uint32_t* d, const Offsets& o,
                                      float weight1, float weight2) {
    // Unsigned draws to doubles, exactly: the top bit flipped, converted signed, 2^31 added back.
    __m128i draws = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), _mm_set1_epi32(INT32_MIN));
    __m256d u = _mm256_add_pd(_mm256_cvtepi32_pd(draws), _mm256_set1_pd(2147483648.0));
    __m256d j = _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(u, _mm256_set1_pd(RANDOM_UNIT)), _mm256_set1_pd(0.5)),
                              _mm256_set1_pd(1.4));
    j = _mm256_add_pd(_mm256_add_pd(j, _mm256_set_pd(y, x, y, x)), _mm256_set_pd(o.y2, o.x2, o.y1, o.x1));
    __m128 at = _mm256_cvtpd_ps(j);
    Item it;
    _mm_storeu_ps(&it.at.x1, at);
    // splat_cell's test, cell and fractions for both dots.
    __m256d wide = _mm256_cvtps_pd(at);
    __m256d size = _mm256_set_pd(out.image->h, out.image->w, out.image->h, out.image->w);
    __m256d inside = _mm256_and_pd(_mm256_cmp_pd(wide, _mm256_setzero_pd(), _CMP_GE_OQ),
                                   _mm256_cmp_pd(_mm256_add_pd(wide, _mm256_set1_pd(1.0001)), size, _CMP_LT_OQ));
    const int mask = _mm256_movemask_pd(inside);
    it.on[0] = (mask & 3) == 3;
    it.on[1] = (mask & 12) == 12;
    __m128i cell = _mm_cvttps_epi32(at);
    alignas(16) int cells[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(cells), cell);
    it.ix[0] = cells[0], it.iy[0] = cells[1], it.ix[1] = cells[2], it.iy[1] = cells[3];
    __m256d frac = _mm256_cvtps_pd(_mm_sub_ps(at, _mm_cvtepi32_ps(cell)));
    // splat_coverages for both dots: the x fractions then the y ones, paired per dot.
    const __m256d one = _mm256_set1_pd(1.0);
    __m256d fx = _mm256_movedup_pd(frac), fy = _mm256_permute_pd(frac, 0xF);
    __m256d across = _mm256_blend_pd(_mm256_sub_pd(one, fx), fx, 0xA);
    __m256d w = _mm256_set_pd(weight2, weight2, weight1, weight1);
    __m128 top = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(across, _mm256_sub_pd(one, fy)), w));
    __m128 bottom = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_mul_pd(across, fy), w));
    it.covs[0] = _mm_movelh_ps(top, bottom);
    it.covs[1] = _mm_movehl_ps(bottom, top);
    return it;
  }
  EASEL_WIDE_TARGET static void dot(const WideDeposit& out, float x, float y, bool on, int ix, int iy, __m128 covs,
                                    const WideInk& ink, float weight) {
    if (!on) return;
    if (_mm_movemask_ps(_mm_cmpgt_ps(covs, _mm_set1_ps(0.999f)))) {
      out.splat(x, y, ink, weight);
      return;
    }
    // The paper's inks and weights keep every channel within a byte.
    uint32_t *top = image_row(out.image, iy) + ix, *bottom = image_row(out.image, iy + 1) + ix;
    if (ink.bytes)
      blend_square_bytes(top, bottom, covs, ink);
    else
      blend_square_wide(top, bottom, covs, ink);
  }
  EASEL_WIDE_TARGET static void paint(const WideDeposit& out, const Item& s, const WideInk& ink1, float weight1,
                                      const WideInk& ink2, float weight2) {
    dot(out, s.at.x1, s.at.y1, s.on[0], s.ix[0], s.iy[0], s.covs[0], ink1, weight1);
    dot(out, s.at.x2, s.at.y2, s.on[1], s.ix[1], s.iy[1], s.covs[1], ink2, weight2);
  }
};
#endif

// One pass over rows row_step apart, steps col_step apart along each, four
// draws per step, painted or not. Dots of one pixel must land in draw order,
// but only dots a few pixels apart share one: so the right half of a row is
// painted side by side with the left half of the next, two independent chains
// of reads and writes, and every pixel still sees its dots in the same order.
template <class Deposit>
void weave_pass(const Deposit& out, Draws& draws, float row_step, float col_step, int width, int height,
                const typename Deposit::Ink& ink1, float weight1, const typename Deposit::Ink& ink2, float weight2,
                const Offsets& offsets) {
  typedef PaperDots<Deposit> Dots;
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
  weave_pass(out, draws, 2.5f, 1.0f, width, height, grain, 0.2f, light, 0.1f, Offsets{-0.5, 0.0, -0.5, 0.69});
  weave_pass(out, draws, 1.0f, 2.5f, width, height, light, 0.2f, grain, 0.1f, Offsets{0.69, 0.0, -0.5, 0.0});
}

}  // namespace

void resetCanvas(Image* image) {
  if (!image || copy_background(image)) return;
  paintPaper(image);
}

void paintPaper(Image* image) {
  useCommandStream(0);
  image_fill(image, pack_pixel(static_cast<int>(PAPER_COLOR.r), static_cast<int>(PAPER_COLOR.g),
                               static_cast<int>(PAPER_COLOR.b)));
  paint_with_deposit(image, [image](const auto& out) { weave_paper(out, image->w, image->h); });
  useLocalStream();
}
