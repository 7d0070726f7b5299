// The bilinear deposit, a span's blend and the pieces of the smudge's
// read-and-blend with AVX2, for processors that have it (asked at run time: the build targets plain x86-64),
// and with WebAssembly's 128-bit SIMD where the build has it (wide_wasm.h translates).
// A 256-bit register holds a channel of four pixels, or the channels of one, and
// each lane does the plain path's double operations in its order, rounding to
// float where it rounds, so the bits are the plain path's.
//
// Everything here is compiled for AVX2 and must run only when engine_wide()
// says so (engine_paths.h). A function marked EASEL_WIDE_LOOP inlines what it calls, so its
// loops reach these without a call per pixel.
#pragma once
#if (defined(__x86_64__) && defined(__GNUC__)) || (defined(__wasm_simd128__) && defined(__SSE4_1__))
#define EASEL_WIDE 1
#include <immintrin.h>

#include <cstdint>
#include <cstdlib>

#include "paint/engine_paths.h"
#include "paint/splat_packed.h"

#ifdef __wasm__
#define EASEL_WIDE_TARGET
#define EASEL_WIDE_LOOP __attribute__((flatten))
#define EASEL_WIDE_ROW __attribute__((flatten, noinline))
#else
#define EASEL_WIDE_TARGET __attribute__((target("avx2")))
// Inlines everything it calls, so the loops handed to it run on the wide path.
#define EASEL_WIDE_LOOP __attribute__((target("avx2"), flatten))
// EASEL_WIDE_LOOP kept out of line.
#define EASEL_WIDE_ROW __attribute__((target("avx2"), flatten, noinline))
#endif

// A colour and the channel shifts, laid out once per loop.
// With every channel in a byte of its own, take[c] gathers channel c of four
// pixels into four words and put[c] moves them back; byte_lanes moves the
// r, g, b, 0 of four floats into the pixel's byte lanes and channels back.
struct WideInk {
  float r, g, b;
  int r_shift, g_shift, b_shift;
  bool bytes;
  __m128i take[3], put[3];
  __m128i byte_lanes, channels;
};

inline WideInk wide_ink(float r, float g, float b) {
  WideInk ink{r, g, b, PIXEL_RED_SHIFT, PIXEL_GREEN_SHIFT, PIXEL_BLUE_SHIFT, packed_layout(), {}, {}, {}, {}};
  const int shifts[3] = {ink.r_shift, ink.g_shift, ink.b_shift};
  alignas(16) int byte_lanes[4] = {3, 3, 3, 3}, channels[4] = {3, 3, 3, 3};
  for (int c = 0; c < 3 && ink.bytes; ++c) byte_lanes[shifts[c] / 8] = c, channels[c] = shifts[c] / 8;
  ink.byte_lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(byte_lanes));
  ink.channels = _mm_load_si128(reinterpret_cast<const __m128i*>(channels));
  for (int c = 0; c < 3; ++c) {
    alignas(16) int8_t take[16], put[16];
    for (int k = 0; k < 16; ++k) {
      const int byte = shifts[c] / 8, word = k & ~3;
      take[k] = static_cast<int8_t>(k % 4 == 0 ? word + byte : -1);
      put[k] = static_cast<int8_t>(k % 4 == byte ? word : -1);
    }
    ink.take[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(take));
    ink.put[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(put));
  }
  return ink;
}

// Four random draws as doubles, exactly (AVX2 converts only signed words).
EASEL_WIDE_TARGET inline __m256d wide_draws(__m128i raw) {
  return _mm256_add_pd(_mm256_cvtepi32_pd(_mm_xor_si128(raw, _mm_set1_epi32(INT32_MIN))),
                       _mm256_set1_pd(2147483648.0));
}

// The 2 x 2 pixels as four words: top[0], top[1], bottom[0], bottom[1].
EASEL_WIDE_TARGET inline __m128i load_square(const uint32_t* top, const uint32_t* bottom) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom)));
}

EASEL_WIDE_TARGET inline void store_square(uint32_t* top, uint32_t* bottom, __m128i square) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(top), square);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom), _mm_unpackhi_epi64(square, square));
}

// One channel of four pixels blended with the four coverages and rounded, per lane.
EASEL_WIDE_TARGET inline __m128i blend_lanes(__m256d old, __m256d keep, __m256d cov, float ink) {
  __m256d v = _mm256_add_pd(_mm256_mul_pd(old, keep), _mm256_mul_pd(_mm256_set1_pd(ink), cov));
  return _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
}

