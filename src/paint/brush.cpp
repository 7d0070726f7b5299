// The bristle brush: a few dozen bristles, each with its own colour and paint
// load, that pick up colour from the picture, lay four shaded trails and dry out.
// Every client must paint the same pixels, so the order of the random draws and
// the float/double widths below are part of the drawing command's meaning.
#include "paint/brush.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

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

// The wide planning reads across..y and carry..g, and writes x..load, four
// floats at a time.
struct Bristle {
  float across;  // offset across the stroke direction
  float along;   // offset along the stroke direction
  float x, y;    // current position on the canvas
  float carry;   // distance from the current position to the next trail dot
  float load;    // paint load; only decreases
  float r, g, b; // current colour
};
static_assert(offsetof(Bristle, load) == offsetof(Bristle, across) + 5 * sizeof(float) &&
                  offsetof(Bristle, g) == offsetof(Bristle, across) + 7 * sizeof(float),
              "the wide planning's four-float reads and writes");

// What a sample does to one live bristle apart from the picture's colours.
// Positions, loads and draws never depend on the pixels, so a sample works
// them out for every bristle first and then paints the bristles in order.
struct Step {
  float sx, sy;       // the pick-up position
  int x0, y0;         // its cell and fractions, when on the picture
  float fx, fy;
  bool pick;          // the pick-up cell is on the picture
  uint32_t draws[4];  // the pick-up's two (0 without it), then the drying's two
  // Worked out from the above, four bristles side by side where the processor
  // allows, in groups of four written at once.
  float mix, opacity, weight, ex;  // pick-up mix, the trails' opacity, the refill's weight, direction
  float ey;
  int dots;    // dots on each trail, 0 for none
  int mix_in;  // the pick-up mixes its colour in
  int spare;   // completes the group
  float tx[4], ty[4];  // the trails' first dots
};
static_assert(offsetof(Step, spare) == offsetof(Step, mix) + 7 * sizeof(float) &&
                  offsetof(Step, ty) == offsetof(Step, mix) + 12 * sizeof(float),
              "the wide planning's four-float writes");

