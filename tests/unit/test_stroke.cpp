// The stroke walker, the packed blends, the pen and the stroke preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "guarded_bitmap.h"
#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/dirty_rect.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/splat.h"
#include "paint/splat_wide.h"
#include "paint/stamp.h"
#include "paint/stroke.h"
#include "test_support.h"

// One segment walked with a spacing and a carried offset: the offset left
// for the next segment, the samples' count, the first and the last. A single
// point gives one sample unless an offset is pending; past the last segment,
// or without points, there is none; a segment shorter than the offset only
// uses it up. A zero-length segment gives one sample that is not a number, and
// the carried spacing then swallows the next. The buffer limit ends a segment.
TEST(StrokeWalk, SamplesOfOneSegment) {
  const struct {
    std::vector<int16_t> xs, ys;
    unsigned i;
    float spacing, offset, left;
    int count;
    float first[2], last[2];
  } cases[] = {{{3, 13}, {7, 7}, 0, 1, 0, 1, 11, {3, 7}, {13, 7}},
               {{0, 6}, {0, 8}, 0, 1, 0.5f, 0.5f, 10, {0.3f, 0.4f}, {5.7f, 7.6f}},
               {{3, 13}, {7, 7}, 0, 5, 12, 2, 0, {}, {}},
               {{5}, {6}, 0, 1, 0, 1, 1, {5, 6}, {5, 6}},
               {{5}, {6}, 0, 1, 0.5f, 0.5f, 0, {}, {}},
               {{5, 9}, {6, 1}, 1, 1, 0.25f, 0.25f, 0, {}, {}},
               {{5, 9, 20, 4}, {6, 1, 8, 30}, 3, 1, 0.25f, 0.25f, 0, {}, {}},
               {{}, {}, 0, 1, 0.25f, 0.25f, 0, {}, {}},
               {{40, 40}, {9, 9}, 0, 1, 0, 1, 1, {NAN, NAN}, {NAN, NAN}},
               {{40, 40, 40}, {9, 9, 9}, 1, 1, 1, 1, 0, {}, {}},
               {{0, 10000}, {0, 0}, 0, 1, 0, 0, STROKE_SAMPLES_MAX, {0, 0}, {8191, 0}}};
  auto near = [](double want, float got) { return std::isnan(want) ? std::isnan(got) : std::fabs(want - got) < 1e-5; };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.xs.size() << " points, segment " << c.i << " offset " << c.offset);
    EXPECT_FLOAT_EQ(c.left, sampleSegment(c.xs.data(), c.ys.data(), c.xs.size(), c.i, c.spacing, c.offset));
    ASSERT_EQ(c.count, StrokeSamples.count);
    // Evenly spaced along the segment.
    auto along = [&](int k, int axis) {
      return double(c.first[axis]) + (double(c.last[axis]) - c.first[axis]) * k / std::max(1, c.count - 1);
    };
    for (int k = 0; k < c.count; ++k) {
      ASSERT_TRUE(near(along(k, 0), StrokeSamples.x[k])) << k << ": " << StrokeSamples.x[k];
      ASSERT_TRUE(near(along(k, 1), StrokeSamples.y[k])) << k << ": " << StrokeSamples.y[k];
    }
  }
}

