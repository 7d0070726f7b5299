// The smudge's disc with AVX2, for the packed layout: the same pixels as
// PixelRow's walk in smudge.cpp, a pixel's channels side by side.
#include "paint/smudge_rows.h"

#ifdef EASEL_WIDE
namespace {

// A row on the wide path, columns from col by STEP: PixelRow's pixels with
// smear_rows's operations, a pixel's channels side by side. A pixel's 2 x 2 pixels often include the one
// written just before, so the lanes of the last two written stay in
// registers: the next mix does not wait for a store, a reload and a
// conversion. A blended lane is below 256 (a mix of bytes blended with a byte,
// plus 0.5), so its truncation is the byte stored; the spare lane differs, but
// no lane reaches another and that one is never stored.
//
// A row that samples only other rows reads nothing it writes, so its pixels
// go four at a time, a byte lane of four pixels per register, where their
// columns sample four neighbouring 2 x 2 squares.

// Pixel c of the row being written, written back steps ago: the lanes of the
// last two pixels blended, or the pixel as memory has it.
EASEL_WIDE_TARGET inline __m256d recent_lanes(const uint32_t* line, int c, int back, __m256d back1,
                                              __m256d back2) {
  if (back == 1) return back1;
  if (back == 2) return back2;
  return wide_lanes(line[c]);
}

// Where four pixels at the columns cols sample: the left columns of their
// 2 x 2 pixels and the weights of those, a pixel per lane, as the wide
// smear works them out one by one; on has a bit for each pixel whose 2 x 2
// pixels are all on the image.
struct FourSamples {
  __m128i x0;
  __m256d w00, w10, w01, w11;
  int on;
};

EASEL_WIDE_TARGET inline FourSamples sample_four(__m128i cols, float dx, int w, __m256d wfy, __m256d wfy1) {
  const __m128 sx = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtepi32_pd(cols), _mm256_set1_pd(dx)));
  const __m128 fx0 = _mm_floor_ps(sx);
  const __m256d fx0d = _mm256_cvtps_pd(fx0);
  const __m256d on = _mm256_and_pd(_mm256_cmp_pd(fx0d, _mm256_setzero_pd(), _CMP_GE_OQ),
                                   _mm256_cmp_pd(_mm256_add_pd(fx0d, _mm256_set1_pd(1.0001)),
                                                 _mm256_set1_pd(static_cast<double>(w)), _CMP_LT_OQ));
  const __m128i x0 = _mm_cvttps_epi32(fx0);
  const __m256d fx = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_sub_pd(_mm256_cvtps_pd(sx), _mm256_cvtepi32_pd(x0))));
  const __m256d fx1 = _mm256_sub_pd(_mm256_set1_pd(1.0), fx);
  return FourSamples{x0,
                     _mm256_mul_pd(fx1, wfy1),
                     _mm256_mul_pd(fx, wfy1),
                     _mm256_mul_pd(fx1, wfy),
                     _mm256_mul_pd(fx, wfy),
                     _mm256_movemask_pd(on)};
}

// The pixels first..first + 3 of line, which samples neither top nor bottom;
// false, changing nothing, unless all four sample on the image and their
// squares' left columns are neighbours.
EASEL_WIDE_TARGET inline bool smear_four(uint32_t* line, const uint32_t* top, const uint32_t* bottom, int first,
                                         float dx, int w, __m256d wfy, __m256d wfy1, __m256d cov, __m256d keep) {
  const __m128i steps = _mm_setr_epi32(0, 1, 2, 3);
  const FourSamples f = sample_four(_mm_add_epi32(_mm_set1_epi32(first), steps), dx, w, wfy, wfy1);
  if (f.on != 0xF) return false;
  const int left = _mm_cvtsi128_si32(f.x0);
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(f.x0, _mm_add_epi32(_mm_set1_epi32(left), steps))) != 0xFFFF) return false;
  const __m256d w00 = f.w00, w10 = f.w10, w01 = f.w01, w11 = f.w11;
  const __m128i q00 = load4(top + left), q10 = load4(top + left + 1);
  const __m128i q01 = load4(bottom + left), q11 = load4(bottom + left + 1), old = load4(line + first);
  __m128i lane[3];
  // Unrolled, so that each lane's byte shuffle is a constant.
