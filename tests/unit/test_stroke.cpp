// The stroke walker, the bilinear deposit, the pen and the stroke preview.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "guarded_bitmap.h"
#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/splat.h"
#include "paint/stamp.h"
#include "paint/stroke.h"
#include "test_support.h"
#include "paint/dirty_rect.h"

namespace {

struct Sample {
  float x, y;
};

std::vector<Sample> samples() {
  std::vector<Sample> out;
  for (int i = 0; i < StrokeSamples.count; ++i) out.push_back({StrokeSamples.x[i], StrokeSamples.y[i]});
  return out;
}

// Every sample of the walk with spacing s, in order.
std::vector<Sample> walk(const std::vector<int16_t>& xs, const std::vector<int16_t>& ys, float s) {
  std::vector<Sample> out;
  float offset = 0.0f;
  for (unsigned i = 0; i < xs.size(); ++i) {
    offset = sampleSegment(xs.data(), ys.data(), xs.size(), i, s, offset);
    std::vector<Sample> seg = samples();
    out.insert(out.end(), seg.begin(), seg.end());
  }
  return out;
}

double distance(Sample a, Sample b) { return std::hypot(double(a.x) - b.x, double(a.y) - b.y); }

}  // namespace

// One segment walked with a spacing and a carried offset: the offset left
// for the next segment, the samples' count, the first and the last. A single
// point gives one sample unless an offset is pending; past the last segment,
// or without points, there is none; a segment shorter than the offset only
// uses it up.
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
               {{}, {}, 0, 1, 0.25f, 0.25f, 0, {}, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.xs.size() << " points, segment " << c.i << " offset " << c.offset);
    EXPECT_FLOAT_EQ(c.left, sampleSegment(c.xs.data(), c.ys.data(), c.xs.size(), c.i, c.spacing, c.offset));
    ASSERT_EQ(c.count, StrokeSamples.count);
    // Evenly spaced along the segment.
    auto along = [&](int k, int axis) {
      return c.first[axis] + (c.last[axis] - c.first[axis]) * k / std::max(1, c.count - 1);
    };
    for (int k = 0; k < c.count; ++k) {
      ASSERT_NEAR(along(k, 0), StrokeSamples.x[k], 1e-5) << k;
      ASSERT_NEAR(along(k, 1), StrokeSamples.y[k], 1e-5) << k;
    }
  }
}

