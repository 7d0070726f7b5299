// The frame loop's decisions. The mouse-button edge latch: holding a button
// yields one edge, a second one while it is held none; both at once count as
// right; the middle button (bit 2) neither sets nor holds it.
#include <gtest/gtest.h>

#include "app/client.h"
#include "screen_fixture.h"
#include "test_support.h"
#include "ui/chat_log.h"

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

// A frame is idle only when it had no key and left nothing to do: nothing to
// copy to the screen, nothing in flight.
TEST_F(ScreenTest, FramesAreIdleOnlyWhenNothingIsLeftToDo) {
  BITMAP* shown = create_bitmap(1024, 768);
  screen = shown;
  mark_all_dirty();
  EXPECT_EQ(1, client_frame(FrameInput{}));
  EXPECT_EQ(FRAME_IDLE, client_frame(FrameInput{}));
  EXPECT_EQ(FRAME_IDLE, client_frame(FrameInput{}));
  FrameInput key = {};
  key.key = KEY_A << 8 | 'a';
  EXPECT_EQ(1, client_frame(key));
  add_chat_line(nullptr, "a notice");
  EXPECT_EQ(1, client_frame(FrameInput{}));
  EXPECT_EQ(FRAME_IDLE, client_frame(FrameInput{}));
  EXPECT_TRUE(testsupport::bitmaps_equal(shown, BackBuffer));
  screen = nullptr;
  destroy_bitmap(shown);
}