#pragma GCC unroll 3
  for (int b = 0; b < 3; ++b) {
    __m256d mix = _mm256_add_pd(_mm256_mul_pd(w00, byte_lane(q00, b)), _mm256_mul_pd(w10, byte_lane(q10, b)));
    mix = _mm256_add_pd(mix, _mm256_mul_pd(w01, byte_lane(q01, b)));
    mix = _mm256_add_pd(mix, _mm256_mul_pd(w11, byte_lane(q11, b)));
    mix = _mm256_cvtps_pd(_mm256_cvtpd_ps(mix));
    const __m256d v = _mm256_add_pd(_mm256_mul_pd(byte_lane(old, b), keep), _mm256_mul_pd(mix, cov));
    lane[b] = _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
  }
  store4(line + first, from_byte_lanes(lane[0], lane[1], lane[2]));
  return true;
}

// A row being smudged on the wide path and what it samples.
struct WideLine {
  uint32_t* line;
  const uint32_t *top, *bottom;
  int w;
  float dx;
  bool top_live, bottom_live;  // whether the row samples itself
  __m256d wfy, wfy1, cov, keep;

  // Pixel col of the walk by STEP, the pixels one and two steps back with
  // the lanes back1 and back2; gives its lanes as they are now.
  template <int STEP>
  EASEL_WIDE_TARGET __m256d smear(int col, __m256d back1, __m256d back2) const {
    const float sx = static_cast<float>(col + static_cast<double>(dx));
    const double fx0 = std::floor(sx);
    if (!(fx0 >= 0 && fx0 + 1.0001 < w)) return wide_lanes(line[col]);
    const int x0 = static_cast<int>(fx0);
    const __m256d wfx = _mm256_set1_pd(static_cast<float>(sx - static_cast<double>(x0)));
    const __m256d wfx1 = _mm256_sub_pd(_mm256_set1_pd(1.0), wfx);
    return blend<STEP>(col, x0, _mm256_mul_pd(wfx1, wfy1), _mm256_mul_pd(wfx, wfy1), _mm256_mul_pd(wfx1, wfy),
                       _mm256_mul_pd(wfx, wfy), back1, back2);
  }

  // smear for a pixel whose 2 x 2 pixels, from column x0, are on the image
  // and have the weights w00, w10, w01, w11.
  template <int STEP>
  EASEL_WIDE_TARGET __m256d blend(int col, int x0, __m256d w00, __m256d w10, __m256d w01, __m256d w11, __m256d back1,
                                  __m256d back2) const {
    uint32_t* p = line + col;
    const __m256d old = wide_lanes(*p);
    const int back = (col - x0) * STEP;  // how many steps ago this row wrote pixel x0
    const __m256d c00 = top_live ? recent_lanes(top, x0, back, back1, back2) : wide_lanes(top[x0]);
    const __m256d c10 =
        top_live ? recent_lanes(top, x0 + 1, back - STEP, back1, back2) : wide_lanes(top[x0 + 1]);
    const __m256d c01 = bottom_live ? recent_lanes(bottom, x0, back, back1, back2) : wide_lanes(bottom[x0]);
    const __m256d c11 =
        bottom_live ? recent_lanes(bottom, x0 + 1, back - STEP, back1, back2) : wide_lanes(bottom[x0 + 1]);
    return mix_into(p, old, w00, w10, w01, w11, c00, c10, c01, c11);
  }

