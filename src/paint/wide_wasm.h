// The x86 vector intrinsics of the fast ways, for WebAssembly's 128-bit SIMD
// (a build with -msimd128 -msse4.1): Emscripten translates the SSE ones; this
// adds the AVX and AVX2 ones the wide ways use, each register of four doubles
// as two of two, and replaces Emscripten's conversions to integers, which go
// lane by lane through the C library, with the vector ones, and keeps the
// compiler from doing conversions between float and double a lane at a time. Every function
// gives the x86 instruction's bits for every input, NaN and out-of-range
// values included; an immediate it does not implement fails to compile.
#pragma once
#if defined(__wasm_simd128__) && defined(__SSE4_1__)
#include <immintrin.h>
#include <wasm_simd128.h>

#include <cstdint>

struct __m256d {
  __m128d lo, hi;
};

namespace wide_wasm {

// x86 truncations give INT32_MIN for NaN and out-of-range values; the
// saturating ones of WebAssembly agree below the range and differ above it
// and for NaN: those lanes (not below 2^31) are set to INT32_MIN.
inline __m128i truncated(v128_t saturated, v128_t in_range) {
  return (__m128i)wasm_v128_bitselect(saturated, wasm_i32x4_splat(INT32_MIN), in_range);
}

inline __m128i cvttps_epi32(__m128 a) {
  const v128_t v = (v128_t)a;
  return truncated(wasm_i32x4_trunc_sat_f32x4(v), wasm_f32x4_lt(v, wasm_f32x4_splat(2147483648.0f)));
}

// Two doubles' truncations in the low two words, the high two zero, as cvttpd2dq.
inline __m128i cvttpd_epi32(__m128d a) {
  const v128_t v = (v128_t)a, below = wasm_f64x2_lt(v, wasm_f64x2_splat(2147483648.0));
  const v128_t in_range = wasm_i32x4_shuffle(below, wasm_i32x4_splat(-1), 0, 2, 4, 4);
  return truncated(wasm_i32x4_trunc_sat_f64x2_zero(v), in_range);
}

// v as it is, hidden from the compiler's rewriting: otherwise it merges two
// roundings of double pairs to float, or one to float and back, into an
// operation on floats that WebAssembly lacks, done a lane at a time.
inline v128_t kept(v128_t v) {
  __asm__("" : "+r"(v));
  return v;
}

// Two doubles rounded to floats in the low lanes, the high ones zero, as cvtpd2ps.
inline __m128 cvtpd_ps(__m128d a) { return (__m128)kept(wasm_f32x4_demote_f64x2_zero((v128_t)a)); }

// The low two floats as doubles, as cvtps2pd.
inline __m128d cvtps_pd(__m128 a) { return (__m128d)wasm_f64x2_promote_low_f32x4(kept((v128_t)a)); }

}  // namespace wide_wasm

#undef _mm_cvttps_epi32
#undef _mm_cvttpd_epi32
#undef _mm_cvtpd_ps
#undef _mm_cvtps_pd
#define _mm_cvttps_epi32 wide_wasm::cvttps_epi32
#define _mm_cvttpd_epi32 wide_wasm::cvttpd_epi32
#define _mm_cvtpd_ps wide_wasm::cvtpd_ps
#define _mm_cvtps_pd wide_wasm::cvtps_pd

#ifndef _CMP_LT_OQ
#define _CMP_LT_OQ 17
#define _CMP_GE_OQ 29
#define _CMP_GT_OQ 30
#define _CMP_NGT_UQ 26
#endif

inline __m256d _mm256_set1_pd(double v) { return __m256d{_mm_set1_pd(v), _mm_set1_pd(v)}; }
inline __m256d _mm256_setzero_pd() { return __m256d{_mm_setzero_pd(), _mm_setzero_pd()}; }
inline __m256d _mm256_setr_pd(double a, double b, double c, double d) {
  return __m256d{_mm_setr_pd(a, b), _mm_setr_pd(c, d)};
}
inline __m256d _mm256_set_pd(double d, double c, double b, double a) { return _mm256_setr_pd(a, b, c, d); }
inline __m256d _mm256_broadcast_sd(const double* p) { return _mm256_set1_pd(*p); }
inline __m256d _mm256_loadu_pd(const double* p) { return __m256d{_mm_loadu_pd(p), _mm_loadu_pd(p + 2)}; }
inline void _mm256_store_pd(double* p, __m256d v) { _mm_store_pd(p, v.lo), _mm_store_pd(p + 2, v.hi); }