// Rebuilt at the start of every stroke; fixed storage so no stroke allocates.
struct BristleList {
  Bristle bristles[BRISTLE_MAX];
  int count;
  Step steps[BRISTLE_MAX];  // the bristles' part of the current sample
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

// The trails' offsets, in the order they are laid: darker, lighter, twice plain.
constexpr float TRAIL_OFFSET[4] = {1.0f, -0.5f, 0.5f, -1.0f};

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
struct Sample {
  float X, Y, tx, ty, nx, ny;
};

// A live bristle's trails from its place to the next, its carry, refill weight
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

#ifdef EASEL_WIDE
// Draws kept in float lanes, as doubles.
EASEL_WIDE_TARGET inline __m256d draws_as_doubles(__m128 bits) { return wide_draws(_mm_castps_si128(bits)); }

EASEL_WIDE_TARGET inline __m128 to_floats(__m256d v) { return _mm256_cvtpd_ps(v); }
EASEL_WIDE_TARGET inline __m256d to_doubles(__m128 v) { return _mm256_cvtps_pd(v); }

// plan_bristle for the four bristles from br on, side by side. Bristles past
// the live ones may be planned too: nothing reads them.
EASEL_WIDE_TARGET void plan_four(Bristle* br, Step* st, const Sample& s, double drying) {
  __m128 across = _mm_loadu_ps(&br[0].across), along = _mm_loadu_ps(&br[1].across);
  __m128 ox4 = _mm_loadu_ps(&br[2].across), oy4 = _mm_loadu_ps(&br[3].across);
  _MM_TRANSPOSE4_PS(across, along, ox4, oy4);
  __m128 carry = _mm_loadu_ps(&br[0].carry), load = _mm_loadu_ps(&br[1].carry);
  __m128 spare1 = _mm_loadu_ps(&br[2].carry), spare2 = _mm_loadu_ps(&br[3].carry);
  _MM_TRANSPOSE4_PS(carry, load, spare1, spare2);
  __m128 u1 = _mm_loadu_ps(reinterpret_cast<const float*>(st[0].draws));
  __m128 u2 = _mm_loadu_ps(reinterpret_cast<const float*>(st[1].draws));
  __m128 d3 = _mm_loadu_ps(reinterpret_cast<const float*>(st[2].draws));
  __m128 d4 = _mm_loadu_ps(reinterpret_cast<const float*>(st[3].draws));
  _MM_TRANSPOSE4_PS(u1, u2, d3, d4);

  const __m256d a = to_doubles(across), b = to_doubles(along);
  __m128 qx = to_floats(_mm256_add_pd(_mm256_add_pd(_mm256_set1_pd(s.X), _mm256_mul_pd(a, _mm256_set1_pd(s.nx))),
                                      _mm256_mul_pd(b, _mm256_set1_pd(s.tx))));
  __m128 qy = to_floats(_mm256_add_pd(_mm256_add_pd(_mm256_set1_pd(s.Y), _mm256_mul_pd(a, _mm256_set1_pd(s.ny))),
                                      _mm256_mul_pd(b, _mm256_set1_pd(s.ty))));
  const __m256d ox = to_doubles(ox4), oy = to_doubles(oy4);
  const __m256d vx = _mm256_sub_pd(to_doubles(qx), ox), vy = _mm256_sub_pd(to_doubles(qy), oy);
  const __m128 len = to_floats(_mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(vx, vx), _mm256_mul_pd(vy, vy))));
  const __m256d len_d = to_doubles(len);
  const __m128 ex = to_floats(_mm256_div_pd(vx, len_d)), ey = to_floats(_mm256_div_pd(vy, len_d));

  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
  const __m256d one_d = _mm256_set1_pd(1.0), carry_d = to_doubles(carry);
  const __m128 moving = _mm_cmpgt_ps(len, zero), trails = _mm_and_ps(moving, _mm_cmple_ps(carry, len));
  __m128 remaining = to_floats(_mm256_sub_pd(len_d, carry_d));
  __m128i dots = _mm_set1_epi32(1);
  // Below 2^24 taking 1 from a float of at least 1 is exact, so the dot by
  // dot count of plan_bristle comes to the whole part and leaves the fraction.
  if (!_mm_movemask_ps(_mm_and_ps(trails, _mm_cmpge_ps(remaining, _mm_set1_ps(16777216.0f))))) {
    const __m128 whole = _mm_floor_ps(remaining);
    dots = _mm_add_epi32(dots, _mm_cvttps_epi32(whole));
    remaining = _mm_sub_ps(remaining, whole);
  } else {
    for (;;) {
      const __m128 more = _mm_and_ps(trails, _mm_cmpge_ps(remaining, one));
      if (!_mm_movemask_ps(more)) break;
      remaining = _mm_blendv_ps(remaining, to_floats(_mm256_sub_pd(to_doubles(remaining), one_d)), more);
      dots = _mm_sub_epi32(dots, _mm_castps_si128(more));
    }
  }
  dots = _mm_and_si128(dots, _mm_castps_si128(trails));
  const __m128 laid = to_floats(_mm256_sub_pd(one_d, to_doubles(remaining)));
  const __m128 short_of = to_floats(_mm256_sub_pd(carry_d, len_d));
  const __m128 still = _mm_blendv_ps(carry, one, _mm_cmpeq_ps(carry, zero));
  const __m128 next_carry = _mm_blendv_ps(_mm_blendv_ps(still, short_of, moving), laid, trails);
  __m128 tx[4], ty[4];
  const __m256d along_x = _mm256_mul_pd(to_doubles(ex), carry_d), along_y = _mm256_mul_pd(to_doubles(ey), carry_d);
  for (int t = 0; t < 4; ++t) {
    const __m256d off = _mm256_set1_pd(TRAIL_OFFSET[t]);
    tx[t] = to_floats(_mm256_add_pd(_mm256_add_pd(ox, off), along_x));
    ty[t] = to_floats(_mm256_add_pd(_mm256_add_pd(oy, off), along_y));
  }

  const __m256d load_d = to_doubles(load);
  const __m128 opacity = _mm_min_ps(load, one);
  const __m128 weight = to_floats(_mm256_mul_pd(load_d, load_d));
  const __m256d unit = _mm256_set1_pd(RANDOM_UNIT);
  __m128 mix = to_floats(_mm256_mul_pd(_mm256_mul_pd(draws_as_doubles(u1), unit),
                                       _mm256_sub_pd(_mm256_mul_pd(draws_as_doubles(u2), unit), load_d)));
  const int mix_over = _mm256_movemask_pd(_mm256_cmp_pd(to_doubles(mix), _mm256_set1_pd(0.01), _CMP_GT_OQ));
  const __m256d dried = _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(drying), draws_as_doubles(d3)), draws_as_doubles(d4));
  __m128 next_load = to_floats(
      _mm256_sub_pd(load_d, _mm256_mul_pd(_mm256_div_pd(dried, _mm256_set1_pd(DRAW_RANGE_SQUARED)), _mm256_set1_pd(0.6))));

  __m128 moved0 = qx, moved1 = qy, moved2 = next_carry, moved3 = next_load;
  _MM_TRANSPOSE4_PS(moved0, moved1, moved2, moved3);
  __m128 step0 = mix, step1 = opacity, step2 = weight, step3 = ex;
  _MM_TRANSPOSE4_PS(step0, step1, step2, step3);
  __m128 more0 = ey, more1 = _mm_castsi128_ps(dots), more2 = zero, more3 = zero;
  _MM_TRANSPOSE4_PS(more0, more1, more2, more3);
  _MM_TRANSPOSE4_PS(tx[0], tx[1], tx[2], tx[3]);
  _MM_TRANSPOSE4_PS(ty[0], ty[1], ty[2], ty[3]);
  const __m128 moved[4] = {moved0, moved1, moved2, moved3}, steps[4] = {step0, step1, step2, step3};
  const __m128 more[4] = {more0, more1, more2, more3};
  for (int j = 0; j < 4; ++j) {
    _mm_storeu_ps(&br[j].x, moved[j]);  // x, y, carry, load
    _mm_storeu_ps(&st[j].mix, steps[j]);  // mix, opacity, weight, ex
    _mm_storeu_ps(&st[j].ey, more[j]);  // ey, dots, mix_in, spare
    st[j].mix_in = st[j].pick && (mix_over >> j & 1);
    _mm_storeu_ps(st[j].tx, tx[j]);
    _mm_storeu_ps(st[j].ty, ty[j]);
  }
}

