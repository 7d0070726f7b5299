#include "paint/canvas.h"

#include <cmath>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "paint/pixel.h"
#include "paint/random.h"
#include "paint/stroke.h"

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

// The paper's deposits on a memory bitmap, written straight into its lines.
// Same bounds test and the same arithmetic, in the same order, as splatPoint
// and blendPixel; only the per-pixel calls and the line switching are left out.
class LineDeposit {
 public:
  explicit LineDeposit(BITMAP* bmp) : LineDeposit(reinterpret_cast<uint32_t**>(bmp->line), bmp->w, bmp->h) {}
  LineDeposit(uint32_t** lines, int w, int h) : lines_(lines), w_(w), h_(h) {}

  typedef Colour Ink;
  static Ink ink(const Colour& c) { return c; }

  void splat(float x, float y, const Colour& c, float weight) {
    if (!(x >= 0 && y >= 0 && x + 1.0001 < w_ && y + 1.0001 < h_)) return;
    // Non-negative here, so truncation is the floor.
    int ix = static_cast<int>(x), iy = static_cast<int>(y);
    float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
    uint32_t* top = lines_[iy] + ix;
    uint32_t* bottom = lines_[iy + 1] + ix;
    blend(top, c, static_cast<float>((1.0 - fx) * (1.0 - fy) * weight));
    blend(top + 1, c, static_cast<float>(fx * (1.0 - fy) * weight));
    blend(bottom + 1, c, static_cast<float>(static_cast<double>(fx) * fy * weight));
    blend(bottom, c, static_cast<float>((1.0 - fx) * fy * weight));
  }

 private:
  static void blend(uint32_t* p, const Colour& c, float coverage) {
    if (coverage > 0.999f) {
      *p = pack_pixel(static_cast<int>(c.r), static_cast<int>(c.g), static_cast<int>(c.b));
      return;
    }
    uint32_t old = *p;
    double keep = 1.0 - coverage;
    *p = pack_pixel(static_cast<int>(pixel_red(old) * keep + static_cast<double>(c.r) * coverage + 0.5),
                    static_cast<int>(pixel_green(old) * keep + static_cast<double>(c.g) * coverage + 0.5),
                    static_cast<int>(pixel_blue(old) * keep + static_cast<double>(c.b) * coverage + 0.5));
  }

  uint32_t** lines_;
  int w_, h_;
};

#ifdef __SSE2__
// The same deposit with the four channel bytes of a pixel blended side by
// side, for the layouts where the channels fill the three low bytes in any
// order and the spare byte is the top one (0 after the fill, and 0 it stays:
// 0 * keep + 0 * coverage + 0.5 truncates to 0). Packed double operations
// round each lane exactly as the scalar ones do.
class PackedDeposit {
 public:
  static bool fits_layout() {
    int r = _rgb_r_shift_32, g = _rgb_g_shift_32, b = _rgb_b_shift_32;
    return r + g + b == 24 && r % 8 == 0 && g % 8 == 0 && b % 8 == 0 && r <= 16 && g <= 16 && b <= 16 &&
           r != g && g != b && r != b;
  }

  explicit PackedDeposit(BITMAP* bmp) : lines_(reinterpret_cast<uint32_t**>(bmp->line)), w_(bmp->w), h_(bmp->h) {}

  // A colour with its channels in the byte lanes of the layout.
  struct Ink {
    Colour colour;
    __m128d lo, hi;
  };
  static Ink ink(const Colour& c) {
    double lane[4];
    lane[_rgb_r_shift_32 / 8] = c.r;
    lane[_rgb_g_shift_32 / 8] = c.g;
    lane[_rgb_b_shift_32 / 8] = c.b;
    lane[3] = 0.0;
    return Ink{c, _mm_loadu_pd(lane), _mm_loadu_pd(lane + 2)};
  }