#define EASEL_WIDE_WASM_BINARY(name, op) \
  inline __m256d name(__m256d a, __m256d b) { return __m256d{op(a.lo, b.lo), op(a.hi, b.hi)}; }
EASEL_WIDE_WASM_BINARY(_mm256_add_pd, _mm_add_pd)
EASEL_WIDE_WASM_BINARY(_mm256_sub_pd, _mm_sub_pd)
EASEL_WIDE_WASM_BINARY(_mm256_mul_pd, _mm_mul_pd)
EASEL_WIDE_WASM_BINARY(_mm256_div_pd, _mm_div_pd)
EASEL_WIDE_WASM_BINARY(_mm256_and_pd, _mm_and_pd)
EASEL_WIDE_WASM_BINARY(_mm256_or_pd, _mm_or_pd)
EASEL_WIDE_WASM_BINARY(_mm256_andnot_pd, _mm_andnot_pd)
#undef EASEL_WIDE_WASM_BINARY

inline __m256d _mm256_sqrt_pd(__m256d a) { return __m256d{_mm_sqrt_pd(a.lo), _mm_sqrt_pd(a.hi)}; }
inline __m256d _mm256_blendv_pd(__m256d a, __m256d b, __m256d mask) {
  return __m256d{_mm_blendv_pd(a.lo, b.lo, mask.lo), _mm_blendv_pd(a.hi, b.hi, mask.hi)};
}
inline int _mm256_movemask_pd(__m256d a) {
  return static_cast<int>(wasm_i64x2_bitmask((v128_t)a.lo) | wasm_i64x2_bitmask((v128_t)a.hi) << 2);
}

inline __m256d _mm256_cvtps_pd(__m128 a) { return __m256d{_mm_cvtps_pd(a), _mm_cvtps_pd(_mm_movehl_ps(a, a))}; }
inline __m128 _mm256_cvtpd_ps(__m256d a) { return _mm_movelh_ps(_mm_cvtpd_ps(a.lo), _mm_cvtpd_ps(a.hi)); }
inline __m256d _mm256_cvtepi32_pd(__m128i a) {
  return __m256d{_mm_cvtepi32_pd(a), _mm_cvtepi32_pd(_mm_unpackhi_epi64(a, a))};
}
inline __m128i _mm256_cvttpd_epi32(__m256d a) {
  return _mm_unpacklo_epi64(wide_wasm::cvttpd_epi32(a.lo), wide_wasm::cvttpd_epi32(a.hi));
}

