// Strokes and the tools that draw them: the coverage blend and colour pick, the
// stroke walker, its reference and fast ways, the preview, the soft disc, the pen, pencil
// and chalk grains, the stamp, the bristle brush and the smudge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/curve_search.h"
#include "paint/disc.h"
#include "paint/engine_paths.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/pixel.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/splat.h"
#include "paint/stamp.h"
#include "paint/stroke_walk.h"
#include "random_drawings.h"
#include "test_support.h"

using testsupport::TestStroke;

namespace {

// A long stroke over a canvas-sized picture, turning sharply and back.
const std::vector<int16_t> LONG_XS = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                           LONG_YS = {600, 500, 620, 380, 100, 40, 300, 200, 20};

// Draws a stroke inside the command bracket seeded with seed (not 0) and
// returns the number of draws it took: where a fresh stream seeded alike gives
// the output that followed the stroke.
long brush_draws(Image* bmp, uint32_t seed, float size, float dryness, const TestStroke& s, float r = 255,
                 float g = 0, float b = 0) {
  useCommandStream(seed);
  drawBrush(bmp, r, g, b, size, dryness, s.xs.data(), s.ys.data(), s.n());
  const uint32_t next = nextRandom();
  useCommandStream(seed);
  long k = 0;
  while (k < 200000 && nextRandom() != next) ++k;
  useLocalStream();
  return k;
}

void smudge(Image* bmp, float size, float strength, const TestStroke& s) {
  drawSmudge(bmp, size, strength, s.xs.data(), s.ys.data(), s.n());
}

}  // namespace

// On a pixel of (100, 50, 10): above 0.999 the colour is written with its
// fractions cut; below, the blend rounds; no coverage changes nothing.
TEST(Pixel, PinnedBlends) {
  const struct {
    float rgb[3], coverage;
    int want[3];
  } cases[] = {{{200.7f, 20.5f, 254.99f}, 1.0f, {200, 20, 254}},
               {{200.7f, 20.5f, 254.99f}, 0.999f, {201, 21, 255}},
               {{200.0f, 0.0f, 255.0f}, 0.25f, {125, 38, 71}},
               {{255.0f, 255.0f, 255.0f}, 0.0f, {100, 50, 10}}};
  for (const auto& c : cases) {
    Image* bmp = testsupport::make_filled(1, 1, 100, 50, 10);
    blendPixel(bmp, 0, 0, c.rgb[0], c.rgb[1], c.rgb[2], c.coverage);
    EXPECT_EQ(pack_pixel(c.want[0], c.want[1], c.want[2]), testsupport::pixel_at(bmp, 0, 0)) << c.coverage;
    testsupport::free_image(bmp);
  }
}

// The pick seeks the dominant colour of the window around the point, not the
// mean; only on-bitmap pixels count; a window wholly off the bitmap gives 0.5.
TEST(Pixel, PinnedColourPicks) {
  Image* bmp = testsupport::make_pattern(40, 30);
  testsupport::fill_rect(bmp, 20, 0, 39, 29, pack_pixel(200, 40, 40));
  testsupport::fill_rect(bmp, 20, 0, 39, 5, pack_pixel(0, 0, 255));
  const struct {
    int x, y;
    float rgb[3];
  } cases[] = {{30, 12, {199.999954f, 39.9999695f, 39.9999695f}},  // 18 of 81 blue: the red is kept
               {30, 4, {14.515686f, 2.90313649f, 239.395676f}},
               {0, 0, {12.7890682f, 17.1404839f, 29.9999962f}},
               {39, 29, {200, 40, 40}},
               {21, 15, {191.273148f, 48.9323807f, 46.7865257f}},
               {-5, -5, {0.5f, 0.5f, 0.5f}}};
  for (const auto& c : cases) {
    float rgb[3];
    sampleColor(bmp, c.x, c.y, &rgb[0], &rgb[1], &rgb[2]);
    EXPECT_EQ(std::vector<float>(c.rgb, c.rgb + 3), std::vector<float>(rgb, rgb + 3)) << c.x << "," << c.y;
  }
  testsupport::free_image(bmp);
}

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
    for (int k = 0; k < c.count; ++k)
      for (int axis : {0, 1})
        ASSERT_TRUE(near(along(k, axis), (axis ? StrokeSamples.y : StrokeSamples.x)[k])) << k << " axis " << axis;
  }
}