EASEL_WIDE_TARGET void plan_moves(const WideDeposit&, BristleList* list, const Sample& s, double drying) {
  for (int k = 0; k < list->count; k += 4) plan_four(&list->bristles[k], &list->steps[k], s, drying);
}
#endif

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

#ifdef EASEL_WIDE
// The layout's shuffles stay; only the colour changes.
void recolour(WideInk* ink, float r, float g, float b) {
  ink->r = r;
  ink->g = g;
  ink->b = b;
}

// The most dots a trail lays with its places worked out four trails at a time;
// longer trails are laid dot by dot.
constexpr int TRAIL_DOTS_SIDE_BY_SIDE = 32;

// Where the four trails' dots land, how much they cover and leave, worked out
// side by side, then laid trail by trail, pixel by pixel. For rows pitch bytes
// apart, a layout with bytes and inks in its byte lanes (darker, lighter,
// plain) within 0..255, and an opacity of at most 0.999, which no coverage
// exceeds: no pixel is written whole.
// DOTS is the number of dots when known when compiling (0 for any), so that
// the commonest trails, one or two dots long, run without loops.
template <int DOTS>
EASEL_WIDE_TARGET void lay_trails(const WideDeposit& out, const Step& st, const __m256d* inks, ptrdiff_t pitch) {
  const int dots = DOTS ? DOTS : st.dots;
  constexpr int MOST = DOTS ? DOTS : TRAIL_DOTS_SIDE_BY_SIDE;
  const Image* image = out.image;
  // Per dot and trail, the square's top-left and bottom-left pixels.
  alignas(32) uint32_t* tops[MOST][4];
  alignas(32) uint32_t* bottoms[MOST][4];
  int on[MOST];            // per dot: bit t set when trail t's dot is on the image
  int all = 0xF, any = 0;  // the bits set in every dot, in some dot
  // Per dot and pixel of its square, the four trails' coverages and 1 - coverages.
  alignas(32) double cov[MOST][4][4], keep[MOST][4][4];
  const __m128 ex = _mm_set1_ps(st.ex), ey = _mm_set1_ps(st.ey);
  const __m256d weight = _mm256_set1_pd(st.opacity), one = _mm256_set1_pd(1.0), margin = _mm256_set1_pd(1.0001);
  const __m256d w = _mm256_set1_pd(image->w), h = _mm256_set1_pd(image->h);
  const __m256i first_row = _mm256_set1_epi64x(reinterpret_cast<intptr_t>(image->pixels));
  const __m256i row_step = _mm256_set1_epi64x(pitch);
  __m128 x = _mm_loadu_ps(st.tx), y = _mm_loadu_ps(st.ty);
  for (int i = 0; i < dots; ++i) {
    if (i) {
      x = _mm_add_ps(x, ex);
      y = _mm_add_ps(y, ey);
    }
    const __m128 zero = _mm_setzero_ps();
    int fits = _mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(x, zero), _mm_cmpge_ps(y, zero)));
    fits &= _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(_mm256_add_pd(_mm256_cvtps_pd(x), margin), w, _CMP_LT_OQ),
                                             _mm256_cmp_pd(_mm256_add_pd(_mm256_cvtps_pd(y), margin), h, _CMP_LT_OQ)));
    on[i] = fits;
    all &= fits;
    any |= fits;
    // Worked out for every dot, used only for those on the image.
    const __m128i cx = _mm_cvttps_epi32(x), cy = _mm_cvttps_epi32(y);
    const __m256i top = _mm256_add_epi64(_mm256_add_epi64(first_row, _mm256_mul_epi32(_mm256_cvtepi32_epi64(cy), row_step)),
                                         _mm256_slli_epi64(_mm256_cvtepi32_epi64(cx), 2));
    _mm256_store_si256(reinterpret_cast<__m256i*>(tops[i]), top);
    _mm256_store_si256(reinterpret_cast<__m256i*>(bottoms[i]), _mm256_add_epi64(top, row_step));
    const __m256d fx = _mm256_cvtps_pd(_mm_sub_ps(x, _mm_cvtepi32_ps(cx)));
    const __m256d fy = _mm256_cvtps_pd(_mm_sub_ps(y, _mm_cvtepi32_ps(cy)));
    const __m256d left = _mm256_sub_pd(one, fx), upper = _mm256_sub_pd(one, fy);
    const __m256d shares[4] = {_mm256_mul_pd(left, upper), _mm256_mul_pd(fx, upper), _mm256_mul_pd(left, fy),
                               _mm256_mul_pd(fx, fy)};
    for (int k = 0; k < 4; ++k) {
      const __m256d c = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_mul_pd(shares[k], weight)));
      _mm256_store_pd(cov[i][k], c);
      _mm256_store_pd(keep[i][k], _mm256_sub_pd(one, c));
    }
  }
  if (!any) return;
  for (int t = 0; t < 4; ++t) {
    const __m256d lanes = inks[t < 2 ? t : 2];
    for (int i = 0; i < dots; ++i) {
      if (all != 0xF && !(on[i] >> t & 1)) continue;
      uint32_t *top = tops[i][t], *bottom = bottoms[i][t];
      blend_pixel_lanes(top, lanes, _mm256_broadcast_sd(&cov[i][0][t]), _mm256_broadcast_sd(&keep[i][0][t]));
      blend_pixel_lanes(top + 1, lanes, _mm256_broadcast_sd(&cov[i][1][t]), _mm256_broadcast_sd(&keep[i][1][t]));
      blend_pixel_lanes(bottom, lanes, _mm256_broadcast_sd(&cov[i][2][t]), _mm256_broadcast_sd(&keep[i][2][t]));
      blend_pixel_lanes(bottom + 1, lanes, _mm256_broadcast_sd(&cov[i][3][t]), _mm256_broadcast_sd(&keep[i][3][t]));
    }
  }
}
#endif

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

