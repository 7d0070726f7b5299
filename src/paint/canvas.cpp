#include "paint/canvas.h"

#include <cmath>

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
// Same tests and the same arithmetic, in the same order, as splatPoint and
// blendPixel; only the per-pixel calls and line switching are left out.
class LineDeposit {
 public:
  explicit LineDeposit(BITMAP* bmp) : lines_(reinterpret_cast<uint32_t**>(bmp->line)), w_(bmp->w), h_(bmp->h) {}

  void splat(float x, float y, const Colour& c, float weight) {
    if (!(x >= 0 && y >= 0 && x + 1.0001 < w_ && y + 1.0001 < h_)) return;
    float x0 = std::floor(x), y0 = std::floor(y);
    float fx = x - x0, fy = y - y0;
    int ix = static_cast<int>(x0), iy = static_cast<int>(y0);
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
    int r = static_cast<int>(((old >> _rgb_r_shift_32) & 0xFF) * keep + static_cast<double>(c.r) * coverage + 0.5);
    int g = static_cast<int>(((old >> _rgb_g_shift_32) & 0xFF) * keep + static_cast<double>(c.g) * coverage + 0.5);
    int b = static_cast<int>(((old >> _rgb_b_shift_32) & 0xFF) * keep + static_cast<double>(c.b) * coverage + 0.5);
    *p = (static_cast<uint32_t>(r) << _rgb_r_shift_32) | (static_cast<uint32_t>(g) << _rgb_g_shift_32) |
         (static_cast<uint32_t>(b) << _rgb_b_shift_32);
  }

  uint32_t** lines_;
  int w_, h_;
};

// Any other bitmap goes through the library's line switching.
struct BankedDeposit {
  BITMAP* bmp;
  void splat(float x, float y, const Colour& c, float weight) { splatPoint(bmp, x, y, c.r, c.g, c.b, weight); }
};

inline double jitter(uint32_t d) { return (random_unit(d) - 0.5) * 1.4; }

// Rows 2.5 apart, then columns 2.5 apart; four draws per step, painted or not.
template <class Deposit>
void weave_paper(Deposit& out, int width, int height) {
  for (float y = 0.0f; y < height; y = static_cast<float>(y + 2.5)) {
    for (float x = 0.0f; x < width; x = static_cast<float>(x + 1.0)) {
      uint32_t d1 = nextRandom();
      uint32_t d2 = nextRandom();
      out.splat(static_cast<float>(jitter(d1) + x - 0.5), static_cast<float>(jitter(d2) + y), GRAIN_COLOR, 0.2f);
      uint32_t d3 = nextRandom();
      uint32_t d4 = nextRandom();
      out.splat(static_cast<float>(x + jitter(d3) - 0.5), static_cast<float>(y + jitter(d4) + 0.69),
                LIGHT_GRAIN_COLOR, 0.1f);
    }
  }
  for (float y = 0.0f; y < height; y = static_cast<float>(y + 1.0)) {
    for (float x = 0.0f; x < width; x = static_cast<float>(x + 2.5)) {
      uint32_t d1 = nextRandom();
      uint32_t d2 = nextRandom();
      out.splat(static_cast<float>(jitter(d1) + x + 0.69), static_cast<float>(jitter(d2) + y), LIGHT_GRAIN_COLOR,
                0.2f);
      uint32_t d3 = nextRandom();
      uint32_t d4 = nextRandom();
      out.splat(static_cast<float>(x + jitter(d3) - 0.5), static_cast<float>(y + jitter(d4)), GRAIN_COLOR, 0.1f);
    }
  }
}

}  // namespace

void resetCanvas(BITMAP* bmp) {
  if (!bmp || copy_background(bmp)) return;
  useCommandStream(0);
  clear_to_color(bmp, pack_pixel(static_cast<int>(PAPER_COLOR.r), static_cast<int>(PAPER_COLOR.g),
                                 static_cast<int>(PAPER_COLOR.b)));
  if (is_memory_bitmap(bmp) && bitmap_color_depth(bmp) == 32) {
    LineDeposit out(bmp);
    weave_paper(out, bmp->w, bmp->h);
  } else {
    BankedDeposit out{bmp};
    weave_paper(out, bmp->w, bmp->h);
  }
  useLocalStream();
}