// Random drawings of every tool both ways (random_drawings.h): the same bits.
TEST(EnginePaths, RandomDrawingsGiveTheReferenceBitsTheFastWays) {
  EXPECT_EQ(testsupport::random_drawings_differ(), "");
}

// The float limit of a dot's place is exactly where splat_fits stops holding.
TEST(Splat, LimitIsTheLastPlaceThatFits) {
  for (int size : {1, 2, 3, 684, 912, 32767}) {
    Image* bmp = testsupport::make_filled(size, 2, 0, 0, 0);
    const float limit = splat_limit(size), beyond = std::nextafter(limit, INFINITY);
    EXPECT_EQ(limit >= 0, splat_fits(bmp, limit, 0.5f)) << size;
    EXPECT_FALSE(splat_fits(bmp, beyond, 0.5f)) << size;
    testsupport::free_image(bmp);
  }
}

// Strokes across every edge and through every corner, along the edges, one
// pixel inside all round, wholly outside and over the whole coordinate range.
// The target is a sub-bitmap inside a guard border: writes past its edges stay
// in the allocation, where only the border shows them.
TEST(Renderers, StrokesAtAndAcrossEveryEdgeStayOnTheBitmap) {
  const int w = 160, h = 120, r = w - 1, b = h - 1;
  const uint32_t guard = pack_pixel(13, 200, 77);
  const std::vector<TestStroke> strokes = {
      {-30, 60, 25, 65}, {r - 25, 40, r + 30, 44}, {80, -30, 86, 25}, {53, b - 25, 48, b + 30},
      {-20, -20, 20, 20, 40, 10}, {r + 20, -20, r - 20, 20, r - 40, 5},
      {-20, b + 20, 20, b - 20, 40, b - 5}, {r + 20, b + 20, r - 20, b - 20, r - 5, b - 40},
      {0, 0, r, 0}, {0, b, r, b}, {0, 0, 0, b}, {r, 0, r, b},
      {1, 1, r - 1, 1, r - 1, b - 1, 1, b - 1, 1, 1}, {-60, -40, -10, -50, -30, -5},
      {-32768, -32768, 32767, 32767}, {32767, -32768, w / 2, h / 2, -32768, 32767}};
  Image* pattern = testsupport::make_pattern(w, h);
  for (float size : {1.7f, 12.0f}) {
    Image* parent = testsupport::make_filled(w + 32, h + 32, 13, 200, 77);
    Image part = image_part(parent, 16, 16, w, h);
    Image* target = &part;
    image_copy_all(pattern, target);
    uint32_t seed = 1;
    for (const TestStroke& s : strokes) {
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
    image_fill(target, guard);  // what is left to differ is the border
    Image* untouched = testsupport::make_filled(w + 32, h + 32, 13, 200, 77);
    EXPECT_EQ(0, testsupport::count_differences(parent, untouched)) << "size " << size;
    testsupport::free_image(untouched);
    testsupport::free_image(parent);
  }
  testsupport::free_image(pattern);
}

// A single point paints one pixel in full colour.
TEST(Pen, PinnedStrokeAndSinglePoint) {
  Image* bmp = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  Image* before = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  drawPen(bmp, 12.9f, 240.0f, 77.5f, &LONG_XS[1], &LONG_YS[1], 1);
  EXPECT_EQ(pack_pixel(12, 240, 77), testsupport::pixel_at(bmp, 200, 500));
  EXPECT_EQ(1, testsupport::count_differences(before, bmp));
  drawPen(before, 20.5f, 60.0f, 230.0f, LONG_XS.data(), LONG_YS.data(), LONG_XS.size());
  EXPECT_EQ(7729092784956005366ull, testsupport::image_checksum(before));
  testsupport::free_image(before);
  testsupport::free_image(bmp);
}

// Previews onto canvas-sized and larger targets (the canvas centred in them):
// pinned pictures and rectangles, every painted pixel inside the rectangle. A
// zero-length first segment gives one sample that is not a number: it paints
// nothing and widens no rectangle. Samples on the last canvas column (not the
// one before) are not painted even where the target has room; the rectangle is
// clipped to the screen.
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
               {914, 684, {911, 911}, {10, 20}, {912, 10, 1, 11}, 10348375475365129362u},
               {914, 684, {910, 910}, {10, 20}, {911, 10, 1, 11}, 11723160113339539393u},
               {912, 684, {905, 940}, {-10, 10}, {905, 0, 7, 11}, 15841533461256251772u}};
  for (const auto& c : cases) {
    Image* target = testsupport::make_filled(c.w, c.h, 0, 0, 0);
    ImageArea r{-1, -1, -1, -1};
    unsigned n = c.xs.size();
    drawStrokePreview(target, 255, 255, 255, c.xs.data(), c.ys.data(), n, 0, n, 0.0f, &r);
    EXPECT_EQ(c.sum, testsupport::image_checksum(target)) << c.w << " " << c.xs[0];
    EXPECT_EQ(c.rect, (std::vector<int>{r.x, r.y, r.w, r.h})) << c.w << " " << c.xs[0];
    long outside = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        outside += testsupport::pixel_at(target, x, y) != 0 && (x < r.x || x >= r.x + r.w || y < r.y || y >= r.y + r.h);
    EXPECT_EQ(0, outside) << c.w << " " << c.xs[0];
    testsupport::free_image(target);
  }
}

