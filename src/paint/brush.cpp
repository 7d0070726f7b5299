// The bristle brush: a few dozen bristles, each with its own colour and paint
// load, that pick up colour from the picture, lay four shaded trails and dry out.
// Every client must paint the same pixels, so the order of the random draws and
// the float/double widths below are part of the drawing command's meaning.
#include "paint/brush.h"

#include <cmath>

#include "base/log.h"
#include "paint/deposit.h"
#include "paint/grain.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "paint/square_root.h"
#include "paint/stroke.h"

namespace {

constexpr int BRISTLE_MAX = 256;
constexpr float BRUSH_SPACING = 1.5f;

// A draw scaled by 0.2 in one step (0.2 / 4294967295 is a single double constant).
constexpr double DRAW_SCALE_FIFTH = 0.2 / 4294967295.0;
constexpr double DRAW_RANGE_SQUARED = 4294967295.0 * 4294967295.0;

struct Bristle {
  float across;  // offset across the stroke direction
  float along;   // offset along the stroke direction
  float x, y;    // current position on the canvas
  float carry;   // distance from the current position to the next trail dot
  float load;    // paint load; only decreases
  float r, g, b; // current colour
};

// Rebuilt at the start of every stroke; fixed storage so no stroke allocates.
struct BristleList {
  Bristle bristles[BRISTLE_MAX];
  int count;
};

__thread BristleList Bristles;  // per thread

double draw_unit() { return random_unit(nextRandom()); }

void set_up_bristles(BristleList* list, float r, float g, float b, float size) {
  int k = static_cast<int>(draw_unit() + size * 3.1);
  int count = k + 1;
  if (count > BRISTLE_MAX) count = BRISTLE_MAX;
  list->count = count;
  for (int i = 0; i < count; ++i) {
    Bristle* br = &list->bristles[i];
    br->r = r;
    br->g = g;
    br->b = b;
    uint32_t d1 = nextRandom();
    br->across = static_cast<float>(
        (static_cast<double>(i) / count + d1 * DRAW_SCALE_FIFTH) * size * 2 - size);
    br->x = br->across;
    br->along = static_cast<float>((draw_unit() - 0.5) * size * 0.2);
    br->y = br->along;
    br->carry = 0;
    uint32_t d3 = nextRandom();
    br->load = static_cast<float>(d3 * DRAW_SCALE_FIFTH + 0.6);
  }
}

// Mixes in the colour under the bristle; draws only when that colour is found.
void pick_up(BITMAP* bmp, Bristle* br, float X, float Y) {
  float sr, sg, sb;
  float sx = static_cast<float>(static_cast<double>(X) + br->across);
  float sy = static_cast<float>(static_cast<double>(Y) + br->along);
  if (!sampleBilinear(bmp, sx, sy, &sr, &sg, &sb)) return;
  double u1 = draw_unit();
  double u2 = draw_unit();
  float mix = static_cast<float>(u1 * (u2 - br->load));
  if (mix > 0.01) {
    br->r = static_cast<float>((1.0 - mix) * br->r + static_cast<double>(mix) * sr);
    br->g = static_cast<float>((1.0 - mix) * br->g + static_cast<double>(mix) * sg);
    br->b = static_cast<float>((1.0 - mix) * br->b + static_cast<double>(mix) * sb);
  }
}

// One trail of dots one pixel apart from O + (off, off) towards Q + (off, off),
// the first carry along it; len > 0. Returns the length left after the last dot,
// or -1 when the trail is shorter than the carry and has no dot.
template <class Splat>
float trail_dots(float ox, float oy, float ex, float ey, float len, float carry, float off, Splat splat) {
  float dx = static_cast<float>(static_cast<double>(ox) + off + static_cast<double>(ex) * carry);
  float dy = static_cast<float>(static_cast<double>(oy) + off + static_cast<double>(ey) * carry);
  splat(dx, dy);
  float remaining = static_cast<float>(static_cast<double>(len) - carry);
  while (remaining >= 1.0f) {
    dx = static_cast<float>(static_cast<double>(dx) + ex);
    dy = static_cast<float>(static_cast<double>(dy) + ey);
    remaining = static_cast<float>(static_cast<double>(remaining) - 1.0);
    splat(dx, dy);
  }
  return remaining;
}

template <class Deposit>
float draw_trail(const Deposit& out, float ox, float oy, float ex, float ey, float len, float carry, float off,
                 float r, float g, float b, float opacity) {
  if (!(carry <= len)) return -1.0f;
  const typename Deposit::Ink ink = out.ink(r, g, b);
  return trail_dots(ox, oy, ex, ey, len, carry, off, [&](float x, float y) { out.splat(x, y, ink, opacity); });
}

float darker(float c) {
  float v = static_cast<float>(static_cast<double>(c) - 16);
  return v < 0 ? 0 : v;
}

float lighter(float c) {
  float v = static_cast<float>(static_cast<double>(c) + 20);
  return v > 255 ? 255 : v;
}

// The bristle's place for a sample at (X, Y) with tangent t and normal nrm.
void bristle_position(const Bristle* br, float X, float Y, float tx, float ty, float nx, float ny,
                      float* qx, float* qy) {
  *qx = static_cast<float>(static_cast<double>(X) + static_cast<double>(br->across) * nx +
                           static_cast<double>(br->along) * tx);
  *qy = static_cast<float>(static_cast<double>(Y) + static_cast<double>(br->across) * ny +
                           static_cast<double>(br->along) * ty);
}

void place_bristle(Bristle* br, float X, float Y, float tx, float ty, float nx, float ny) {
  bristle_position(br, X, Y, tx, ty, nx, ny, &br->x, &br->y);
}

// Trails, carry, refill and drying of one bristle that is still loaded.
template <class Deposit>
void paint_bristle(const Deposit& out, Bristle* br, float X, float Y, float tx, float ty, float nx,
                   float ny, float pr, float pg, float pb, float dryness) {
  float opacity = br->load < 1.0f ? br->load : 1.0f;
  float qx, qy;
  bristle_position(br, X, Y, tx, ty, nx, ny, &qx, &qy);
  float ox = br->x, oy = br->y;
  double vx = static_cast<double>(qx) - ox, vy = static_cast<double>(qy) - oy;
  float len = static_cast<float>(square_root(vx * vx + vy * vy));
  if (len > 0) {
    float ex = static_cast<float>(vx / len);
    float ey = static_cast<float>(vy / len);
    draw_trail(out, ox, oy, ex, ey, len, br->carry, 1.0f, darker(br->r), darker(br->g),
               darker(br->b), opacity);
    draw_trail(out, ox, oy, ex, ey, len, br->carry, -0.5f, lighter(br->r), lighter(br->g),
               lighter(br->b), opacity);
    draw_trail(out, ox, oy, ex, ey, len, br->carry, 0.5f, br->r, br->g, br->b, opacity);
    float remaining =
        draw_trail(out, ox, oy, ex, ey, len, br->carry, -1.0f, br->r, br->g, br->b, opacity);
    // The fourth trail sets the distance to the next dot.
    br->carry = remaining >= 0 ? static_cast<float>(1.0 - remaining)
                               : static_cast<float>(static_cast<double>(br->carry) - len);
  } else if (br->carry == 0) {
    // A bristle that did not move has no direction and lays no dot; its
    // carry becomes 1, as if the dot at distance 0 had been put.
    br->carry = 1.0f;
  }
  br->x = qx;
  br->y = qy;

  float w = static_cast<float>(static_cast<double>(br->load) * br->load);
  br->r = static_cast<float>((1.0 - w) * br->r + static_cast<double>(w) * pr);
  br->g = static_cast<float>((1.0 - w) * br->g + static_cast<double>(w) * pg);
  br->b = static_cast<float>((1.0 - w) * br->b + static_cast<double>(w) * pb);

  uint32_t d3 = nextRandom();
  uint32_t d4 = nextRandom();
  br->load = static_cast<float>(br->load - (1.0 / (1.0 + dryness)) * d3 * d4 /
                                               DRAW_RANGE_SQUARED * 0.6);
}

// The stroke's samples after the bristles are set up.
template <class Deposit>
void paint_samples(const Deposit& out, BristleList* list, float r, float g, float b, float dryness,
                   const int16_t* xs, const int16_t* ys, int n) {
  int phase = 0;
  float px = 0, py = 0;
  walkStroke(xs, ys, n, BRUSH_SPACING, [&](float X, float Y) {
    // A zero-length first segment yields a sample that is not a number: it
    // marks no place and must not become the previous position.
    if (std::isnan(X) || std::isnan(Y)) return;
    if (phase == 0) {
      px = X;
      py = Y;
      phase = 1;
      return;
    }
    double vx = static_cast<double>(X) - px, vy = static_cast<double>(Y) - py;
    float len = static_cast<float>(square_root(vx * vx + vy * vy));
    if (len < 0.0001) return;
    float tx = static_cast<float>(vx / len);
    float ty = static_cast<float>(vy / len);
    float nx = -ty, ny = tx;
    px = X;
    py = Y;
    if (phase == 1) {
      for (int k = 0; k < list->count; ++k) place_bristle(&list->bristles[k], X, Y, tx, ty, nx, ny);
      phase = 2;
      return;
    }
    int k = 0;
    while (k < list->count) {
      Bristle* br = &list->bristles[k];
      pick_up(out.bmp, br, X, Y);
      if (br->load <= 0) {
        // The last live bristle takes this slot and is processed in this sample.
        list->count -= 1;
        *br = list->bristles[list->count];
        continue;
      }
      paint_bristle(out, br, X, Y, tx, ty, nx, ny, r, g, b, dryness);
      ++k;
    }
  });
}

}  // namespace

void drawBrush(BITMAP* bmp, float r, float g, float b, float size, float dryness,
               const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawBrush invoked with %d points.", n);
  if (!bmp || bitmap_color_depth(bmp) != 32) return;
  if (!xs || !ys) n = 0;
  size = clamp_setting(size, 1.7f, 12.0f);
  dryness = clamp_setting(dryness, 1.0f, 500.0f);
  // Channels outside 0..255 would pack into the neighbouring channel.
  r = clamp_setting(r, 0.0f, 255.0f);
  g = clamp_setting(g, 0.0f, 255.0f);
  b = clamp_setting(b, 0.0f, 255.0f);

  BristleList* list = &Bristles;
  set_up_bristles(list, r, g, b, size);
  paint_with_deposit(bmp, [&](const auto& out) { paint_samples(out, list, r, g, b, dryness, xs, ys, n); });
}