// blend_lanes on the channel at shift, put back there.
EASEL_WIDE_TARGET inline __m128i wide_channel(__m128i pixels, int shift, __m256d keep, __m256d cov, float ink) {
  const __m128i count = _mm_cvtsi32_si128(shift);
  __m256d old = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(pixels, count), _mm_set1_epi32(0xFF)));
  return _mm_sll_epi32(blend_lanes(old, keep, cov, ink), count);
}

// splat_rows's blends with the coverages of splat_coverages, none above 0.999.
EASEL_WIDE_TARGET inline void blend_square_wide(uint32_t* top, uint32_t* bottom, __m128 covs, const WideInk& ink) {
  const __m128i pixels = load_square(top, bottom);
  const __m256d cov = _mm256_cvtps_pd(covs), keep = _mm256_sub_pd(_mm256_set1_pd(1.0), cov);
  __m128i out = _mm_or_si128(wide_channel(pixels, ink.r_shift, keep, cov, ink.r),
                             wide_channel(pixels, ink.g_shift, keep, cov, ink.g));
  store_square(top, bottom, _mm_or_si128(out, wide_channel(pixels, ink.b_shift, keep, cov, ink.b)));
}

// blend_square_wide with byte shuffles in place of shifts, for an ink with
// bytes set whose channels and coverages keep every result within 0..255.
EASEL_WIDE_TARGET inline void blend_square_bytes(uint32_t* top, uint32_t* bottom, __m128 covs, const WideInk& ink) {
  const __m128i pixels = load_square(top, bottom);
  const __m256d cov = _mm256_cvtps_pd(covs), keep = _mm256_sub_pd(_mm256_set1_pd(1.0), cov);
  const float channels[3] = {ink.r, ink.g, ink.b};
  __m128i out = _mm_setzero_si128();
  for (int c = 0; c < 3; ++c) {
    __m256d old = _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, ink.take[c]));
    out = _mm_or_si128(out, _mm_shuffle_epi8(blend_lanes(old, keep, cov, channels[c]), ink.put[c]));
  }
  store_square(top, bottom, out);
}

// splat_rows with the coverages of splat_coverages.
EASEL_WIDE_TARGET inline void splat_rows_wide(uint32_t* top, uint32_t* bottom, float fx, float fy, const WideInk& ink,
                                              float weight) {
  __m128 covs = splat_coverages(fx, fy, weight);
  if (_mm_movemask_ps(_mm_cmpgt_ps(covs, _mm_set1_ps(0.999f)))) {
    splat_rows(top, bottom, fx, fy, ink.r, ink.g, ink.b, weight);
    return;
  }
  blend_square_wide(top, bottom, covs, ink);
}

// A pixel's channel bytes as four doubles.
EASEL_WIDE_TARGET inline __m256d wide_lanes(uint32_t pixel) {
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(pixel))));
}

EASEL_WIDE_TARGET inline __m128i load4(const uint32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

EASEL_WIDE_TARGET inline void store4(uint32_t* p, __m128i pixels) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), pixels);
}

// Byte lane b of four pixels as doubles.
EASEL_WIDE_TARGET inline __m256d byte_lane(__m128i pixels, int b) {
  const __m128i take = _mm_setr_epi8(static_cast<char>(b), -1, -1, -1, static_cast<char>(4 + b), -1, -1, -1,
                                     static_cast<char>(8 + b), -1, -1, -1, static_cast<char>(12 + b), -1, -1, -1);
  return _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, take));
}

// Four pixels from the words of their byte lanes 0, 1 and 2, saturated as
// the packed way saturates, the spare byte cleared.
EASEL_WIDE_TARGET inline __m128i from_byte_lanes(__m128i lane0, __m128i lane1, __m128i lane2) {
  const __m128i bytes =
      _mm_packus_epi16(_mm_packs_epi32(lane0, lane1), _mm_packs_epi32(lane2, _mm_setzero_si128()));
  return _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
}

// blend_row_ink, four pixels at a time where the packed way would take them one by one.
EASEL_WIDE_TARGET inline void blend_row_wide(uint32_t* row, int x1, int x2, const PackedRowInk& c, float coverage) {
  if (coverage > 0.999f || !c.packed) {
    blend_row_ink(row, x1, x2, c, coverage);
    return;
  }
  const __m256d cov = _mm256_set1_pd(coverage), keep = _mm256_sub_pd(_mm256_set1_pd(1.0), cov);
  const __m256d half = _mm256_set1_pd(0.5);
  __m256d ink[3];
  for (int b = 0; b < 3; ++b) ink[b] = _mm256_mul_pd(_mm256_set1_pd(packed_lane(b, c.r, c.g, c.b)), cov);
  int x = x1;
  for (; x + 3 <= x2; x += 4) {
    const __m128i old = load4(row + x);
    __m128i lane[3];
#pragma GCC unroll 3  // so that each lane's byte shuffle is a constant
    for (int b = 0; b < 3; ++b)
      lane[b] = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(byte_lane(old, b), keep), ink[b]), half));
    store4(row + x, from_byte_lanes(lane[0], lane[1], lane[2]));
  }
  for (; x <= x2; ++x) blend_in_place_packed(row + x, c.ink, coverage);
}