// Far control points make the curve cross the 0.02 acceptance window between
// two neighbouring float parameters; the search must still finish there. A
// curved segment stops at the buffer limit too.
TEST(StrokeWalk, CurvesEndWhenTheParameterRunsOutOfPrecisionOrAtTheBufferLimit) {
  float left = sampleCurve(-3643920, 1820340, 20776, 2380432, -1190320, -177736, -2137544, 84400, 1863, 0);
  EXPECT_EQ(2478, StrokeSamples.count);
  EXPECT_GE(left, 0.0f);
  EXPECT_LE(left, 1863.0f);
  for (int k = 0; k < StrokeSamples.count; ++k) ASSERT_TRUE(std::isfinite(StrokeSamples.x[k]));
  int16_t cx[] = {0, 9000, 18000, 27000}, cy[] = {0, 10, 0, 10};
  EXPECT_EQ(0.0f, sampleSegment(cx, cy, 4, 1, 1.0f, 0.0f));
  EXPECT_EQ(STROKE_SAMPLES_MAX, StrokeSamples.count);
}

// Pinned pixels and command stream positions after a stroke seeded as the row
// says; sizes beyond the tool's range act as its bounds (pencil 1.5..8, chalk
// 1.5..12). The colours make the shades reach both channel bounds, where
// unclamped they would spill into the neighbouring channels of the packed
// pixel. The last two rows are long strokes.
TEST(Grain, PinnedPixelsAndStreamPositionsPerToolAndSize) {
  const float pencil[3] = {120.5f, 64.0f, 240.0f}, chalk[3] = {250.0f, 3.0f, 128.0f};
  const float long_pencil[3] = {90.0f, 30.5f, 200.0f}, long_chalk[3] = {240.0f, 200.0f, 10.0f};
  const std::vector<int16_t> pxs = {10, 40}, pys = {12, 30}, cxs = {15, 60}, cys = {40, 20};
  const struct {
    bool chalk;
    const float* rgb;
    float size;
    uint32_t seed;
    const std::vector<int16_t>&xs, &ys;
    uint64_t sum;
    unsigned position;
  } cases[] = {{false, pencil, 1.5f, 4242, pxs, pys, 131403195635389598ull, 373},
               {false, pencil, 0.2f, 4242, pxs, pys, 131403195635389598ull, 373},
               {false, pencil, 4.0f, 4242, pxs, pys, 9998451886292236241ull, 865},
               {false, pencil, 8.0f, 4242, pxs, pys, 5882891004903484910ull, 712},
               {false, pencil, 30.0f, 4242, pxs, pys, 5882891004903484910ull, 712},
               {true, chalk, 1.5f, 99, cxs, cys, 7625770356031892338ull, 360},
               {true, chalk, 5.0f, 99, cxs, cys, 5771309364203134110ull, 564},
               {true, chalk, 12.0f, 99, cxs, cys, 11804012867633109840ull, 92},
               {true, chalk, 0.0f, 99, cxs, cys, 7625770356031892338ull, 360},
               {true, chalk, 40.0f, 99, cxs, cys, 11804012867633109840ull, 92},
               {false, long_pencil, 2.5f, 2024, LONG_XS, LONG_YS, 11415416125248512171ull, 410},
               {true, long_chalk, 7.0f, 2025, LONG_XS, LONG_YS, 7520625522913850571ull, 26}};
  for (const auto& c : cases) {
    Image* bmp = c.xs.size() > 2 ? testsupport::make_pattern(912, 684) : testsupport::make_pattern(80, 60);
    useCommandStream(c.seed);
    (c.chalk ? drawChalk : drawPencil)(bmp, c.rgb[0], c.rgb[1], c.rgb[2], c.size, c.xs.data(), c.ys.data(),
                                       c.xs.size());
    EXPECT_EQ(c.position, random_position(COMMAND_STREAM)) << (c.chalk ? "chalk " : "pencil ") << c.size;
    useLocalStream();
    EXPECT_EQ(c.sum, testsupport::image_checksum(bmp)) << (c.chalk ? "chalk " : "pencil ") << c.size;
    testsupport::free_image(bmp);
  }
}

