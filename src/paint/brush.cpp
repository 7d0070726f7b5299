// The bristle brush: a few dozen bristles, each with its own colour and paint
// load, that pick up colour from the picture, lay four shaded trails and dry out.
// Every client must paint the same pixels, so the order of the random draws and
// the float/double widths below are part of the drawing command's meaning.
#include "paint/brush.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "base/log.h"
#include "paint/brush_bristles.h"
#include "paint/brush_wide.h"
#include "paint/deposit.h"
#include "paint/grain.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "paint/square_root.h"
#include "paint/stroke_walk.h"


namespace brush {

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

// The trails' offsets, in the order they are laid: darker, lighter, twice plain.
// Moves the bristle to its place for a sample at (X, Y) with tangent t and normal n.
void place_bristle(Bristle* br, float X, float Y, float tx, float ty, float nx, float ny) {
  br->x = static_cast<float>(static_cast<double>(X) + static_cast<double>(br->across) * nx +
                             static_cast<double>(br->along) * tx);
  br->y = static_cast<float>(static_cast<double>(Y) + static_cast<double>(br->across) * ny +
                             static_cast<double>(br->along) * ty);
}

// v as the float it is. g++ 12 at -O2 and above, pairing the x and y work of
// plan_bristle, has been seen to drop a float rounding between two double
// operations; an empty statement that takes and gives the float keeps it.
inline float kept(float v) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm("" : "+x"(v));
#endif
  return v;
}

// The sample's place and directions.
// and drying, with the draws taken.
void plan_bristle(Bristle* br, Step* st, const Sample& s, double drying) {
  const float ox = br->x, oy = br->y;
  place_bristle(br, s.X, s.Y, s.tx, s.ty, s.nx, s.ny);
  const float qx = kept(br->x), qy = kept(br->y);
  const double u1 = random_unit(st->draws[0]), u2 = random_unit(st->draws[1]);
  float mix = static_cast<float>(u1 * (u2 - br->load));
  st->mix = mix;
  st->mix_in = st->pick && mix > 0.01;
  st->opacity = br->load < 1.0f ? br->load : 1.0f;
  st->dots = 0;
  double vx = static_cast<double>(qx) - ox, vy = static_cast<double>(qy) - oy;
  float len = static_cast<float>(square_root(vx * vx + vy * vy));
  if (len > 0) {
    float ex = static_cast<float>(vx / len);
    float ey = static_cast<float>(vy / len);
    if (br->carry <= len) {
      // Every trail has the same dots; the last one sets the distance to the next.
      st->ex = ex;
      st->ey = ey;
      float remaining = static_cast<float>(static_cast<double>(len) - br->carry);
      int dots = 1;
      while (remaining >= 1.0f) {
        remaining = static_cast<float>(static_cast<double>(remaining) - 1.0);
        ++dots;
      }
      st->dots = dots;
      for (int t = 0; t < 4; ++t) {
        st->tx[t] = static_cast<float>(static_cast<double>(ox) + TRAIL_OFFSET[t] +
                                       static_cast<double>(ex) * br->carry);
        st->ty[t] = static_cast<float>(static_cast<double>(oy) + TRAIL_OFFSET[t] +
                                       static_cast<double>(ey) * br->carry);
      }
      br->carry = static_cast<float>(1.0 - remaining);
    } else {
      br->carry = static_cast<float>(static_cast<double>(br->carry) - len);
    }
  } else if (br->carry == 0) {
    // A bristle that did not move has no direction and lays no dot; its
    // carry becomes 1, as if the dot at distance 0 had been put.
    br->carry = 1.0f;
  }
  st->weight = static_cast<float>(static_cast<double>(br->load) * br->load);
  br->load = static_cast<float>(br->load - drying * st->draws[2] * st->draws[3] / DRAW_RANGE_SQUARED * 0.6);
}