  // Blends *p, whose lanes are old, towards the mix of c00 .. c11 weighted by
  // w00 .. w11; gives its lanes as they are now.
  EASEL_WIDE_TARGET __m256d mix_into(uint32_t* p, __m256d old, __m256d w00, __m256d w10, __m256d w01, __m256d w11,
                                     __m256d c00, __m256d c10, __m256d c01, __m256d c11) const {
    __m256d mix = _mm256_add_pd(_mm256_mul_pd(w00, c00), _mm256_mul_pd(w10, c10));
    mix = _mm256_add_pd(mix, _mm256_mul_pd(w01, c01));
    mix = _mm256_add_pd(mix, _mm256_mul_pd(w11, c11));
    mix = _mm256_cvtps_pd(_mm256_cvtpd_ps(mix));
    const __m256d v =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(old, keep), _mm256_mul_pd(mix, cov)), _mm256_set1_pd(0.5));
    __m128i c = _mm256_cvttpd_epi32(v);
    c = _mm_packus_epi16(_mm_packus_epi32(c, c), c);
    *p = static_cast<uint32_t>(_mm_cvtsi128_si32(c)) & 0x00FFFFFFu;
    return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  }
};

// Whether the walk by STEP is still on the row's columns at c.
template <int STEP>
inline bool on_row(const WideLine& l, int c, double stop) {
  return STEP < 0 ? c > stop && c >= 0 : c <= stop && c < l.w;
}

// The two kinds of row walk are kept out of line, each with its own
// registers: one loop holding both spilled the lanes carried between pixels.
template <int STEP>
EASEL_WIDE_ROW void still_row_wide(const WideLine& l, int col, double stop) {
  const __m256d none = _mm256_setzero_pd();
  while (on_row<STEP>(l, col, stop)) {
    if (on_row<STEP>(l, col + 3 * STEP, stop) &&
        smear_four(l.line, l.top, l.bottom, STEP < 0 ? col - 3 : col, l.dx, l.w, l.wfy, l.wfy1, l.cov, l.keep)) {
      col += 4 * STEP;
    } else {
      l.smear<STEP>(col, none, none);
      col += STEP;
    }
  }
}

// The lanes of the row's pixel c as they are now; zero off the image, where
// no pixel samples.
EASEL_WIDE_TARGET inline __m256d lanes_at(const WideLine& l, int c) {
  return c >= 0 && c < l.w ? wide_lanes(l.line[c]) : _mm256_setzero_pd();
}

// A walk along a row that samples itself, BOTTOM: as the bottom of its
// pixels' 2 x 2 pixels, else as the top. The last two pixels blended are
// carried in lanes (back1, back2); at the start these hold the two pixels
// before the first as memory has them, so no count of pixels done is needed.
// Most pixels sample from the column BACK steps back (BACK < 0: none is taken
// for usual): four such pixels in a row are blended with their sources known
// without a test; other pixels go one by one as blend does it.
template <int STEP, bool BOTTOM, int BACK>
struct LiveWalk {
  const WideLine& l;
  int col;
  double stop;
  __m256d back1, back2;
  alignas(32) double w00[4], w10[4], w01[4], w11[4];
  alignas(16) int x0[4];
  int on;
  bool usual;

  EASEL_WIDE_TARGET LiveWalk(const WideLine& line, int first, double last)
      : l(line), col(first), stop(last), back1(lanes_at(line, first - STEP)), back2(lanes_at(line, first - 2 * STEP)) {}

  bool four_left() const { return on_row<STEP>(l, col + 3 * STEP, stop); }
  bool left() const { return on_row<STEP>(l, col, stop); }