// Every tool on zigzags between far corners (each segment cut at the buffer limit in the first two), wholly off
// the picture, and cut off it then across it: pinned pictures (U: untouched) and the next draw of the stream.
TEST(Renderers, PinnedFarZigzags) {
  const int16_t corners[4][4] = {
      {-3640, -3754, 4551, 4437}, {-32767, -32767, 32767, 32767}, {-300, 40, -100, 600}, {-9000, -9000, 400, 300}};
  const uint64_t U = 4711206328777528012u, expected[6][4][2] = {
      {{U, 3633953166}, {U, 3633953166}, {U, 3633953166}, {6973057604023741079u, 3633953166}},
      {{U, 2345967862}, {U, 2345967862}, {U, 1590026329}, {922432328682742743u, 2345967862}},
      {{U, 3020007328}, {U, 3020007328}, {U, 2610617357}, {9916300898260440537u, 3020007328}},
      {{8567127989489305158u, 3633953166}, {7991152999336358536u, 3633953166}, {U, 3633953166},
       {4052807829555414755u, 3633953166}},
      {{U, 2360426904}, {U, 2360426904}, {U, 2959788618}, {U, 2360426904}},
      {{18188625923031060311u, 3633953166}, {U, 3633953166}, {U, 3633953166}, {17028229109096072809u, 3633953166}}};
  for (int shape = 0; shape < 4; ++shape) {
    const int16_t* c = corners[shape];
    const int16_t xs[5] = {c[0], c[2], c[2], c[0], c[0]}, ys[5] = {c[1], c[3], c[1], c[3], c[1]};
    for (int tool = 0; tool < 6; ++tool) {
      Image* bmp = testsupport::make_pattern(912, 684);
      useCommandStream(77);
      tool == 0 ? drawPen(bmp, 255, 0, 0, xs, ys, 5) : tool == 1 ? drawPencil(bmp, 0, 0, 0, 400, xs, ys, 5)
      : tool == 2 ? drawChalk(bmp, 0, 128, 0, 400, xs, ys, 5) : tool == 3 ? drawStamp(bmp, 90, 10, 90, 400, 0, xs, ys, 5)
      : tool == 4 ? drawBrush(bmp, 0, 0, 255, 400, 400, xs, ys, 5) : drawSmudge(bmp, 400, 400, xs, ys, 5);
      const uint64_t got[2] = {testsupport::image_checksum(bmp), nextRandom()};
      useLocalStream();
      for (int k = 0; k < 2; ++k) EXPECT_EQ(expected[tool][shape][k], got[k]) << tool << " " << shape << " " << k;
      testsupport::free_image(bmp);
    }
  }
  // The walk with a reach visits or skips exactly the samples of the whole walk; the fast ways skip the segments
  // that fill the buffer wholly out of reach: the far edges of the first zigzag, all of the 16-bit one, and all
  // but the one of the last stroke that starts on the picture.
  const int skipped_expected[4] = {2 * STROKE_SAMPLES_MAX, 4 * STROKE_SAMPLES_MAX, 0, 3 * STROKE_SAMPLES_MAX};
  for (int shape = 0; shape < 4; ++shape) {
    const int16_t* c = corners[shape];
    const int16_t xs[5] = {c[0], c[2], c[2], c[0], c[0]}, ys[5] = {c[1], c[3], c[1], c[3], c[1]};
    int whole = 0, visited = 0, skipped = 0, whole_segments = 0;
    walkStroke(xs, ys, 5, 1.0f, [&](float, float) { ++whole; });
    walkStroke(xs, ys, 5, 1.0f, StrokeReach{912, 684, 2.0f}, [&](float, float) { ++visited; }, [&](int count) {
      skipped += count;
      whole_segments += count == STROKE_SAMPLES_MAX ? count : 0;
    });
    EXPECT_EQ(whole, visited + skipped) << shape;
    EXPECT_EQ(engine_fast() ? skipped_expected[shape] : 0, whole_segments) << shape;
  }
}

