// The stroke walker, the bilinear deposit, the pen and the stroke preview.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "guarded_bitmap.h"
#include "paint/canvas.h"
#include "paint/splat.h"
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

TEST(StrokeWalk, TenPixelSegmentGivesElevenSamples) {
  int16_t xs[] = {3, 13}, ys[] = {7, 7};
  EXPECT_EQ(1.0f, sampleSegment(xs, ys, 2, 0, 1.0f, 0.0f));
  ASSERT_EQ(11, StrokeSamples.count);
  for (int k = 0; k <= 10; ++k) {
    EXPECT_EQ(3.0f + k, StrokeSamples.x[k]);
    EXPECT_EQ(7.0f, StrokeSamples.y[k]);
  }
  // A diagonal of length 10 with a carried offset: samples at 0.5, 1.5, ... 9.5.
  int16_t dx[] = {0, 6}, dy[] = {0, 8};
  EXPECT_FLOAT_EQ(0.5f, sampleSegment(dx, dy, 2, 0, 1.0f, 0.5f));
  ASSERT_EQ(10, StrokeSamples.count);
  EXPECT_FLOAT_EQ(0.3f, StrokeSamples.x[0]);
  EXPECT_FLOAT_EQ(0.4f, StrokeSamples.y[0]);
  EXPECT_NEAR(5.7, StrokeSamples.x[9], 1e-5);
  EXPECT_NEAR(7.6, StrokeSamples.y[9], 1e-5);
  // A segment shorter than the offset only uses it up.
  EXPECT_FLOAT_EQ(2.0f, sampleSegment(xs, ys, 2, 0, 5.0f, 12.0f));
  EXPECT_EQ(0, StrokeSamples.count);
}