// The sample's draws for every bristle in the order they are painted, with the
// pick-up cells. A bristle without paint is dropped after its pick-up's draws:
// the last live bristle takes its slot and draws there.
void take_draws(BristleList* list, const Image* image, float X, float Y) {
  int k = 0;
  while (k < list->count) {
    Bristle* br = &list->bristles[k];
    Step* st = &list->steps[k];
    st->sx = static_cast<float>(static_cast<double>(X) + br->across);
    st->sy = static_cast<float>(static_cast<double>(Y) + br->along);
    st->pick = bilinear_cell(st->sx, st->sy, image->w, image->h, &st->x0, &st->y0, &st->fx, &st->fy);
    st->draws[0] = st->pick ? nextRandom() : 0;
    st->draws[1] = st->pick ? nextRandom() : 0;
    if (br->load <= 0) {
      list->count -= 1;
      *br = list->bristles[list->count];
      continue;
    }
    st->draws[2] = nextRandom();
    st->draws[3] = nextRandom();
    ++k;
  }
}

// The rest of the sample's part that does not look at the picture.
template <class Deposit>
void plan_moves(const Deposit&, BristleList* list, const Sample& s, double drying) {
  for (int k = 0; k < list->count; ++k) plan_bristle(&list->bristles[k], &list->steps[k], s, drying);
}


// The colour under a pick-up position that is on the picture.
template <class Deposit>
void pick_colour(const Deposit& out, const Step& st, const typename Deposit::Ink&, float* r, float* g, float* b) {
  const uint32_t* top = image_row(out.image, st.y0) + st.x0;
  const uint32_t* bottom = image_row(out.image, st.y0 + 1) + st.x0;
  bilinear_mix(top[0], top[1], bottom[0], bottom[1], st.fx, st.fy, r, g, b);
}

void pick_colour(const PointDeposit& out, const Step& st, const PointDeposit::Ink&, float* r, float* g, float* b) {
  sampleBilinear(out.image, st.sx, st.sy, r, g, b);
}

// An ink of the deposit's kind in another colour.
void recolour(PointDeposit::Ink* ink, float r, float g, float b) { *ink = PointDeposit::ink(r, g, b); }

#ifdef __SSE2__
void recolour(PackedInk* ink, float r, float g, float b) { *ink = packed_ink(r, g, b); }
#endif

// The four trails, each dot by dot.
template <class Deposit>
void lay_trails(const Deposit& out, const Step& st, const typename Deposit::Ink* inks) {
  for (int t = 0; t < 4; ++t) {
    const typename Deposit::Ink& ink = inks[t < 2 ? t : 2];
    float x = st.tx[t], y = st.ty[t];
    out.splat(x, y, ink, st.opacity);
    for (int i = 1; i < st.dots; ++i) {
      x = static_cast<float>(static_cast<double>(x) + st.ex);
      y = static_cast<float>(static_cast<double>(y) + st.ey);
      out.splat(x, y, ink, st.opacity);
    }
  }
}


float darker(float c) {
  float v = static_cast<float>(static_cast<double>(c) - 16);
  return v < 0 ? 0 : v;
}

float lighter(float c) {
  float v = static_cast<float>(static_cast<double>(c) + 20);
  return v > 255 ? 255 : v;
}

