// The bristle brush's AVX2 way: four bristles planned side by side, the
// trails' dots placed four trails at a time, the pick-up's mix chosen rather
// than branched on. Overloads of the plain way's steps in brush.cpp for the
// wide deposit, which give the same bits.
#pragma once
#include "paint/brush_bristles.h"
#include "paint/deposit.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "paint/splat_wide.h"

#ifdef EASEL_WIDE
namespace brush {

// The plain way's steps (brush.cpp), which the wide ones fall back on.
template <class Deposit>
void lay_trails(const Deposit& out, const Step& st, const typename Deposit::Ink* inks);
template <class Deposit>
void paint_bristle(const Deposit& out, Bristle* br, const Step& st, typename Deposit::Ink* inks, float pr, float pg,
                   float pb, ptrdiff_t);

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
#ifdef __wasm__
  // Addresses of 32 bits: four in a register.
  const __m128i first_row = _mm_set1_epi32(static_cast<int>(reinterpret_cast<intptr_t>(image->pixels)));
  const __m128i row_step = _mm_set1_epi32(static_cast<int>(pitch));
#else
  const __m256i first_row = _mm256_set1_epi64x(reinterpret_cast<intptr_t>(image->pixels));
  const __m256i row_step = _mm256_set1_epi64x(pitch);
#endif
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
#ifdef __wasm__
    const __m128i top = _mm_add_epi32(_mm_add_epi32(first_row, _mm_mullo_epi32(cy, row_step)), _mm_slli_epi32(cx, 2));
    _mm_store_si128(reinterpret_cast<__m128i*>(tops[i]), top);
    _mm_store_si128(reinterpret_cast<__m128i*>(bottoms[i]), _mm_add_epi32(top, row_step));
#else
    const __m256i top = _mm256_add_epi64(_mm256_add_epi64(first_row, _mm256_mul_epi32(_mm256_cvtepi32_epi64(cy), row_step)),
                                         _mm256_slli_epi64(_mm256_cvtepi32_epi64(cx), 2));
    _mm256_store_si256(reinterpret_cast<__m256i*>(tops[i]), top);
    _mm256_store_si256(reinterpret_cast<__m256i*>(bottoms[i]), _mm256_add_epi64(top, row_step));
#endif
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

}  // namespace brush
#endif