TEST(StrokeWalk, PointCountCases) {
  int16_t xs[] = {5, 9, 20, 4}, ys[] = {6, 1, 8, 30};
  EXPECT_EQ(1.0f, sampleSegment(xs, ys, 1, 0, 1.0f, 0.0f));  // single point: one sample
  ASSERT_EQ(1, StrokeSamples.count);
  EXPECT_EQ(5.0f, StrokeSamples.x[0]);
  EXPECT_EQ(6.0f, StrokeSamples.y[0]);
  EXPECT_EQ(0.5f, sampleSegment(xs, ys, 1, 0, 1.0f, 0.5f));  // ... unless an offset is pending
  EXPECT_EQ(0, StrokeSamples.count);
  EXPECT_EQ(0.25f, sampleSegment(xs, ys, 2, 1, 1.0f, 0.25f));  // past the only segment
  EXPECT_EQ(0, StrokeSamples.count);
  EXPECT_EQ(0.25f, sampleSegment(xs, ys, 4, 3, 1.0f, 0.25f));  // past the last curve
  EXPECT_EQ(0, StrokeSamples.count);
  EXPECT_EQ(0.25f, sampleSegment(xs, ys, 0, 0, 1.0f, 0.25f));
  EXPECT_EQ(0, StrokeSamples.count);
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

TEST(Pen, NothingWrittenOutsideTheBitmap) {
  testsupport::GuardedBitmap g(50, 40, 20, makecol32(200, 200, 200));
  std::vector<int16_t> xs = {-10, 0, 49, 60, 49, 48, 0, -1, 25, 25}, ys = {-10, 0, -3, 0, 39, 45, 39, 20, -4, 50};
  drawPen(g.target, 0, 0, 0, xs.data(), ys.data(), xs.size());
  EXPECT_GT(g.target_changes(), 100);  // it did paint
  EXPECT_EQ(0, g.border_changes());
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

TEST_F(Preview, CentredOnALargerTargetWithItsRectangle) {
  BITMAP* pen = testsupport::make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  BITMAP* screen_buf = testsupport::make_filled(1024, 768, 0, 0, 0);
  drawPen(pen, 255, 255, 255, xs.data(), ys.data(), xs.size());
  DirtyRect rect{-1, -1, -1, -1};
  drawStrokePreview(screen_buf, 255, 255, 255, xs.data(), ys.data(), xs.size(), 0, xs.size(), 0.0f, &rect);
  BITMAP* window = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  blit(screen_buf, window, 56, 42, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  // Shifting a sample by the centring offset may round its fraction, so the
  // coverages, not the painted pixels, can differ by a last unit.
  int worst = 0;
  for (int y = 0; y < CANVAS_HEIGHT; ++y)
    for (int x = 0; x < CANVAS_WIDTH; ++x)
      worst = std::max(worst, std::abs(getr32(getpixel(pen, x, y)) - getr32(getpixel(window, x, y))));
  EXPECT_LE(worst, 1);
  EXPECT_LT(testsupport::count_differences(pen, window), 20);
  BITMAP* blank = testsupport::make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  EXPECT_GT(testsupport::count_differences(pen, blank), 600);
  destroy_bitmap(blank);
  // Every painted pixel lies inside the rectangle, which is the samples' hull.
  int min_x = 9999, min_y = 9999, max_x = -1, max_y = -1;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x)
      if (getpixel(screen_buf, x, y) != makecol32(0, 0, 0)) {
        min_x = std::min(min_x, x), max_x = std::max(max_x, x);
        min_y = std::min(min_y, y), max_y = std::max(max_y, y);
      }
  EXPECT_LE(rect.x, min_x);
  EXPECT_LE(rect.y, min_y);
  EXPECT_GE(rect.x + rect.w, max_x + 1);
  EXPECT_GE(rect.y + rect.h, max_y + 1);
  EXPECT_EQ(100 + 56, rect.x);
  EXPECT_LE(rect.w, 230);  // a little overshoot of the curves at most
  EXPECT_LE(rect.h, 330);
  destroy_bitmap(window);
  destroy_bitmap(screen_buf);
  destroy_bitmap(pen);
}

TEST_F(Preview, RectangleIgnoresNotANumberSamplesAndIsClipped) {
  BITMAP* layer = testsupport::make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  dirty_set_screen_size(CANVAS_WIDTH, CANVAS_HEIGHT);
  // First segment has zero length: its only sample is not a number.
  int16_t xs2[] = {5, 5, 20}, ys2[] = {5, 5, 30};
  DirtyRect rect;
  drawStrokePreview(layer, 255, 255, 255, xs2, ys2, 3, 0, 3, 0.0f, &rect);
  EXPECT_EQ(5, rect.x);
  EXPECT_EQ(5, rect.y);
  EXPECT_EQ(16, rect.w);
  EXPECT_EQ(26, rect.h);

  // Only the not-a-number sample: nothing painted, an empty rectangle.
  BITMAP* blank = testsupport::make_filled(CANVAS_WIDTH, CANVAS_HEIGHT, 0, 0, 0);
  clear_to_color(layer, makecol32(0, 0, 0));
  drawStrokePreview(layer, 255, 255, 255, xs2, ys2, 2, 0, 2, 0.0f, &rect);
  EXPECT_TRUE(testsupport::bitmaps_equal(blank, layer));
  EXPECT_EQ(0, rect.w);
  EXPECT_EQ(0, rect.h);

  // Samples on the last canvas column are not painted even where the target
  // has room; the rectangle is clipped to the screen.
  BITMAP* wide = testsupport::make_filled(CANVAS_WIDTH + 2, CANVAS_HEIGHT, 0, 0, 0);
  BITMAP* wide_blank = testsupport::make_filled(CANVAS_WIDTH + 2, CANVAS_HEIGHT, 0, 0, 0);
  int16_t xs3[] = {911, 911}, ys3[] = {10, 20};
  drawStrokePreview(wide, 255, 255, 255, xs3, ys3, 2, 0, 2, 0.0f, &rect);
  EXPECT_TRUE(testsupport::bitmaps_equal(wide_blank, wide));
  EXPECT_EQ(912, rect.x);
  EXPECT_EQ(0, rect.w);  // 912 is beyond a 912-wide screen

  int16_t xs4[] = {905, 940}, ys4[] = {-10, 10};
  drawStrokePreview(layer, 255, 255, 255, xs4, ys4, 2, 0, 2, 0.0f, &rect);
  EXPECT_EQ(905, rect.x);
  EXPECT_EQ(0, rect.y);
  EXPECT_EQ(7, rect.w);
  EXPECT_EQ(11, rect.h);
  destroy_bitmap(wide_blank);
  destroy_bitmap(wide);
  destroy_bitmap(blank);
  destroy_bitmap(layer);
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
