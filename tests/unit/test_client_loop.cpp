// The mouse-button edge latch of the frame loop.
#include <gtest/gtest.h>

#include "app/client.h"

namespace {

// Feeds a sequence of mouse_b values and returns the edge of every frame.
std::vector<int> edges(std::initializer_list<int> frames) {
  bool latch = false;
  std::vector<int> out;
  for (int buttons : frames) out.push_back(button_latch_update(&latch, buttons));
  return out;
}

TEST(ButtonLatch, HoldingAButtonYieldsOneEdge) {
  EXPECT_EQ(edges({0, 1, 1, 1, 0, 0}), (std::vector<int>{0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(edges({2, 2, 2, 0}), (std::vector<int>{2, 0, 0, 0}));
}

TEST(ButtonLatch, SecondButtonWhileTheFirstIsHeldYieldsNone) {
  // left, left + right, right alone, none, then a fresh press again
  EXPECT_EQ(edges({1, 3, 2, 0, 2, 0, 1}), (std::vector<int>{1, 0, 0, 0, 2, 0, 1}));
}

TEST(ButtonLatch, BothButtonsAtOnceCountAsRight) {
  EXPECT_EQ(edges({3, 1, 0}), (std::vector<int>{2, 0, 0}));
}

TEST(ButtonLatch, OtherButtonsAreNotPresses) {
  // The middle button (bit 2) neither sets nor holds the latch.
  EXPECT_EQ(edges({4, 1, 5, 4, 1}), (std::vector<int>{0, 1, 0, 0, 1}));
}

}  // namespace