#ifdef __SSE2__
TEST(Splat, PackedBlendsMatchThePlainOnesBitForBit) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const int layouts[2][3] = {{_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32}, {16, 8, 0}};
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  for (const int* shifts : layouts) {
    _rgb_r_shift_32 = shifts[0], _rgb_g_shift_32 = shifts[1], _rgb_b_shift_32 = shifts[2];
    ASSERT_TRUE(packed_layout());
    for (int i = 0; i < 20000; ++i) {
      uint32_t plain[4], packed[4];
      for (int k = 0; k < 4; ++k) plain[k] = packed[k] = static_cast<uint32_t>(rng());
      float fx = unit(rng), fy = i % 50 ? unit(rng) : 0.0f, weight = unit(rng) * 1.2f;
      float r = unit(rng) * 255, g = unit(rng) * 255, b = unit(rng) * 255;
      splat_rows(plain, plain + 2, fx, fy, r, g, b, weight);
      splat_rows_packed(packed, packed + 2, fx, fy, packed_ink(r, g, b), weight);
      // The smudge's read-and-blend, onto one of the pixels it reads.
      float coverage = unit(rng) * 0.999f;
      smear_rows(plain + i % 4, plain, plain + 2, fy, fx, coverage);
      smear_rows_packed(packed + i % 4, packed, packed + 2, fy, fx, coverage);
      blend_in_place(plain + (i + 1) % 4, g, b, r, coverage);
      blend_in_place_packed(packed + (i + 1) % 4, packed_ink(g, b, r), coverage);
      for (int k = 0; k < 4; ++k) ASSERT_EQ(plain[k], packed[k]) << "case " << i << " pixel " << k;
    }
  }
  _rgb_r_shift_32 = saved[0], _rgb_g_shift_32 = saved[1], _rgb_b_shift_32 = saved[2];
}
#endif

#ifdef EASEL_WIDE
TEST(Splat, WideBlendsMatchThePlainOnesBitForBit) {
  if (!wide_available()) GTEST_SKIP() << "the processor has no AVX2";
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int i = 0; i < 20000; ++i) {
    uint32_t plain[4], wide[4];
    for (int k = 0; k < 4; ++k) plain[k] = wide[k] = static_cast<uint32_t>(rng());
    float fx = unit(rng), fy = i % 50 ? unit(rng) : 0.0f, weight = unit(rng) * 1.2f;
    float r = unit(rng) * 255, g = unit(rng) * 255, b = unit(rng) * 255;
    splat_rows(plain, plain + 2, fx, fy, r, g, b, weight);
    splat_rows_wide(wide, wide + 2, fx, fy, wide_ink(r, g, b), weight);
    // The byte-shuffling blend, for the paper's light weights.
    splat_rows(plain, plain + 2, fy, fx, r, g, b, weight / 6);
    blend_square_bytes(wide, wide + 2, splat_coverages(fy, fx, weight / 6), wide_ink(r, g, b));
    // The smudge's, onto one of the pixels it reads (the packed layout's).
    float coverage = unit(rng) * 0.999f;
    smear_rows(plain + i % 4, plain, plain + 2, fy, fx, coverage);
    smear_rows_wide(wide + i % 4, wide, wide + 2, fy, fx, coverage);
    for (int k = 0; k < 4; ++k) ASSERT_EQ(plain[k], wide[k]) << "case " << i << " pixel " << k;
  }
}
#endif

TEST(Renderers, StrokesAtAndAcrossEveryEdgeStayOnTheBitmap) {
  for (float size : {1.7f, 12.0f}) {
    testsupport::GuardedBitmap g(160, 120, 16);
    uint32_t seed = 1;
    for (const testsupport::TestStroke& s : testsupport::edge_strokes(160, 120)) {
      const int16_t *xs = s.xs.data(), *ys = s.ys.data();
      useCommandStream(seed++);
      drawPen(g.target, 0, 0, 0, xs, ys, s.n());
      drawBrush(g.target, 255, 0, 0, size, 500, xs, ys, s.n());
      drawPencil(g.target, 0, 255, 0, size, xs, ys, s.n());
      drawChalk(g.target, 0, 0, 255, size, xs, ys, s.n());
      drawSmudge(g.target, size, 1000, xs, ys, s.n());
      drawStamp(g.target, 250, 250, 0, size, 0, xs, ys, s.n());
      useLocalStream();
      ASSERT_EQ(0, g.border_changes()) << "stroke " << seed - 1 << " size " << size;
    }
    BITMAP* pattern = testsupport::make_pattern(160, 120);
    EXPECT_GT(testsupport::count_differences(g.target, pattern), 1000);
    destroy_bitmap(pattern);
  }
}

