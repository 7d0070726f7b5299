// The plain ways of splat.h with SSE2, blending the channel bytes of a pixel
// side by side. They give the plain ways' bits: packed double operations
// round each lane as the scalar ones do, and the spare byte is cleared as
// pack_pixel leaves it. Only the fast ways take them (engine_paths.h).
#pragma once
#include "paint/splat.h"
#ifdef __SSE2__
#include <emmintrin.h>

#include "paint/wide_wasm.h"

// The packed way needs each channel in its own byte of the low three.
constexpr bool packed_layout() {
  const int r = PIXEL_RED_SHIFT, g = PIXEL_GREEN_SHIFT, b = PIXEL_BLUE_SHIFT;
  return r + g + b == 24 && r % 8 == 0 && g % 8 == 0 && b % 8 == 0 && r <= 16 && g <= 16 && b <= 16 && r != g &&
         g != b && r != b;
}

// A colour with its channels in the byte lanes of the layout.
struct PackedInk {
  float r, g, b;
  __m128d lo, hi;
};

// The channel in byte lane k (0 beyond the three).
inline double packed_lane(int k, float r, float g, float b) {
  int shift = k * 8;
  return shift == PIXEL_RED_SHIFT ? r : shift == PIXEL_GREEN_SHIFT ? g : shift == PIXEL_BLUE_SHIFT ? b : 0.0;
}

// Built in registers: lanes stored one by one and read back as pairs would
// stall every splat on the store.
inline PackedInk packed_ink(float r, float g, float b) {
  return PackedInk{r, g, b, _mm_set_pd(packed_lane(1, r, g, b), packed_lane(0, r, g, b)),
                   _mm_set_pd(0.0, packed_lane(2, r, g, b))};
}

// old * (1 - coverage) + colour * coverage + 0.5, truncated, per byte lane.
inline __m128i packed_blend_pixel(__m128i old, const PackedInk& ink, __m128d cov) {
  const __m128d half = _mm_set1_pd(0.5);
  __m128d keep = _mm_sub_pd(_mm_set1_pd(1.0), cov);
  __m128d old_lo = _mm_cvtepi32_pd(old);
  __m128d old_hi = _mm_cvtepi32_pd(_mm_shuffle_epi32(old, _MM_SHUFFLE(3, 2, 3, 2)));
  __m128d lo = _mm_add_pd(_mm_add_pd(_mm_mul_pd(old_lo, keep), _mm_mul_pd(ink.lo, cov)), half);
  __m128d hi = _mm_add_pd(_mm_add_pd(_mm_mul_pd(old_hi, keep), _mm_mul_pd(ink.hi, cov)), half);
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
}

// blend_in_place for a coverage of at most 0.999.
inline void blend_in_place_packed(uint32_t* p, const PackedInk& ink, float coverage) {
  const __m128i zero = _mm_setzero_si128();
  __m128i old = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(*p)), zero), zero);
  __m128i blended = packed_blend_pixel(old, ink, _mm_set1_pd(coverage));
  blended = _mm_packus_epi16(_mm_packs_epi32(blended, zero), zero);
  *p = static_cast<uint32_t>(_mm_cvtsi128_si32(blended)) & 0x00FFFFFFu;
}

// Blends p[0] and p[1] with the coverages in the low and high lane of cov.
inline void packed_blend_pair(uint32_t* p, const PackedInk& ink, __m128d cov) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i channels = _mm_set1_epi32(0x00FFFFFF);
  __m128i words = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  __m128i first = packed_blend_pixel(_mm_unpacklo_epi16(words, zero), ink, _mm_unpacklo_pd(cov, cov));
  __m128i second = packed_blend_pixel(_mm_unpackhi_epi16(words, zero), ink, _mm_unpackhi_pd(cov, cov));
  __m128i packed = _mm_packus_epi16(_mm_packs_epi32(first, second), zero);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_and_si128(packed, channels));
}

// The channel lanes of a pixel as two pairs of doubles.
inline __m128d packed_low_lanes(__m128i c) { return _mm_cvtepi32_pd(c); }
inline __m128d packed_high_lanes(__m128i c) { return _mm_cvtepi32_pd(_mm_shuffle_epi32(c, _MM_SHUFFLE(3, 2, 3, 2))); }

