// Pencil and chalk: grains scattered from the command stream.
#include <gtest/gtest.h>

#include <vector>

#include "paint/chalk.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "test_support.h"

namespace {

std::vector<int16_t> XS = {30, 200, 420, 610, 700, 880, 650, 300, 120};
std::vector<int16_t> YS = {600, 500, 620, 380, 100, 40, 300, 200, 20};

// Draws a stroke inside the command bracket with the given seed; returns the
// command stream's position after it.
unsigned grains(BITMAP* bmp, bool chalk, float r, float g, float b, float size, uint32_t seed,
                const int16_t* xs, const int16_t* ys, unsigned n) {
  useCommandStream(0);
  seedRandom(seed);
  (chalk ? drawChalk : drawPencil)(bmp, r, g, b, size, xs, ys, n);
  unsigned used = random_position(COMMAND_STREAM);
  useLocalStream();
  return used;
}

}  // namespace

// Pinned pixels and stream positions; sizes beyond the tool's range act as its bounds
// (pencil 1.5..8, chalk 1.5..12). Colours that cut the shades at both bounds.
TEST(Grain, PinnedPixelsAndStreamPositionsPerToolAndSize) {
  const struct {
    bool chalk;
    float size;
    uint64_t sum;
    unsigned position;
  } cases[] = {{false, 1.5f, 131403195635389598ull, 373},
               {false, 0.2f, 131403195635389598ull, 373},
               {false, 4.0f, 9998451886292236241ull, 865},
               {false, 8.0f, 5882891004903484910ull, 712},
               {false, 30.0f, 5882891004903484910ull, 712},
               {true, 1.5f, 7625770356031892338ull, 360},
               {true, 5.0f, 5771309364203134110ull, 564},
               {true, 12.0f, 11804012867633109840ull, 92},
               {true, 0.0f, 7625770356031892338ull, 360},
               {true, 40.0f, 11804012867633109840ull, 92}};
  for (const auto& c : cases) {
    BITMAP* bmp = testsupport::make_pattern(80, 60);
    int16_t pxs[] = {10, 40}, pys[] = {12, 30}, cxs[] = {15, 60}, cys[] = {40, 20};
    unsigned used = c.chalk ? grains(bmp, true, 250.0f, 3.0f, 128.0f, c.size, 99, cxs, cys, 2)
                            : grains(bmp, false, 120.5f, 64.0f, 240.0f, c.size, 4242, pxs, pys, 2);
    EXPECT_EQ(c.position, used) << (c.chalk ? "chalk " : "pencil ") << c.size;
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << (c.chalk ? "chalk " : "pencil ") << c.size;
    destroy_bitmap(bmp);
  }
}

TEST(Grain, PinnedLongStrokes) {
  BITMAP* bmp = testsupport::make_pattern(912, 684);
  grains(bmp, false, 90.0f, 30.5f, 200.0f, 2.5f, 2024, XS.data(), YS.data(), XS.size());
  EXPECT_EQ(11415416125248512171ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
  bmp = testsupport::make_pattern(912, 684);
  grains(bmp, true, 240.0f, 200.0f, 10.0f, 7.0f, 2025, XS.data(), YS.data(), XS.size());
  EXPECT_EQ(7520625522913850571ull, testsupport::bitmap_checksum(bmp));
  destroy_bitmap(bmp);
}

TEST(Grain, ShadesAreCutAtTheChannelBounds) {
  // Unclamped, 255 + shade or 0 + shade would spill into the neighbouring
  // channels of the packed pixel; grey paint on grey must stay grey.
  for (float level : {255.0f, 0.0f}) {
    BITMAP* bmp = testsupport::make_filled(60, 40, 128, 128, 128);
    int16_t xs[] = {10, 50}, ys[] = {20, 20};
    grains(bmp, false, level, level, level, 4.0f, 5, xs, ys, 2);
    grains(bmp, true, level, level, level, 6.0f, 5, xs, ys, 2);
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
  BITMAP* a = testsupport::make_pattern(912, 300);
  BITMAP* b = testsupport::make_pattern(912, 300);
  for (BITMAP* target : {a, b}) {
    grains(target, false, 10, 200, 30, 3.0f, 31337, XS.data(), YS.data(), 5);
    grains(target, true, 200, 10, 30, 9.0f, 31337, XS.data(), YS.data(), 5);
    for (int i = 0; i < 1234; ++i) nextRandom();  // local draws between
    useCommandStream(7);
    for (int i = 0; i < 555; ++i) nextRandom();  // and command draws
    useLocalStream();
  }
  EXPECT_TRUE(testsupport::bitmaps_equal(a, b));
  destroy_bitmap(b);
  destroy_bitmap(a);
}
