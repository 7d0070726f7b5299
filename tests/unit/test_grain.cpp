// Pencil and chalk: grains scattered from the command stream.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "paint/chalk.h"
#include "paint/disc.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/stroke.h"
#include "test_support.h"

namespace {

// A draw as a real number: one multiplication by 1 / 4294967295, and a scaled
// draw by one constant k / 4294967295 (not a product then a division).
double u(uint32_t d) { return d * (1.0 / 4294967295.0); }

float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// A point in the circle by rejection, written out plainly.
void random_offset(float size, float* dx, float* dy, float* dist) {
  do {
    *dx = float((u(nextRandom()) - 0.5) * size * 2);
    *dy = float((u(nextRandom()) - 0.5) * size * 2);
    *dist = float(std::sqrt(double(*dx) * *dx + double(*dy) * *dy));
  } while (*dist > size);
}

void shaded(float shade, const float in[3], float out[3]) {
  for (int k = 0; k < 3; ++k) {
    out[k] = float(in[k] + shade);
    if (shade > 0 && out[k] > 255) out[k] = 255;
    if (shade <= 0 && out[k] < 0) out[k] = 0;
  }
}

// Straight two-point strokes only: samples at A + d * k, k = 0, 1, ...
std::vector<std::pair<float, float>> straight_samples(int16_t x0, int16_t y0, int16_t x1, int16_t y1) {
  std::vector<std::pair<float, float>> out;
  double ex = x1 - x0, ey = y1 - y0;
  float len = float(std::sqrt(ex * ex + ey * ey));
  float dx = float(ex / len), dy = float(ey / len);
  float px = x0, py = y0, remaining = len;
  out.push_back({px, py});
  while (remaining >= 1.0f) {
    px = float(px + double(dx));
    py = float(py + double(dy));
    out.push_back({px, py});
    remaining = float(remaining - 1.0);
  }
  return out;
}

// Returns the number of grains per sample.
std::vector<int> reference_pencil(BITMAP* bmp, const float col[3], float size, int16_t x0, int16_t y0, int16_t x1,
                                  int16_t y1) {
  size = clampf(size, 1.5f, 8.0f);
  std::vector<int> grains;
  for (auto s : straight_samples(x0, y0, x1, y1)) {
    float acc = 0;
    int count = 0;
    do {
      float dx, dy, dist;
      random_offset(size, &dx, &dy, &dist);
      float shade = float(nextRandom() * (40.0 / 4294967295.0) - 20), c[3];
      shaded(shade, col, c);
      splatPoint(bmp, float(s.first + double(dx)), float(s.second + double(dy)), c[0], c[1], c[2], 1.0f);
      acc = float(acc + 0.6);
      ++count;
    } while (acc <= size);
    grains.push_back(count);
  }
  return grains;
}

// Runs a renderer inside the command bracket with the given seed.
template <class F>
void with_seed(uint32_t seed, F draw) {
  useCommandStream(0);
  seedRandom(seed);
  draw();
}

std::vector<int16_t> XS = {30, 200, 420, 610, 700, 880, 650, 300, 120};
std::vector<int16_t> YS = {600, 500, 620, 380, 100, 40, 300, 200, 20};

}  // namespace

TEST(Pencil, GrainsPerSampleAndPixelsMatchPlainComputation) {
  const float col[3] = {120.5f, 64.0f, 240.0f};
  struct Case {
    float size;
    int grains;
  };
  for (Case c : {Case{1.5f, 3}, Case{8.0f, 14}, Case{0.2f, 3}, Case{30.0f, 14}, Case{4.0f, 7}}) {
    BITMAP* got = testsupport::make_pattern(64, 48);
    BITMAP* want = testsupport::make_pattern(64, 48);
    int16_t xs[] = {10, 40}, ys[] = {12, 30};
    with_seed(4242, [&] { drawPencil(got, col[0], col[1], col[2], c.size, xs, ys, 2); });
    unsigned used = random_position(COMMAND_STREAM);
    with_seed(4242, [&] {
      std::vector<int> grains = reference_pencil(want, col, c.size, 10, 12, 40, 30);
      for (int k : grains) EXPECT_EQ(c.grains, k) << "size " << c.size;
    });
    useLocalStream();
    EXPECT_EQ(random_position(COMMAND_STREAM), used) << "draws consumed, size " << c.size;
    EXPECT_TRUE(testsupport::bitmaps_equal(want, got)) << "size " << c.size;
    destroy_bitmap(want);
    destroy_bitmap(got);
  }
}