// The part of a sample that does: pick-up colour, trails and refill, bristle
// by bristle. inks[3] is any ink of the deposit's kind, to be recoloured.
template <class Deposit>
void paint_bristle(const Deposit& out, Bristle* br, const Step& st, typename Deposit::Ink* inks, float pr,
                   float pg, float pb, ptrdiff_t) {
  if (st.pick) {
    float sr, sg, sb;
    pick_colour(out, st, inks[0], &sr, &sg, &sb);
    if (st.mix_in) {
      const double mix = st.mix;
      br->r = static_cast<float>((1.0 - mix) * br->r + mix * sr);
      br->g = static_cast<float>((1.0 - mix) * br->g + mix * sg);
      br->b = static_cast<float>((1.0 - mix) * br->b + mix * sb);
    }
  }
  if (st.dots) {
    recolour(&inks[0], darker(br->r), darker(br->g), darker(br->b));
    recolour(&inks[1], lighter(br->r), lighter(br->g), lighter(br->b));
    recolour(&inks[2], br->r, br->g, br->b);
    lay_trails(out, st, inks);
  }
  const double w = st.weight;
  br->r = static_cast<float>((1.0 - w) * br->r + w * pr);
  br->g = static_cast<float>((1.0 - w) * br->g + w * pg);
  br->b = static_cast<float>((1.0 - w) * br->b + w * pb);
}


// The bytes from each row of the image to the next, or 0 when the wide
// dots cannot step by them.
ptrdiff_t row_pitch(const Image* image) {
  const ptrdiff_t pitch = image->stride * static_cast<ptrdiff_t>(sizeof(uint32_t));
  return image->h < 2 || pitch <= 0 || pitch > INT32_MAX ? 0 : pitch;
}

// The stroke's samples after the bristles are set up.
template <class Deposit>
void paint_samples(const Deposit& out, BristleList* list, float r, float g, float b, float dryness,
                   const int16_t* xs, const int16_t* ys, int n) {
  const double drying = 1.0 / (1.0 + dryness);
  typename Deposit::Ink inks[3] = {out.ink(r, g, b), out.ink(r, g, b), out.ink(r, g, b)};
  const ptrdiff_t pitch = row_pitch(out.image);
  int phase = 0;
  float px = 0, py = 0;
  walkStroke(xs, ys, n, BRUSH_SPACING, [&](float X, float Y) -> bool {
    // A zero-length first segment yields a sample that is not a number: it
    // marks no place and must not become the previous position.
    if (std::isnan(X) || std::isnan(Y)) return true;
    if (phase == 0) {
      px = X;
      py = Y;
      phase = 1;
      return true;
    }
    double vx = static_cast<double>(X) - px, vy = static_cast<double>(Y) - py;
    float len = static_cast<float>(square_root(vx * vx + vy * vy));
    if (len < 0.0001) return true;
    float tx = static_cast<float>(vx / len);
    float ty = static_cast<float>(vy / len);
    float nx = -ty, ny = tx;
    px = X;
    py = Y;
    if (phase == 1) {
      for (int k = 0; k < list->count; ++k) place_bristle(&list->bristles[k], X, Y, tx, ty, nx, ny);
      phase = 2;
      return true;
    }
    take_draws(list, out.image, X, Y);
    plan_moves(out, list, Sample{X, Y, tx, ty, nx, ny}, drying);
    for (int k = 0; k < list->count; ++k)
      paint_bristle(out, &list->bristles[k], list->steps[k], inks, r, g, b, pitch);
    // With every bristle dry the rest of the stroke draws nothing and takes no draw.
    return list->count > 0;
  });
}

}  // namespace brush

void drawBrush(Image* image, float r, float g, float b, float size, float dryness,
               const int16_t* xs, const int16_t* ys, int n) {
  log_write(LOG_DEBUG, "drawBrush invoked with %d points.", n);
  if (!image) return;
  if (!xs || !ys) n = 0;
  size = clamp_setting(size, 1.7f, 12.0f);
  dryness = clamp_setting(dryness, 1.0f, 500.0f);
  // Channels outside 0..255 would pack into the neighbouring channel.
  r = clamp_setting(r, 0.0f, 255.0f);
  g = clamp_setting(g, 0.0f, 255.0f);
  b = clamp_setting(b, 0.0f, 255.0f);

  brush::BristleList* list = &brush::Bristles;
  brush::set_up_bristles(list, r, g, b, size);
  paint_with_deposit(image, [&](const auto& out) { brush::paint_samples(out, list, r, g, b, dryness, xs, ys, n); });
}