  void splat(float x, float y, const Ink& ink, float weight) {
    if (!(x >= 0 && y >= 0 && x + 1.0001 < w_ && y + 1.0001 < h_)) return;
    int ix = static_cast<int>(x), iy = static_cast<int>(y);
    float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
    // ((1 - fx) (1 - fy)) w, (fx (1 - fy)) w on the top row, ((1 - fx) fy) w,
    // (fx fy) w on the bottom one, each rounded to a float as blendPixel's
    // argument would be.
    const __m128d w = _mm_set1_pd(weight);
    __m128d across = _mm_set_pd(fx, 1.0 - fx);
    __m128d top_cov = _mm_mul_pd(_mm_mul_pd(across, _mm_set1_pd(1.0 - fy)), w);
    __m128d bottom_cov = _mm_mul_pd(_mm_mul_pd(across, _mm_set1_pd(fy)), w);
    __m128 covs = _mm_movelh_ps(_mm_cvtpd_ps(top_cov), _mm_cvtpd_ps(bottom_cov));
    uint32_t* top = lines_[iy] + ix;
    uint32_t* bottom = lines_[iy + 1] + ix;
    if (_mm_movemask_ps(_mm_cmpgt_ps(covs, _mm_set1_ps(0.999f)))) {
      // A written pixel ignores the old one; rare enough to take the plain way.
      LineDeposit(lines_, w_, h_).splat(x, y, ink.colour, weight);
      return;
    }
    blend_pair(top, ink, _mm_cvtps_pd(covs));
    blend_pair(bottom, ink, _mm_cvtps_pd(_mm_movehl_ps(covs, covs)));
  }

 private:
  // Blends the two neighbouring pixels p[0] and p[1] with the coverages in
  // the low and high lane of cov.
  static void blend_pair(uint32_t* p, const Ink& ink, __m128d cov) {
    const __m128i zero = _mm_setzero_si128();
    __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    __m128i words = _mm_unpacklo_epi8(bytes, zero);
    __m128i first = blend_pixel(_mm_unpacklo_epi16(words, zero), ink, _mm_unpacklo_pd(cov, cov));
    __m128i second = blend_pixel(_mm_unpackhi_epi16(words, zero), ink, _mm_unpackhi_pd(cov, cov));
    __m128i packed = _mm_packus_epi16(_mm_packs_epi32(first, second), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
  }

  // old * (1 - coverage) + colour * coverage + 0.5, truncated, per byte lane.
  static __m128i blend_pixel(__m128i old, const Ink& ink, __m128d cov) {
    const __m128d half = _mm_set1_pd(0.5);
    __m128d keep = _mm_sub_pd(_mm_set1_pd(1.0), cov);
    __m128d old_lo = _mm_cvtepi32_pd(old);
    __m128d old_hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(old, _MM_SHUFFLE(3, 2, 3, 2)));
    __m128d lo = _mm_add_pd(_mm_add_pd(_mm_mul_pd(old_lo, keep), _mm_mul_pd(ink.lo, cov)), half);
    __m128d hi = _mm_add_pd(_mm_add_pd(_mm_mul_pd(old_hi, keep), _mm_mul_pd(ink.hi, cov)), half);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
  }

  uint32_t** lines_;
  int w_, h_;
};
#endif

// Any other bitmap goes through the library's line switching.
struct BankedDeposit {
  BITMAP* bmp;
  typedef Colour Ink;
  static Ink ink(const Colour& c) { return c; }
  void splat(float x, float y, const Colour& c, float weight) { splatPoint(bmp, x, y, c.r, c.g, c.b, weight); }
};

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
void weave_paper(Deposit& out, int width, int height) {
  const typename Deposit::Ink grain = out.ink(GRAIN_COLOR), light = out.ink(LIGHT_GRAIN_COLOR);
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
  if (!is_memory_bitmap(bmp) || bitmap_color_depth(bmp) != 32) {
    BankedDeposit out{bmp};
    weave_paper(out, bmp->w, bmp->h);
#ifdef __SSE2__
  } else if (PackedDeposit::fits_layout()) {
    PackedDeposit out(bmp);
    weave_paper(out, bmp->w, bmp->h);
#endif
  } else {
    LineDeposit out(bmp);
    weave_paper(out, bmp->w, bmp->h);
  }
  useLocalStream();
}