// w00 c00 + w10 c10 + w01 c01 + w11 c11 per lane, left to right, rounded to floats.
inline __m128d packed_mix(__m128d c00, __m128d c10, __m128d c01, __m128d c11, double w00, double w10, double w01,
                          double w11) {
  __m128d sum = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(w00), c00), _mm_mul_pd(_mm_set1_pd(w10), c10));
  sum = _mm_add_pd(_mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(w01), c01)), _mm_mul_pd(_mm_set1_pd(w11), c11));
  return _mm_cvtps_pd(_mm_cvtpd_ps(sum));
}

// smear_rows for a coverage of at most 0.999.
inline void smear_rows_packed(uint32_t* p, const uint32_t* top, const uint32_t* bottom, float fx, float fy,
                              float coverage) {
  const __m128i zero = _mm_setzero_si128();
  __m128i upper = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top)), zero);
  __m128i lower = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom)), zero);
  __m128i c00 = _mm_unpacklo_epi16(upper, zero), c10 = _mm_unpackhi_epi16(upper, zero);
  __m128i c01 = _mm_unpacklo_epi16(lower, zero), c11 = _mm_unpackhi_epi16(lower, zero);
  double w00 = (1.0 - fx) * (1.0 - fy), w10 = fx * (1.0 - fy);
  double w01 = (1.0 - fx) * static_cast<double>(fy), w11 = static_cast<double>(fx) * fy;
  PackedInk ink;
  ink.lo = packed_mix(packed_low_lanes(c00), packed_low_lanes(c10), packed_low_lanes(c01), packed_low_lanes(c11),
                      w00, w10, w01, w11);
  ink.hi = packed_mix(packed_high_lanes(c00), packed_high_lanes(c10), packed_high_lanes(c01),
                      packed_high_lanes(c11), w00, w10, w01, w11);
  blend_in_place_packed(p, ink, coverage);
}

// splat_rows's coverages of top[0], top[1], bottom[0], bottom[1].
inline __m128 splat_coverages(float fx, float fy, float weight) {
  const __m128d w = _mm_set1_pd(weight);
  __m128d across = _mm_set_pd(fx, 1.0 - fx);
  __m128d top_cov = _mm_mul_pd(_mm_mul_pd(across, _mm_set1_pd(1.0 - fy)), w);
  __m128d bottom_cov = _mm_mul_pd(_mm_mul_pd(across, _mm_set1_pd(fy)), w);
  return _mm_movelh_ps(_mm_cvtpd_ps(top_cov), _mm_cvtpd_ps(bottom_cov));
}

inline void splat_rows_packed(uint32_t* top, uint32_t* bottom, float fx, float fy, const PackedInk& ink,
                              float weight) {
  __m128 covs = splat_coverages(fx, fy, weight);
  if (_mm_movemask_ps(_mm_cmpgt_ps(covs, _mm_set1_ps(0.999f)))) {
    // A written pixel ignores the old one; rare enough to take the plain way.
    splat_rows(top, bottom, fx, fy, ink.r, ink.g, ink.b, weight);
    return;
  }
  packed_blend_pair(top, ink, _mm_cvtps_pd(covs));
  packed_blend_pair(bottom, ink, _mm_cvtps_pd(_mm_movehl_ps(covs, covs)));
}

// splatPoint with the ink laid out by the caller.
inline void splat_packed(Image* image, float x, float y, const PackedInk& ink, float weight) {
  uint32_t *top, *bottom;
  float fx, fy;
  if (splat_cell(image, x, y, &top, &bottom, &fx, &fy)) splat_rows_packed(top, bottom, fx, fy, ink, weight);
}

// A colour laid out once for blends in place, and whether the layout takes
// the packed blends.
struct PackedRowInk : RowInk {
  bool packed;
  PackedInk ink;
};

inline PackedRowInk packed_row_ink(float r, float g, float b) {
  return PackedRowInk{row_ink(r, g, b), packed_layout(), packed_ink(r, g, b)};
}

// blend_ink_in_place with the packed blend where the layout takes it.
inline void blend_ink_in_place(uint32_t* p, const PackedRowInk& c, float coverage) {
  if (coverage > 0.999f || !c.packed) {
    blend_ink_in_place(p, static_cast<const RowInk&>(c), coverage);
    return;
  }
  blend_in_place_packed(p, c.ink, coverage);
}

// blend_row_ink with the packed blend where the layout takes it.
inline void blend_row_ink(uint32_t* row, int x1, int x2, const PackedRowInk& c, float coverage) {
  if (coverage > 0.999f || !c.packed) {
    blend_row_ink(row, x1, x2, static_cast<const RowInk&>(c), coverage);
    return;
  }
  for (int x = x1; x <= x2; ++x) blend_in_place_packed(row + x, c.ink, coverage);
}
#endif