// Row offsets run from 1 - R to R; the rim is soft. Below radius 0.5 there are
// no rows at all; a centre or radius that is not a number, or a coverage not
// above 0.005, paints nothing. Discs over the edges paint their on-bitmap part.
TEST(Disc, PinnedDiscs) {
  const struct {
    float cx, cy, coverage, radius;
    long painted;
    uint64_t sum;
  } cases[] = {{20, 20, 1, 8, 187, 17996170906310777681u},     {20.3f, 20.6f, 1, 2, 12, 3621505732852966392u},
               {20, 20, 0.4f, 11.5f, 405, 9222647517020850737u}, {20, 20, 1, 0.49f, 0, 14465518389014101251u},
               {NAN, 20, 1, 5, 0, 14465518389014101251u},       {20, NAN, 1, 5, 0, 14465518389014101251u},
               {20, 20, 1, NAN, 0, 14465518389014101251u},       {20, 20, 0.005f, 5, 0, 14465518389014101251u},
               {1.5f, 38.5f, 1, 8, 78, 8328633616637883686u},   {-3.75f, 6, 0.4f, 8, 50, 5072552981353120261u},
               {36.25f, -2.5f, 1, 11.5f, 107, 14757113461284104712u}};
  Image* black = testsupport::make_filled(40, 40, 0, 0, 0);
  for (const auto& c : cases) {
    Image* bmp = testsupport::make_filled(40, 40, 0, 0, 0);
    softDisc(bmp, c.cx, c.cy, 200, 100, 50, c.coverage, c.radius);
    EXPECT_EQ(c.painted, testsupport::count_differences(bmp, black)) << c.cx << "," << c.cy << " r " << c.radius;
    EXPECT_EQ(c.sum, testsupport::image_checksum(bmp)) << c.cx << "," << c.cy << " r " << c.radius;
    testsupport::free_image(bmp);
  }
  testsupport::free_image(black);
}