TEST(StrokeWalk, ZeroLengthSegmentsGiveOneNotANumberSample) {
  int16_t xs[] = {40, 40, 40}, ys[] = {9, 9, 9};
  EXPECT_EQ(1.0f, sampleSegment(xs, ys, 2, 0, 1.0f, 0.0f));
  ASSERT_EQ(1, StrokeSamples.count);
  EXPECT_TRUE(std::isnan(StrokeSamples.x[0]));
  EXPECT_TRUE(std::isnan(StrokeSamples.y[0]));
  // The carried spacing then swallows further zero-length segments.
  EXPECT_EQ(1.0f, sampleSegment(xs, ys, 3, 1, 1.0f, 1.0f));
  EXPECT_EQ(0, StrokeSamples.count);

  BITMAP* bmp = testsupport::make_filled(60, 20, 30, 30, 30);
  BITMAP* before = testsupport::make_filled(60, 20, 30, 30, 30);
  for (unsigned n = 2; n <= 3; ++n) drawPen(bmp, 255, 255, 255, xs, ys, n);
  EXPECT_TRUE(testsupport::bitmaps_equal(before, bmp));
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

TEST(StrokeWalk, SegmentStopsAtBufferLimit) {
  int16_t xs[] = {0, 10000}, ys[] = {0, 0};
  EXPECT_EQ(0.0f, sampleSegment(xs, ys, 2, 0, 1.0f, 0.0f));
  EXPECT_EQ(STROKE_SAMPLES_MAX, StrokeSamples.count);
  EXPECT_EQ(8191.0f, StrokeSamples.x[STROKE_SAMPLES_MAX - 1]);
  int16_t cx[] = {0, 9000, 18000, 27000}, cy[] = {0, 10, 0, 10};
  EXPECT_EQ(0.0f, sampleSegment(cx, cy, 4, 1, 1.0f, 0.0f));
  EXPECT_EQ(STROKE_SAMPLES_MAX, StrokeSamples.count);
}

TEST(StrokeWalk, CurvedWalkKeepsChordSpacingAcrossJoins) {
  std::vector<int16_t> xs = {10, 40, 70, 60, 20, 25}, ys = {10, 5, 30, 60, 50, 20};
  for (float s : {1.0f, 1.5f, 7.0f}) {
    float offset = 0.0f;
    bool first = true;
    Sample last{0, 0};
    size_t total = 0;
    for (unsigned i = 0; i < xs.size(); ++i) {
      offset = sampleSegment(xs.data(), ys.data(), xs.size(), i, s, offset);
      std::vector<Sample> seg = samples();
      total += seg.size();
      for (size_t k = 0; k < seg.size(); ++k) {
        if (first) {
          EXPECT_LT(distance(seg[0], {10, 10}), 0.01);
          first = false;
        } else if (k == 0) {
          // Across a join the distance carried is measured through the point.
          Sample join{float(xs[i]), float(ys[i])};
          EXPECT_NEAR(s, distance(last, join) + distance(join, seg[0]), 0.0201) << "spacing " << s;
        } else {
          ASSERT_NEAR(s, distance(seg[k - 1], seg[k]), 0.0101) << "spacing " << s << " segment " << i;
        }
      }
      if (!seg.empty()) last = seg.back();
      if (i + 1 < xs.size() && offset > 0.0f) {
        Sample end{float(xs[i + 1]), float(ys[i + 1])};
        EXPECT_NEAR(s - offset, distance(last, end), 0.0001) << "leftover of segment " << i;
      }
    }
    EXPECT_GT(total, size_t(150 / s));
  }
  // Collinear points: the curve lies on the line.
  std::vector<Sample> line = walk({0, 10, 20}, {5, 5, 5}, 1.0f);
  ASSERT_GE(line.size(), 20u);
  for (const Sample& p : line) EXPECT_FLOAT_EQ(5.0f, p.y);
}

TEST(Splat, BilinearDepositAndBoundsTest) {
  BITMAP* bmp = testsupport::make_filled(10, 8, 0, 0, 0);
  splatPoint(bmp, 3.0f, 4.0f, 200, 100, 50, 1.0f);  // on a pixel corner: one pixel
  EXPECT_EQ(makecol32(200, 100, 50), getpixel(bmp, 3, 4));
  BITMAP* black = testsupport::make_filled(10, 8, 0, 0, 0);
  EXPECT_EQ(1, testsupport::count_differences(bmp, black));

  clear_to_color(bmp, makecol32(0, 0, 0));
  splatPoint(bmp, 5.5f, 2.25f, 200, 200, 200, 0.5f);
  EXPECT_EQ(38, getr32(getpixel(bmp, 5, 2)));  // 200 * 0.5 * 0.75 * 0.5 + 0.5
  EXPECT_EQ(38, getr32(getpixel(bmp, 6, 2)));
  EXPECT_EQ(13, getr32(getpixel(bmp, 5, 3)));  // 200 * 0.5 * 0.25 * 0.5 + 0.5
  EXPECT_EQ(13, getr32(getpixel(bmp, 6, 3)));
  EXPECT_EQ(4, testsupport::count_differences(bmp, black));

  clear_to_color(bmp, makecol32(0, 0, 0));
  splatPoint(bmp, 8.0f, 6.0f, 255, 255, 255, 1.0f);  // 8 + 1.0001 < 10: painted
  EXPECT_EQ(1, testsupport::count_differences(bmp, black));
  splatPoint(bmp, 8.9998f, 1.0f, 255, 255, 255, 1.0f);  // all but nothing on (9, 1)
  EXPECT_EQ(2, testsupport::count_differences(bmp, black));
  EXPECT_EQ(255, getr32(getpixel(bmp, 9, 1)));
  clear_to_color(bmp, makecol32(0, 0, 0));
  for (float x : {8.99995f, -0.001f, NAN})
    splatPoint(bmp, x, 3.0f, 255, 255, 255, 1.0f);
  for (float y : {6.99995f, -0.001f, NAN})
    splatPoint(bmp, 3.0f, y, 255, 255, 255, 1.0f);
  EXPECT_EQ(0, testsupport::count_differences(bmp, black));
  destroy_bitmap(black);
  destroy_bitmap(bmp);
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

TEST(Pen, SinglePointPaintsOnePixelInFullColour) {
  BITMAP* bmp = testsupport::make_pattern(40, 30);
  BITMAP* before = testsupport::make_pattern(40, 30);
  int16_t xs[] = {17}, ys[] = {11};
  drawPen(bmp, 12.9f, 240.0f, 77.5f, xs, ys, 1);
  EXPECT_EQ(makecol32(12, 240, 77), getpixel(bmp, 17, 11));
  EXPECT_EQ(1, testsupport::count_differences(before, bmp));
  destroy_bitmap(before);
  destroy_bitmap(bmp);
}

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
    EXPECT_GT(g.target_changes(), 1000);
  }
}