  // Where the next four pixels sample.
  EASEL_WIDE_TARGET void look() {
    const __m128i cols = _mm_add_epi32(_mm_set1_epi32(col), _mm_setr_epi32(0, STEP, 2 * STEP, 3 * STEP));
    const FourSamples f = sample_four(cols, l.dx, l.w, l.wfy, l.wfy1);
    _mm256_store_pd(w00, f.w00), _mm256_store_pd(w10, f.w10), _mm256_store_pd(w01, f.w01);
    _mm256_store_pd(w11, f.w11), _mm_store_si128(reinterpret_cast<__m128i*>(x0), f.x0);
    on = f.on;
    usual = BACK >= 0 && f.on == 0xF &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(f.x0, _mm_sub_epi32(cols, _mm_set1_epi32(BACK * STEP)))) == 0xFFFF;
  }

  // Pixel i of the four looked at, when they are usual.
  EASEL_WIDE_TARGET void usual_pixel(int i) {
    const int c = col + i * STEP, x = c - BACK * STEP;
    const uint32_t* other = BOTTOM ? l.top : l.bottom;
    const __m256d old = wide_lanes(l.line[c]);
    const __m256d o0 = wide_lanes(other[x]), o1 = wide_lanes(other[x + 1]);
    // This row's pixels x and x + 1 were blended BACK and BACK - STEP steps ago, or are still to be.
    const __m256d s0 = BACK == 0 ? old : BACK == 1 ? back1 : back2;
    const __m256d s1 = BACK - STEP == 0 ? old : BACK - STEP == 1 ? back1 : back2;
    const __m256d now = l.mix_into(l.line + c, old, _mm256_broadcast_sd(w00 + i), _mm256_broadcast_sd(w10 + i),
                                   _mm256_broadcast_sd(w01 + i), _mm256_broadcast_sd(w11 + i), BOTTOM ? o0 : s0,
                                   BOTTOM ? o1 : s1, BOTTOM ? s0 : o0, BOTTOM ? s1 : o1);
    back2 = back1;
    back1 = now;
  }

  // Pixel i of the four looked at, as blend does it.
  EASEL_WIDE_TARGET void odd_pixel(int i) {
    const int c = col + i * STEP;
    const __m256d now = on >> i & 1 ? l.blend<STEP>(c, x0[i], _mm256_broadcast_sd(w00 + i),
                                                     _mm256_broadcast_sd(w10 + i), _mm256_broadcast_sd(w01 + i),
                                                     _mm256_broadcast_sd(w11 + i), back1, back2)
                                    : wide_lanes(l.line[c]);
    back2 = back1;
    back1 = now;
  }

  EASEL_WIDE_TARGET void pixel(int i) { usual ? usual_pixel(i) : odd_pixel(i); }

  EASEL_WIDE_TARGET void four() {
    look();
    for (int i = 0; i < 4; ++i) pixel(i);
    col += 4 * STEP;
  }

  // The rest of the row.
  EASEL_WIDE_TARGET void rest() {
    while (four_left()) four();
    for (; left(); col += STEP) {
      const __m256d now = l.smear<STEP>(col, back1, back2);
      back2 = back1;
      back1 = now;
    }
  }
};

// One row that samples itself (lb null), or two, a then b, walked side by side: each
// pixel waits on the one before it in its row, so two rows keep the
// processor busy where one leaves it waiting. b trails a by lag columns at
// least, so every pixel of a that b reads is final when b reads it, and every
// pixel of b that a reads is read before b writes it: the same bits as a's
// walk and then b's.
template <int STEP, bool BOTTOM, int BACK>
EASEL_WIDE_ROW void live_rows_wide(const WideLine& la, int col_a, double stop_a, const WideLine* lb, int col_b,
                                   double stop_b, int lag) {
  LiveWalk<STEP, BOTTOM, BACK> a(la, col_a, stop_a);
  if (!lb) {
    a.rest();
    return;
  }
  LiveWalk<STEP, BOTTOM, BACK> b(*lb, col_b, stop_b);
  auto ahead = [&] { return STEP > 0 ? a.col >= b.col + lag : a.col <= b.col - lag; };
  while (!ahead() && a.four_left()) a.four();
  if (ahead()) {
    while (a.four_left() && b.four_left()) {
      a.look();
      b.look();
      for (int i = 0; i < 4; ++i) a.pixel(i), b.pixel(i);
      a.col += 4 * STEP, b.col += 4 * STEP;
    }
  }
  a.rest();
  b.rest();
}

// The column back from which a row's pixels usually sample: walking right,
// one or two; walking left, none or one; -1 for any other.
template <int STEP>
inline int usual_back(const WideLine& l, int col) {
  const int back = (col - static_cast<int>(std::floor(static_cast<float>(col + static_cast<double>(l.dx))))) * STEP;
  return back == (STEP > 0 ? 1 : 0) || back == (STEP > 0 ? 2 : 1) ? back : -1;
}

