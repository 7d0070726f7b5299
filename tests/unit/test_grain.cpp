// Pencil and chalk: grains scattered from the command stream.
#include <gtest/gtest.h>

#include <vector>

#include "paint/chalk.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "test_support.h"

// Pinned pixels and command stream positions after a stroke seeded as the row
// says; sizes beyond the tool's range act as its bounds (pencil 1.5..8, chalk
// 1.5..12). The colours make the shades reach both channel bounds, where
// unclamped they would spill into the neighbouring channels of the packed
// pixel. The last two rows are long strokes.
TEST(Grain, PinnedPixelsAndStreamPositionsPerToolAndSize) {
  const float pencil[3] = {120.5f, 64.0f, 240.0f}, chalk[3] = {250.0f, 3.0f, 128.0f};
  const float long_pencil[3] = {90.0f, 30.5f, 200.0f}, long_chalk[3] = {240.0f, 200.0f, 10.0f};
  const std::vector<int16_t> pxs = {10, 40}, pys = {12, 30}, cxs = {15, 60}, cys = {40, 20};
  const std::vector<int16_t> lxs = {30, 200, 420, 610, 700, 880, 650, 300, 120},
                             lys = {600, 500, 620, 380, 100, 40, 300, 200, 20};
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
               {false, long_pencil, 2.5f, 2024, lxs, lys, 11415416125248512171ull, 410},
               {true, long_chalk, 7.0f, 2025, lxs, lys, 7520625522913850571ull, 26}};
  for (const auto& c : cases) {
    BITMAP* bmp = c.xs.size() > 2 ? testsupport::make_pattern(912, 684) : testsupport::make_pattern(80, 60);
    useCommandStream(c.seed);
    (c.chalk ? drawChalk : drawPencil)(bmp, c.rgb[0], c.rgb[1], c.rgb[2], c.size, c.xs.data(), c.ys.data(),
                                       c.xs.size());
    EXPECT_EQ(c.position, random_position(COMMAND_STREAM)) << (c.chalk ? "chalk " : "pencil ") << c.size;
    useLocalStream();
    EXPECT_EQ(c.sum, testsupport::bitmap_checksum(bmp)) << (c.chalk ? "chalk " : "pencil ") << c.size;
    destroy_bitmap(bmp);
  }
}