// One stroke at in-range and out-of-range values: size and gap act as their
// bounds (1.5..8 and 0..100) beyond them. A stroke of one repeated point paints
// nothing.
TEST(Stamp, PinnedStrokes) {
  const std::vector<int16_t> still = {25, 25, 25};
  Image* blank = testsupport::make_pattern(912, 684);
  const uint64_t untouched = testsupport::image_checksum(blank);
  testsupport::free_image(blank);
  const struct {
    float size, gap;
    bool moving;
    uint64_t sum;
  } cases[] = {{6.5f, 20.0f, true, 1518476845628864280ull}, {8, 0, true, 14009003145975916033ull},
               {50, -4, true, 14009003145975916033ull},    {1.5f, 100, true, 4283033006230996930ull},
               {0, 250, true, 4283033006230996930ull},     {8, 0, false, untouched}};
  for (const auto& c : cases) {
    Image* bmp = testsupport::make_pattern(912, 684);
    const std::vector<int16_t>& sx = c.moving ? LONG_XS : still;
    drawStamp(bmp, 15.0f, 150.0f, 99.5f, c.size, c.gap, sx.data(), c.moving ? LONG_YS.data() : still.data(), sx.size());
    EXPECT_EQ(c.sum, testsupport::image_checksum(bmp)) << "size " << c.size << " gap " << c.gap;
    testsupport::free_image(bmp);
  }
}

// Pinned draw counts: a dry bristle is replaced by the last live one, which is
// processed in the same sample; leaving it for later changes these counts.
// Once every bristle is gone the rest of the stroke costs no draws.
TEST(Brush, PinnedDrawCountsOfADryingBrush) {
  Image* bmp = testsupport::make_filled(300, 100, 255, 255, 255);
  const long expected[12] = {488, 464, 487, 459, 439, 379, 495, 447, 383, 447, 463, 432};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    for (int end : {210, 290})
      EXPECT_EQ(brush_draws(bmp, seed, 3, 1, TestStroke{60, 50, end, 50}), expected[seed - 1]) << seed;
  }
  testsupport::free_image(bmp);
}

// Each row pins one behaviour: the pick-up reads at the unrotated offsets (a
// green patch just ahead of the end is carried far from the centre line), a
// repeated first point must not poison the trails, a size or dryness out of
// range or not a number acts as the bound, a dry brush fades, a wet one does not.
TEST(Brush, PinnedPictures) {
  const float nan = std::nanf("");
  const struct {
    const char* name;
    bool patch;
    TestStroke s;
    float r, g, b, size, dryness;
    uint32_t seed;
    long draws;
    uint64_t sum;
  } cases[] = {
      {"fixed", false, {15, 30, 60, 20, 110, 45, 170, 40, 185, 95, 120, 130, 40, 120, 70, 70}, 40, 90, 200, 7.5f,
       120, 0xC0FFEEu, 28561, 15832281217579429382u},
      {"pick-up", true, {40, 40, 145, 40}, 255, 0, 0, 12, 60, 12, 10882, 14464231021294920910u},
      {"repeated start", false, {40, 50, 40, 50, 100, 50, 160, 55}, 255, 0, 0, 6, 500, 4, 6301, 6063774662019092478u},
      {"lower bounds", false, {10, 10, 70, 50}, 255, 0, 0, 1.7f, 1, 9, 247, 11816818670395052870u},
      {"not a number", false, {10, 10, 70, 50}, 255, 0, 0, nan, nan, 9, 247, 11816818670395052870u},
      {"below range", false, {10, 10, 70, 50}, 255, 0, 0, -3, 1, 9, 247, 11816818670395052870u},
      {"above range", true, {40, 40, 145, 40}, 255, 0, 0, 40, 60, 12, 10882, 14464231021294920910u},
      {"dry", false, {20, 30, 190, 30}, 0, 0, 0, 6, 1, 2, 861, 13387990305951761365u},
      {"wet", false, {20, 30, 190, 30}, 0, 0, 0, 6, 500, 2, 9021, 6735044574293367172u},
  };
  for (const auto& c : cases) {
    Image* bmp = testsupport::make_pattern(200, 150);
    if (c.patch) testsupport::fill_rect(bmp, 140, 38, 160, 42, pack_pixel(0, 255, 0));
    EXPECT_EQ(c.draws, brush_draws(bmp, c.seed, c.size, c.dryness, c.s, c.r, c.g, c.b)) << c.name;
    EXPECT_EQ(c.sum, testsupport::image_checksum(bmp)) << c.name;
    testsupport::free_image(bmp);
  }
}

