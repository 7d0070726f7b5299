// The stroke walker, the packed blends, the pen and the stroke preview.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/dirty_rect.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/splat.h"
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

// Strokes across every edge and through every corner, along the edges, one
// pixel inside all round, wholly outside and over the whole coordinate range.
// The target is a sub-bitmap inside a guard border: writes past its edges stay
// in the allocation, where only the border shows them.
TEST(Renderers, StrokesAtAndAcrossEveryEdgeStayOnTheBitmap) {
  const int w = 160, h = 120, r = w - 1, b = h - 1, guard = makecol32(13, 200, 77);
  const std::vector<testsupport::TestStroke> strokes = {
      {-30, 60, 25, 65}, {r - 25, 40, r + 30, 44}, {80, -30, 86, 25}, {53, b - 25, 48, b + 30},
      {-20, -20, 20, 20, 40, 10}, {r + 20, -20, r - 20, 20, r - 40, 5},
      {-20, b + 20, 20, b - 20, 40, b - 5}, {r + 20, b + 20, r - 20, b - 20, r - 5, b - 40},
      {0, 0, r, 0}, {0, b, r, b}, {0, 0, 0, b}, {r, 0, r, b},
      {1, 1, r - 1, 1, r - 1, b - 1, 1, b - 1, 1, 1}, {-60, -40, -10, -50, -30, -5},
      {-32768, -32768, 32767, 32767}, {32767, -32768, w / 2, h / 2, -32768, 32767}};
  BITMAP* pattern = testsupport::make_pattern(w, h);
  for (float size : {1.7f, 12.0f}) {
    BITMAP* parent = testsupport::make_filled(w + 32, h + 32, 13, 200, 77);
    BITMAP* target = create_sub_bitmap(parent, 16, 16, w, h);
    blit(pattern, target, 0, 0, 0, 0, w, h);
    uint32_t seed = 1;
    for (const testsupport::TestStroke& s : strokes) {
      const int16_t *xs = s.xs.data(), *ys = s.ys.data();
      useCommandStream(seed++);
      drawPen(target, 0, 0, 0, xs, ys, s.n());
      drawBrush(target, 255, 0, 0, size, 500, xs, ys, s.n());
      drawPencil(target, 0, 255, 0, size, xs, ys, s.n());
      drawChalk(target, 0, 0, 255, size, xs, ys, s.n());
      drawSmudge(target, size, 1000, xs, ys, s.n());
      drawStamp(target, 250, 250, 0, size, 0, xs, ys, s.n());
      useLocalStream();
    }
    EXPECT_GT(testsupport::count_differences(target, pattern), 1000);
    clear_to_color(target, guard);  // what is left to differ is the border
    BITMAP* untouched = testsupport::make_filled(w + 32, h + 32, 13, 200, 77);
    EXPECT_EQ(0, testsupport::count_differences(parent, untouched)) << "size " << size;
    destroy_bitmap(untouched);
    destroy_bitmap(target);
    destroy_bitmap(parent);
  }
  destroy_bitmap(pattern);
}

// A single point paints one pixel in full colour.
TEST(Pen, PinnedStrokeAndSinglePoint) {
  BITMAP* bmp = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  BITMAP* before = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  std::vector<int16_t> xs = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                       ys = {600, 500, 620, 380, 100, 40, 300, 200, 20};
  drawPen(bmp, 12.9f, 240.0f, 77.5f, &xs[1], &ys[1], 1);
  EXPECT_EQ(makecol32(12, 240, 77), getpixel(bmp, 200, 500));
  EXPECT_EQ(1, testsupport::count_differences(before, bmp));
  drawPen(before, 20.5f, 60.0f, 230.0f, xs.data(), ys.data(), xs.size());
  EXPECT_EQ(7729092784956005366ull, testsupport::bitmap_checksum(before));
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