TEST(Pen, PinnedStroke) {
  BITMAP* bmp = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  std::vector<int16_t> xs = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                       ys = {600, 500, 620, 380, 100, 40, 300, 200, 20};
  drawPen(bmp, 20.5f, 60.0f, 230.0f, xs.data(), ys.data(), xs.size());
  EXPECT_EQ(7729092784956005366ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
}

class Preview : public ::testing::Test {
 protected:
  void SetUp() override {
    dirty_set_screen_size(1024, 768);
    dirty_list_clear();
  }
  std::vector<int16_t> xs = {100, 180, 260, 300, 310, 250}, ys = {100, 140, 90, 200, 330, 400};
};

TEST_F(Preview, MatchesThePenSegmentBySegment) {
  BITMAP* pen = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  BITMAP* preview = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  drawPen(pen, 250, 10, 10, xs.data(), ys.data(), xs.size());
  float offset = 0.0f;
  for (unsigned i = 0; i < xs.size(); ++i)
    offset = drawStrokePreview(preview, 250, 10, 10, xs.data(), ys.data(), xs.size(), i, i + 1, offset, nullptr);
  EXPECT_TRUE(testsupport::bitmaps_equal(pen, preview));
  destroy_bitmap(preview);
  destroy_bitmap(pen);
}

TEST_F(Preview, PinnedOnALargerTargetWithItsRectangle) {
  BITMAP* screen_buf = testsupport::make_filled(1024, 768, 0, 0, 0);
  DirtyRect rect{-1, -1, -1, -1};
  drawStrokePreview(screen_buf, 255, 255, 255, xs.data(), ys.data(), xs.size(), 0, xs.size(), 0.0f, &rect);
  EXPECT_EQ(14749637781769201527u, testsupport::bitmap_checksum(screen_buf));
  EXPECT_EQ(100 + 56, rect.x);
  EXPECT_EQ(129, rect.y);
  EXPECT_EQ(217, rect.w);
  EXPECT_EQ(314, rect.h);
  destroy_bitmap(screen_buf);
}

TEST_F(Preview, PaintsOnlyInsideItsRectangleAtEvenAndOddMargins) {
  int16_t xs2[] = {100, 140}, ys2[] = {300, 300};
  for (int w : {1024, 1025}) {
    const int h = w == 1024 ? 768 : 769;
    BITMAP* target = testsupport::make_filled(w, h, 0, 0, 0);
    dirty_set_screen_size(w, h);
    DirtyRect r;
    drawStrokePreview(target, 255, 255, 255, xs2, ys2, 2, 0, 2, 0.0f, &r);
    int painted = 0, outside = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (getpixel(target, x, y) != makecol32(0, 0, 0)) {
          painted++;
          outside += x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h;
        }
    EXPECT_GE(painted, 41) << w;
    EXPECT_EQ(outside, 0) << w;
    EXPECT_EQ(r.x, 100 + (w - CANVAS_WIDTH) / 2) << w;
    destroy_bitmap(target);
  }
}

// A zero-length first segment gives one sample that is not a number: it
// paints nothing and widens no rectangle. Samples on the last canvas column
// are not painted even where the target has room; the rectangle is clipped
// to the (912 x 684) screen.
TEST_F(Preview, RectangleIgnoresNotANumberSamplesAndIsClipped) {
  dirty_set_screen_size(CANVAS_WIDTH, CANVAS_HEIGHT);
  const struct {
    std::vector<int16_t> xs, ys;
    bool wide, paints;
    int rect[4];
  } cases[] = {{{5, 5, 20}, {5, 5, 30}, false, true, {5, 5, 16, 26}},
               {{5, 5}, {5, 5}, false, false, {0, 0, 0, 0}},
               {{911, 911}, {10, 20}, true, false, {912, 10, 0, 0}},
               {{905, 940}, {-10, 10}, false, false, {905, 0, 7, 11}}};
  for (const auto& c : cases) {
    BITMAP* layer = testsupport::make_filled(CANVAS_WIDTH + 2 * c.wide, CANVAS_HEIGHT, 0, 0, 0);
    BITMAP* blank = testsupport::make_filled(CANVAS_WIDTH + 2 * c.wide, CANVAS_HEIGHT, 0, 0, 0);
    DirtyRect rect{-1, -1, -1, -1};
    unsigned n = c.xs.size();
    drawStrokePreview(layer, 255, 255, 255, c.xs.data(), c.ys.data(), n, 0, n, 0.0f, &rect);
    EXPECT_EQ(c.paints, !testsupport::bitmaps_equal(blank, layer)) << c.xs[0];
    EXPECT_EQ(std::vector<int>(c.rect, c.rect + 4), (std::vector<int>{rect.x, rect.y, rect.w, rect.h})) << c.xs[0];
    destroy_bitmap(blank);
    destroy_bitmap(layer);
  }
}

// Far control points make the curve cross the 0.02 acceptance window between
// two neighbouring float parameters; the search must still finish there.
TEST(StrokeWalk, CurveSearchFinishesWhenTheParameterRunsOutOfPrecision) {
  float left = sampleCurve(-3643920, 1820340, 20776, 2380432, -1190320, -177736, -2137544, 84400, 1863, 0);
  EXPECT_EQ(2478, StrokeSamples.count);
  EXPECT_GE(left, 0.0f);
  EXPECT_LE(left, 1863.0f);
  for (int k = 0; k < StrokeSamples.count; ++k) ASSERT_TRUE(std::isfinite(StrokeSamples.x[k]));
}
