// The mouse-button edge latch of the frame loop: holding a button yields one
// edge, a second one while it is held none; both at once count as right; the
// middle button (bit 2) neither sets nor holds it.
#include <gtest/gtest.h>

#include "app/client.h"

TEST(ButtonLatch, EdgesOfButtonSequences) {
  const std::vector<int> cases[][2] = {
      {{0, 1, 1, 1, 0, 0}, {0, 1, 0, 0, 0, 0}}, {{2, 2, 2, 0}, {2, 0, 0, 0}},
      {{1, 3, 2, 0, 2, 0, 1}, {1, 0, 0, 0, 2, 0, 1}}, {{3, 1, 0}, {2, 0, 0}},
      {{4, 1, 5, 4, 1}, {0, 1, 0, 0, 1}}};
  for (const auto& c : cases) {
    bool latch = false;
    std::vector<int> got;
    for (int buttons : c[0]) got.push_back(button_latch_update(&latch, buttons));
    EXPECT_EQ(c[1], got);
  }
}