// A single point paints one pixel in full colour.
TEST(Pen, PinnedStrokeAndSinglePoint) {
  BITMAP* bmp = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  std::vector<int16_t> xs = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                       ys = {600, 500, 620, 380, 100, 40, 300, 200, 20};
  drawPen(bmp, 20.5f, 60.0f, 230.0f, xs.data(), ys.data(), xs.size());
  EXPECT_EQ(7729092784956005366ull, testsupport::bitmap_checksum(bmp));
  BITMAP* before = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  blit(bmp, before, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  drawPen(bmp, 12.9f, 240.0f, 77.5f, &xs[1], &ys[1], 1);
  EXPECT_EQ(makecol32(12, 240, 77), getpixel(bmp, 200, 500));
  EXPECT_EQ(1, testsupport::count_differences(before, bmp));
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

// Previews onto canvas-sized and larger targets (the canvas centred in them):
// pinned pictures and rectangles, every painted pixel inside the rectangle. A
// zero-length first segment gives one sample that is not a number: it paints
// nothing and widens no rectangle. Samples on the last canvas column are not
// painted even where the target has room; the rectangle is clipped to the screen.
TEST(Preview, PinnedPicturesAndRectangles) {
  const std::vector<int16_t> wavy_x = {100, 180, 260, 300, 310, 250}, wavy_y = {100, 140, 90, 200, 330, 400};
  const struct {
    int w, h;
    std::vector<int16_t> xs, ys;
    std::vector<int> rect;
    uint64_t sum;
  } cases[] = {{1024, 768, wavy_x, wavy_y, {156, 129, 217, 314}, 14749637781769201527u},
               {1024, 768, {100, 140}, {300, 300}, {156, 342, 41, 1}, 16523789534279877783u},
               {1025, 769, {100, 140}, {300, 300}, {156, 342, 41, 1}, 4997331178344438117u},
               {912, 684, {5, 5, 20}, {5, 5, 30}, {5, 5, 16, 26}, 2624646755551103618u},
               {912, 684, {5, 5}, {5, 5}, {0, 0, 0, 0}, 15841533461256251772u},
               {914, 684, {911, 911}, {10, 20}, {912, 10, 0, 0}, 10348375475365129362u},
               {912, 684, {905, 940}, {-10, 10}, {905, 0, 7, 11}, 15841533461256251772u}};
  for (const auto& c : cases) {
    BITMAP* target = testsupport::make_filled(c.w, c.h, 0, 0, 0);
    dirty_set_screen_size(c.w > 1000 ? c.w : CANVAS_WIDTH, c.h);  // else the 912 x 684 screen
    DirtyRect r{-1, -1, -1, -1};
    unsigned n = c.xs.size();
    drawStrokePreview(target, 255, 255, 255, c.xs.data(), c.ys.data(), n, 0, n, 0.0f, &r);
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(target)) << c.w << " " << c.xs[0];
    EXPECT_EQ(c.rect, (std::vector<int>{r.x, r.y, r.w, r.h})) << c.w << " " << c.xs[0];
    long outside = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        outside += getpixel(target, x, y) && (x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h);
    EXPECT_EQ(0, outside) << c.w << " " << c.xs[0];
    destroy_bitmap(target);
  }
}

// Far control points make the curve cross the 0.02 acceptance window between
// two neighbouring float parameters; the search must still finish there.
TEST(StrokeWalk, CurvesEndWhenTheParameterRunsOutOfPrecisionOrAtTheBufferLimit) {
  float left = sampleCurve(-3643920, 1820340, 20776, 2380432, -1190320, -177736, -2137544, 84400, 1863, 0);
  EXPECT_EQ(2478, StrokeSamples.count);
  EXPECT_GE(left, 0.0f);
  EXPECT_LE(left, 1863.0f);
  for (int k = 0; k < StrokeSamples.count; ++k) ASSERT_TRUE(std::isfinite(StrokeSamples.x[k]));
  // A curved segment stops at the buffer limit too.
  int16_t cx[] = {0, 9000, 18000, 27000}, cy[] = {0, 10, 0, 10};
  EXPECT_EQ(0.0f, sampleSegment(cx, cy, 4, 1, 1.0f, 0.0f));
  EXPECT_EQ(STROKE_SAMPLES_MAX, StrokeSamples.count);
}