// One disc on black with one grey rectangle. The pass reads what it has just
// written, so a white dot is dragged along the motion as 128, 64, 32, ...; the
// wrong visiting order moves it by a pixel. Row 10 samples at y = 10.5. Near the
// edges only sampling points 1.0001 inside the bitmap are found.
TEST(Smudge, PinnedSingleDiscs) {
  const struct {
    const char* name;
    int rect[5];  // x0, y0, x1, y1, grey
    float size, cx, cy, dx, dy;
    long changed;
    uint64_t sum;
  } cases[] = {
      {"right", {20, 20, 20, 20, 255}, 4, 20, 20, -1, 0, 5, 7022455482682675919u},
      {"left", {20, 20, 20, 20, 255}, 4, 20, 20, 1, 0, 4, 15140304457026721191u},
      {"down", {20, 20, 20, 20, 255}, 4, 20, 20, 0, -1, 4, 14063880312050364455u},
      {"up", {20, 20, 20, 20, 255}, 4, 20, 20, 0, 1, 4, 4572405139988351719u},
      {"down right", {20, 20, 20, 20, 255}, 4, 20, 20, -1, -1, 4, 10770462088287144135u},
      {"fractional row", {0, 11, 59, 39, 200}, 1.7f, 20, 10.5f, -10, 0, 4, 14802506820769138439u},
      {"footprint left", {0, 0, 24, 39, 255}, 1.7f, 30, 20, -10, 0, 8, 14776471196556726231u},
      {"footprint right", {36, 0, 59, 39, 255}, 1.7f, 30, 20, 10, 0, 8, 9456461864806162903u},
      {"left edge", {0, 0, 1, 39, 255}, 1.7f, 2, 20, -3, 0, 4, 14948560538224708071u},
      {"right edge", {58, 0, 59, 39, 255}, 1.7f, 57, 20, 2, 0, 1, 8853923630705235431u},
  };
  for (const auto& c : cases) {
    Image* bmp = testsupport::make_filled(60, 40, 0, 0, 0);
    int v = c.rect[4];
    testsupport::fill_rect(bmp, c.rect[0], c.rect[1], c.rect[2], c.rect[3], pack_pixel(v, v, v));
    Image* before = testsupport::make_filled(60, 40, 0, 0, 0);
    image_copy_all(bmp, before);
    smudgeDisc(bmp, c.size, 0.5f, c.cx, c.cy, c.dx, c.dy);
    EXPECT_EQ(c.changed, testsupport::count_differences(bmp, before)) << c.name;
    EXPECT_EQ(c.sum, testsupport::image_checksum(bmp)) << c.name;
    testsupport::free_image(before);
    testsupport::free_image(bmp);
  }
}

// Too weak a stroke, a single sample and arguments that are not usable change
// nothing; a size that is not a number acts as the lower bound.
TEST(Smudge, WeakStrengthsSingleSamplesAndBadArgumentsChangeNothing) {
  Image* before = testsupport::make_pattern(160, 100);
  Image* bmp = testsupport::make_pattern(160, 100);
  smudge(bmp, 12, 6, {20, 30, 100, 60, 140, 20});
  smudge(bmp, 12, 1000, {50, 40, 51, 40});  // 1 pixel: one sample at spacing 2
  const float nan = std::nanf("");
  for (float bad : {nan, 1e30f}) {
    smudgeDisc(bmp, 4, 0.5f, bad, 20, -1, 0);
    smudgeDisc(bmp, 4, 0.5f, 30, 20, bad, bad);
    smudgeDisc(bmp, bad, 0.5f, 30, 20, -1, 0);
  }
  smudgeDisc(nullptr, 4, 0.5f, 30, 20, -1, 0);
  drawSmudge(nullptr, 8, 500, nullptr, nullptr, 3);
  EXPECT_TRUE(testsupport::images_equal(bmp, before));
  smudge(bmp, nan, 700, {10, 10, 50, 30});
  EXPECT_GT(testsupport::count_differences(bmp, before), 0);
  smudge(before, 1.7f, 700, {10, 10, 50, 30});
  EXPECT_TRUE(testsupport::images_equal(bmp, before));
  testsupport::free_image(bmp);
  testsupport::free_image(before);
}