#ifdef EASEL_WIDE
// paint_bristle with the colours in the pixels' byte lanes, the pick-up's mix
// chosen rather than branched on: whether a bristle mixes is a coin toss.
EASEL_WIDE_TARGET void paint_bristle(const WideDeposit& out, Bristle* br, const Step& st, WideInk* inks, float pr,
                                     float pg, float pb, ptrdiff_t pitch) {
  const WideInk& ink = inks[0];
  if (!ink.bytes) {
    paint_bristle<WideDeposit>(out, br, st, inks, pr, pg, pb, pitch);
    return;
  }
  const __m256d one = _mm256_set1_pd(1.0);
  __m128 colour = _mm_permutevar_ps(_mm_setr_ps(br->r, br->g, br->b, 0.0f), ink.byte_lanes);
  if (st.pick) {
    const uint32_t* top = image_row(out.image, st.y0) + st.x0;
    const uint32_t* bottom = image_row(out.image, st.y0 + 1) + st.x0;
    const __m256d mix = _mm256_set1_pd(st.mix), picked = _mm256_cvtps_pd(bilinear_lanes(top, bottom, st.fx, st.fy));
    const __m128 mixed = _mm256_cvtpd_ps(
        _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, mix), _mm256_cvtps_pd(colour)), _mm256_mul_pd(mix, picked)));
    colour = _mm_blendv_ps(colour, mixed, _mm_castsi128_ps(_mm_set1_epi32(-st.mix_in)));
  }
  if (st.dots) {
    const __m256d plain = _mm256_cvtps_pd(colour);
    const __m128 dark = _mm_max_ps(_mm_setzero_ps(), _mm256_cvtpd_ps(_mm256_sub_pd(plain, _mm256_set1_pd(16))));
    const __m128 light = _mm_min_ps(_mm_set1_ps(255), _mm256_cvtpd_ps(_mm256_add_pd(plain, _mm256_set1_pd(20))));
    if (st.dots <= TRAIL_DOTS_SIDE_BY_SIDE && st.opacity <= 0.999f && pitch) {
      const __m256d lanes[3] = {_mm256_cvtps_pd(dark), _mm256_cvtps_pd(light), plain};
      if (st.dots == 1)
        lay_trails<1>(out, st, lanes, pitch);
      else if (st.dots == 2)
        lay_trails<2>(out, st, lanes, pitch);
      else
        lay_trails<0>(out, st, lanes, pitch);
    } else {
      const __m128 rgb[3] = {dark, light, colour};
      for (int t = 0; t < 3; ++t) {
        alignas(16) float c[4];
        _mm_store_ps(c, _mm_permutevar_ps(rgb[t], ink.channels));
        recolour(&inks[t], c[0], c[1], c[2]);
      }
      lay_trails<WideDeposit>(out, st, inks);
    }
  }
  const __m256d w = _mm256_set1_pd(st.weight);
  const __m256d paint = _mm256_cvtps_pd(_mm_permutevar_ps(_mm_setr_ps(pr, pg, pb, 0.0f), ink.byte_lanes));
  colour = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, w), _mm256_cvtps_pd(colour)),
                                         _mm256_mul_pd(w, paint)));
  alignas(16) float c[4];
  _mm_store_ps(c, _mm_permutevar_ps(colour, ink.channels));
  br->r = c[0];
  br->g = c[1];
  br->b = c[2];
}
#endif

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

}  // namespace

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

  BristleList* list = &Bristles;
  set_up_bristles(list, r, g, b, size);
  paint_with_deposit(image, [&](const auto& out) { paint_samples(out, list, r, g, b, dryness, xs, ys, n); });
}