namespace wide_wasm {

template <int IMM>
inline __m256d cmp_pd(__m256d a, __m256d b) {
  static_assert(IMM == _CMP_LT_OQ || IMM == _CMP_GE_OQ || IMM == _CMP_GT_OQ || IMM == _CMP_NGT_UQ,
                "a comparison of _mm256_cmp_pd not translated");
  if (IMM == _CMP_LT_OQ) return __m256d{_mm_cmplt_pd(a.lo, b.lo), _mm_cmplt_pd(a.hi, b.hi)};
  if (IMM == _CMP_GE_OQ) return __m256d{_mm_cmpge_pd(a.lo, b.lo), _mm_cmpge_pd(a.hi, b.hi)};
  if (IMM == _CMP_GT_OQ) return __m256d{_mm_cmpgt_pd(a.lo, b.lo), _mm_cmpgt_pd(a.hi, b.hi)};
  return __m256d{(__m128d)wasm_v128_not(wasm_f64x2_gt((v128_t)a.lo, (v128_t)b.lo)),
                 (__m128d)wasm_v128_not(wasm_f64x2_gt((v128_t)a.hi, (v128_t)b.hi))};
}

template <int IMM>
inline __m256d round_pd(__m256d a) {
  static_assert(IMM == (_MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), "a rounding of _mm256_round_pd not translated");
  return __m256d{(__m128d)wasm_f64x2_trunc((v128_t)a.lo), (__m128d)wasm_f64x2_trunc((v128_t)a.hi)};
}

// Lanes chosen within each half by the immediate's bits, two per half.
template <int IMM>
inline __m256d permute_pd(__m256d a) {
  return __m256d{(__m128d)wasm_i64x2_shuffle((v128_t)a.lo, (v128_t)a.lo, IMM & 1, IMM >> 1 & 1),
                 (__m128d)wasm_i64x2_shuffle((v128_t)a.hi, (v128_t)a.hi, IMM >> 2 & 1, IMM >> 3 & 1)};
}

// Lanes chosen across both halves, two bits each.
template <int IMM>
inline __m256d permute4x64_pd(__m256d a) {
  return __m256d{(__m128d)wasm_i64x2_shuffle((v128_t)a.lo, (v128_t)a.hi, IMM & 3, IMM >> 2 & 3),
                 (__m128d)wasm_i64x2_shuffle((v128_t)a.lo, (v128_t)a.hi, IMM >> 4 & 3, IMM >> 6 & 3)};
}

// Lane k from b where bit k of the immediate is set, else from a.
template <int IMM>
inline __m256d blend_pd(__m256d a, __m256d b) {
  return __m256d{(__m128d)wasm_i64x2_shuffle((v128_t)a.lo, (v128_t)b.lo, IMM & 1 ? 2 : 0, IMM & 2 ? 3 : 1),
                 (__m128d)wasm_i64x2_shuffle((v128_t)a.hi, (v128_t)b.hi, IMM & 4 ? 2 : 0, IMM & 8 ? 3 : 1)};
}

}  // namespace wide_wasm

#define _mm256_cmp_pd(a, b, imm) wide_wasm::cmp_pd<(imm)>((a), (b))
#define _mm256_round_pd(a, imm) wide_wasm::round_pd<(imm)>(a)
#define _mm256_permute_pd(a, imm) wide_wasm::permute_pd<(imm)>(a)
#define _mm256_permute4x64_pd(a, imm) wide_wasm::permute4x64_pd<(imm)>(a)
#define _mm256_blend_pd(a, b, imm) wide_wasm::blend_pd<(imm)>((a), (b))
inline __m256d _mm256_movedup_pd(__m256d a) { return _mm256_permute_pd(a, 0); }

// The AVX and AVX2 operations on 128-bit registers.
inline __m128 _mm_permutevar_ps(__m128 a, __m128i lanes) {
  // Each word's lane times four in all its bytes, plus the byte's place in the word.
  const v128_t bytes = wasm_i32x4_add(wasm_i32x4_mul(wasm_v128_and(lanes, wasm_i32x4_splat(3)), wasm_i32x4_splat(0x04040404)),
                                      wasm_i32x4_splat(0x03020100));
  return (__m128)wasm_i8x16_swizzle((v128_t)a, bytes);
}

namespace wide_wasm {

template <int SCALE>
inline __m128 gather_ps(const float* base, __m128i at) {
  static_assert(SCALE == 4, "a scale of _mm_i32gather_ps not translated");
  return (__m128)wasm_f32x4_make(base[wasm_i32x4_extract_lane(at, 0)], base[wasm_i32x4_extract_lane(at, 1)],
                         base[wasm_i32x4_extract_lane(at, 2)], base[wasm_i32x4_extract_lane(at, 3)]);
}

template <int SCALE>
inline __m128i gather_epi32(const int* base, __m128i at) {
  static_assert(SCALE == 4, "a scale of _mm_i32gather_epi32 not translated");
  return wasm_i32x4_make(base[wasm_i32x4_extract_lane(at, 0)], base[wasm_i32x4_extract_lane(at, 1)],
                         base[wasm_i32x4_extract_lane(at, 2)], base[wasm_i32x4_extract_lane(at, 3)]);
}

}  // namespace wide_wasm

#define _mm_i32gather_ps(base, at, scale) wide_wasm::gather_ps<(scale)>((base), (at))
#define _mm_i32gather_epi32(base, at, scale) wide_wasm::gather_epi32<(scale)>((base), (at))
#endif