// Pinned pixels and draws; sizes beyond 1.5..12 act as the bounds.
TEST(Chalk, PinnedPixelsAndDrawsPerSize) {
  const struct {
    float size;
    uint64_t sum;
    unsigned draws;
  } cases[] = {{1.5f, 7625770356031892338ull, 360},
                 {5.0f, 5771309364203134110ull, 564},
                 {12.0f, 11804012867633109840ull, 92},
                 {0.0f, 7625770356031892338ull, 360},
                 {40.0f, 11804012867633109840ull, 92}};
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_pattern(80, 60);
    int16_t xs[] = {15, 60}, ys[] = {40, 20};
    with_seed(99, [&] { drawChalk(bmp, 250.0f, 3.0f, 128.0f, c.size, xs, ys, 2); });  // shades cut at both bounds
    EXPECT_EQ(c.draws, random_position(COMMAND_STREAM)) << "size " << c.size;
    useLocalStream();
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << "size " << c.size;
    destroy_bitmap(bmp);
  }
}

TEST(Grain, ShadesAreCutAtTheChannelBounds) {
  // Unclamped, 255 + shade or 0 + shade would spill into the neighbouring
  // channels of the packed pixel; grey paint on grey must stay grey.
  for (float level : {255.0f, 0.0f}) {
    BITMAP* bmp = testsupport::make_filled(60, 40, 128, 128, 128);
    int16_t xs[] = {10, 50}, ys[] = {20, 20};
    with_seed(5, [&] {
      drawPencil(bmp, level, level, level, 4.0f, xs, ys, 2);
      drawChalk(bmp, level, level, level, 6.0f, xs, ys, 2);
    });
    useLocalStream();
    long changed = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) {
        int p = getpixel(bmp, x, y);
        ASSERT_EQ(getr32(p), getg32(p));
        ASSERT_EQ(getr32(p), getb32(p));
        ASSERT_EQ(0, p >> 24);
        if (getr32(p) != 128) ++changed;
      }
    EXPECT_GT(changed, 100);
    destroy_bitmap(bmp);
  }
}

TEST(Grain, SameStrokeSamePixelsWhateverWasDrawnBetween) {
  BITMAP* picture = testsupport::make_pattern(912, 300);
  BITMAP* a = create_bitmap_ex(32, picture->w, picture->h);
  BITMAP* b = create_bitmap_ex(32, picture->w, picture->h);
  auto render = [&](BITMAP* target) {
    blit(picture, target, 0, 0, 0, 0, picture->w, picture->h);
    with_seed(31337, [&] {
      drawPencil(target, 10, 200, 30, 3.0f, XS.data(), YS.data(), 5);
      drawChalk(target, 200, 10, 30, 9.0f, XS.data(), YS.data(), 5);
    });
    useLocalStream();
  };
  render(a);
  for (int i = 0; i < 1234; ++i) nextRandom();  // local draws between
  useCommandStream(7);
  for (int i = 0; i < 555; ++i) nextRandom();  // and command draws
  useLocalStream();
  render(b);
  EXPECT_TRUE(testsupport::bitmaps_equal(a, b));
  EXPECT_GT(testsupport::count_differences(a, picture), 1000);
  // Another seed scatters other grains.
  blit(picture, b, 0, 0, 0, 0, picture->w, picture->h);
  with_seed(31338, [&] { drawPencil(b, 10, 200, 30, 3.0f, XS.data(), YS.data(), 5); });
  useLocalStream();
  blit(picture, a, 0, 0, 0, 0, picture->w, picture->h);
  with_seed(31337, [&] { drawPencil(a, 10, 200, 30, 3.0f, XS.data(), YS.data(), 5); });
  useLocalStream();
  EXPECT_GT(testsupport::count_differences(a, b), 100);
  destroy_bitmap(b);
  destroy_bitmap(a);
  destroy_bitmap(picture);
}

TEST(Grain, PinnedStrokes) {
  BITMAP* bmp = testsupport::make_pattern(912, 684);
  with_seed(2024, [&] { drawPencil(bmp, 90.0f, 30.5f, 200.0f, 2.5f, XS.data(), YS.data(), XS.size()); });
  useLocalStream();
  EXPECT_EQ(11415416125248512171ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
  bmp = testsupport::make_pattern(912, 684);
  with_seed(2025, [&] { drawChalk(bmp, 240.0f, 200.0f, 10.0f, 7.0f, XS.data(), YS.data(), XS.size()); });
  useLocalStream();
  EXPECT_EQ(7520625522913850571ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
}