// live_rows_wide for the rows' usual column back.
template <int STEP, bool BOTTOM>
EASEL_WIDE_TARGET inline void live_rows(int back, const WideLine& a, int col_a, double stop_a, const WideLine* b,
                                        int col_b, double stop_b, int lag) {
  constexpr int ONE = STEP > 0 ? 1 : 0, TWO = STEP > 0 ? 2 : 1;
  if (back == ONE)
    live_rows_wide<STEP, BOTTOM, ONE>(a, col_a, stop_a, b, col_b, stop_b, lag);
  else if (back == TWO)
    live_rows_wide<STEP, BOTTOM, TWO>(a, col_a, stop_a, b, col_b, stop_b, lag);
  else
    live_rows_wide<STEP, BOTTOM, -1>(a, col_a, stop_a, b, col_b, stop_b, lag);
}

// PixelRow on the wide path. A row that samples itself is held until the
// next row comes, to be walked beside it when that one samples itself the
// same way.
struct WideRow {
  const Surface& s;
  float x, dx, k;
  bool holding = false;
  WideLine held;  // not cleared: a row is held only once set, and most discs hold none
  int held_col = 0, held_back = 0;
  double held_stop = 0;

  WideRow(const Surface& surface, float cx, float drag, float coverage) : s(surface), x(cx), dx(drag), k(coverage) {}

  template <int STEP>
  EASEL_WIDE_TARGET void walk(const WideLine& l, int col, double stop) {
    if (!l.top_live && !l.bottom_live) {
      finish_as<STEP>();
      still_row_wide<STEP>(l, col, stop);
      return;
    }
    const int back = usual_back<STEP>(l, col);
    if (holding && held.bottom_live == l.bottom_live && held_back == back) {
      holding = false;
      // Where the first row reads the second, the second waits until the first
      // has passed every pixel that reads what it is about to write.
      const bool reads_b = held.top == l.line || held.bottom == l.line;
      const int lag = reads_b ? static_cast<int>(std::fabs(static_cast<double>(dx))) + 3 : 1;
      if (l.bottom_live)
        live_rows<STEP, true>(back, held, held_col, held_stop, &l, col, stop, lag);
      else
        live_rows<STEP, false>(back, held, held_col, held_stop, &l, col, stop, lag);
      return;
    }
    finish_as<STEP>();
    holding = true, held = l, held_col = col, held_stop = stop, held_back = back;
  }

  template <int STEP>
  EASEL_WIDE_TARGET void finish_as() {
    if (!holding) return;
    holding = false;
    if (held.bottom_live)
      live_rows<STEP, true>(held_back, held, held_col, held_stop, nullptr, 0, 0, 0);
    else
      live_rows<STEP, false>(held_back, held, held_col, held_stop, nullptr, 0, 0, 0);
  }
  EASEL_WIDE_TARGET void finish() {
    if (dx >= 0)
      finish_as<-1>();
    else
      finish_as<1>();
  }

  EASEL_WIDE_TARGET void operator()(int row, float sy, float half) {
    double stop;
    const int col = first_column(x, half, dx, s.w, &stop);
    if (!std::isfinite(sy)) return;
    const double fy0 = std::floor(sy);
    if (!(fy0 >= 0 && fy0 + 1.0001 < s.h)) return;
    const int y0 = static_cast<int>(fy0);
    const __m256d wfy = _mm256_set1_pd(static_cast<float>(sy - static_cast<double>(y0)));
    const __m256d cov = _mm256_set1_pd(k);
    const WideLine l = {image_row(s.image, row),
                        image_row(s.image, y0),
                        image_row(s.image, y0 + 1),
                        s.w,
                        dx,
                        y0 == row,
                        y0 + 1 == row,
                        wfy,
                        _mm256_sub_pd(_mm256_set1_pd(1.0), wfy),
                        cov,
                        _mm256_sub_pd(_mm256_set1_pd(1.0), cov)};
    if (dx >= 0)
      walk<-1>(l, col, stop);
    else
      walk<1>(l, col, stop);
  }
};

}  // namespace

EASEL_WIDE_LOOP void smudge_rows_wide(const Surface& surface, float radius, float k, float x, float y, float dx,
                                      float dy) {
  smudge_rows(surface, WideRow(surface, x, dx, k), radius, x, y, dy, true);
}
#endif