// splatPoint on an image.
EASEL_WIDE_TARGET inline void splat_wide(Image* image, float x, float y, const WideInk& ink, float weight) {
  uint32_t *top, *bottom;
  float fx, fy;
  if (splat_cell(image, x, y, &top, &bottom, &fx, &fy)) splat_rows_wide(top, bottom, fx, fy, ink, weight);
}

// An ink's channels in the byte lanes of a pixel (0 beyond the three).
EASEL_WIDE_TARGET inline __m256d ink_lanes(const WideInk& ink) {
  return _mm256_setr_pd(packed_lane(0, ink.r, ink.g, ink.b), packed_lane(1, ink.r, ink.g, ink.b),
                        packed_lane(2, ink.r, ink.g, ink.b), 0.0);
}

// bilinear_mix with the channels side by side: the byte lanes of the pixels'
// mix at the fractions fx, fy, rounded to floats.
EASEL_WIDE_TARGET inline __m128 bilinear_lanes(const uint32_t* top, const uint32_t* bottom, float fx, float fy) {
  const __m256d w00 = _mm256_set1_pd((1.0 - fx) * (1.0 - fy)), w10 = _mm256_set1_pd(fx * (1.0 - fy));
  const __m256d w01 = _mm256_set1_pd((1.0 - fx) * static_cast<double>(fy));
  const __m256d w11 = _mm256_set1_pd(static_cast<double>(fx) * fy);
  __m256d mix = _mm256_add_pd(_mm256_mul_pd(w00, wide_lanes(top[0])), _mm256_mul_pd(w10, wide_lanes(top[1])));
  mix = _mm256_add_pd(mix, _mm256_mul_pd(w01, wide_lanes(bottom[0])));
  return _mm256_cvtpd_ps(_mm256_add_pd(mix, _mm256_mul_pd(w11, wide_lanes(bottom[1]))));
}

// blend_in_place's result for one pixel of the packed layout, its channels side
// by side, with the coverage and 1 - coverage in every lane of cov and keep.
EASEL_WIDE_TARGET inline uint32_t pixel_lanes_blended(uint32_t old, __m256d ink, __m256d cov, __m256d keep) {
  const __m128i channel_bytes = _mm_setr_epi8(0, 4, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  __m256d v = _mm256_add_pd(_mm256_mul_pd(wide_lanes(old), keep), _mm256_mul_pd(ink, cov));
  __m128i c = _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(c, channel_bytes)));
}

EASEL_WIDE_TARGET inline void blend_pixel_lanes(uint32_t* p, __m256d ink, __m256d cov, __m256d keep) {
  *p = pixel_lanes_blended(*p, ink, cov, keep);
}

// blend_pixel_lanes with the coverage in lane K of covs.
template <int K>
EASEL_WIDE_TARGET inline void blend_pixel_lanes(uint32_t* p, __m256d ink, __m256d covs) {
  const __m256d cov = _mm256_permute4x64_pd(covs, K * 0x55);
  blend_pixel_lanes(p, ink, cov, _mm256_sub_pd(_mm256_set1_pd(1.0), cov));
}

// blend_square_bytes pixel by pixel, for the packed layout and an ink from
// ink_lanes: a dot next to the last one waits only for the pixels they share.
EASEL_WIDE_TARGET inline void blend_square_lanes(uint32_t* top, uint32_t* bottom, __m128 covs, __m256d ink) {
  const __m256d c = _mm256_cvtps_pd(covs);
  blend_pixel_lanes<0>(top, ink, c);
  blend_pixel_lanes<1>(top + 1, ink, c);
  blend_pixel_lanes<2>(bottom, ink, c);
  blend_pixel_lanes<3>(bottom + 1, ink, c);
}

// blend_square_lanes with the ink laid out inside: callers built without AVX
// cannot hand over the wide ink themselves.
EASEL_WIDE_TARGET inline void blend_square_pixels(uint32_t* top, uint32_t* bottom, __m128 covs, const WideInk& ink) {
  blend_square_lanes(top, bottom, covs, ink_lanes(ink));
}
#endif
