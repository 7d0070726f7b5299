// The frame loop's decisions. The mouse-button edge latch: holding a button
// yields one edge, a second one while it is held none; both at once count as
// right; the middle button (bit 2) neither sets nor holds it.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "app/client.h"
#include "app/input_events.h"
#include "app/input_wait.h"
#include "app/quit_signal.h"
#include "screen_fixture.h"
#include "test_support.h"
#include "ui/chat_view.h"

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

namespace {

// What the library does on its input thread: its globals first, then our callbacks.
void mouse_report(int buttons, int x, int y, int flags) {
  mouse_b = buttons;
  mouse_x = x;
  mouse_y = y;
  mouse_callback(flags);
}

void key_report(int scancode, bool down) {
  key[scancode] = down ? -1 : 0;
  keyboard_lowlevel_callback(down ? scancode : scancode | 0x80);
}

// Frames until nothing recorded is left, and one more.
std::vector<FrameInput> frames() {
  std::vector<FrameInput> out;
  do out.push_back(input_events_take());
  while (input_events_waiting());
  out.push_back(input_events_take());
  return out;
}

std::vector<std::vector<int>> seen(const std::vector<FrameInput>& frames) {
  std::vector<std::vector<int>> out;
  for (const FrameInput& f : frames) out.push_back({f.key, f.buttons, f.mouse_x, f.mouse_y, f.shift, f.ctrl});
  return out;
}

class RecordedInput : public testing::Test {
 protected:
  void SetUp() override {
    client_state_reset();
    for (int i = 0; i < KEY_MAX; ++i) key[i] = 0;
    mouse_b = mouse_x = mouse_y = 0;
    ASSERT_TRUE(input_wait_open());
    input_events_start();
  }
  void TearDown() override { client_state_reset(); }
};

}  // namespace

// Every button change reaches a frame of its own with the pointer where it
// happened, however short the click and however far the pointer went since;
// the frame after them sees the pointer as last reported. A report wakes a
// waiting loop.
TEST_F(RecordedInput, EveryButtonChangeReachesAFrameAtItsPosition) {
  mouse_report(0, 10, 20, MOUSE_FLAG_MOVE);
  input_wait(-1, false, 600000);  // returns at once: woken
  mouse_report(1, 10, 20, MOUSE_FLAG_LEFT_DOWN);
  mouse_report(0, 10, 20, MOUSE_FLAG_LEFT_UP);
  mouse_report(0, 300, 400, MOUSE_FLAG_MOVE);
  mouse_report(1, 300, 400, MOUSE_FLAG_LEFT_DOWN);
  mouse_report(1, 350, 420, MOUSE_FLAG_MOVE);
  mouse_report(3, 350, 420, MOUSE_FLAG_RIGHT_DOWN);
  mouse_report(2, 351, 421, MOUSE_FLAG_LEFT_UP | MOUSE_FLAG_MOVE);
  mouse_report(0, 351, 421, MOUSE_FLAG_RIGHT_UP);
  mouse_report(4, 500, 10, MOUSE_FLAG_MOVE | MOUSE_FLAG_MIDDLE_DOWN);
  input_wait(-1, false, 600000);
  const std::vector<FrameInput> got = frames();
  EXPECT_EQ(seen(got), (std::vector<std::vector<int>>{{0, 1, 10, 20, 0, 0},
                                                      {0, 0, 10, 20, 0, 0},
                                                      {0, 1, 300, 400, 0, 0},
                                                      {0, 3, 350, 420, 0, 0},
                                                      {0, 2, 351, 421, 0, 0},
                                                      {0, 0, 351, 421, 0, 0},
                                                      {0, 4, 500, 10, 0, 0}}));
  bool latch = false;
  std::vector<int> edges;
  for (const FrameInput& f : got) edges.push_back(button_latch_update(&latch, f.buttons));
  EXPECT_EQ(edges, (std::vector<int>{1, 0, 1, 0, 0, 0, 0}));
}

// Keys come in order with the button changes: a frame takes a key and the
// change right after it, never a key after a change. Each frame has the
// modifiers of its change's moment (Shift let go after the button). Keys
// stay out of the library's buffer.
TEST_F(RecordedInput, KeysAndButtonChangesKeepTheirOrderAndTheirModifiers) {
  mouse_report(0, 5, 6, MOUSE_FLAG_MOVE);
  key_report(KEY_LSHIFT, true);
  EXPECT_EQ(keyboard_callback(KEY_TAB << 8 | 9), 0);
  mouse_report(1, 5, 6, MOUSE_FLAG_LEFT_DOWN);
  mouse_report(1, 7, 8, MOUSE_FLAG_MOVE);
  mouse_report(0, 7, 8, MOUSE_FLAG_LEFT_UP);
  key_report(KEY_LSHIFT, false);
  key_report(KEY_RCONTROL, true);
  keyboard_callback(KEY_A << 8 | 'a');
  keyboard_callback(KEY_B << 8 | 'b');
  mouse_report(0, 9, 9, MOUSE_FLAG_MOVE);
  EXPECT_FALSE(keypressed());
  EXPECT_EQ(seen(frames()), (std::vector<std::vector<int>>{{KEY_TAB << 8 | 9, 1, 5, 6, 1, 0},
                                                           {0, 0, 7, 8, 1, 0},
                                                           {KEY_A << 8 | 'a', 0, 7, 8, 0, 1},
                                                           {KEY_B << 8 | 'b', 0, 9, 9, 0, 1},
                                                           {0, 0, 9, 9, 0, 1}}));
}

// More changes than are kept before a frame: the newest are dropped, and the
// frames after the kept ones see the devices as last reported.
TEST_F(RecordedInput, AFullRecordDropsTheNewestAndFollowsTheDevices) {
  for (int i = 0; i < 300; ++i) mouse_report(1 - i % 2, i, 0, i % 2 ? MOUSE_FLAG_LEFT_UP : MOUSE_FLAG_LEFT_DOWN);
  mouse_report(0, 700, 1, MOUSE_FLAG_MOVE);
  const std::vector<FrameInput> got = frames();
  ASSERT_EQ(got.size(), 257u);
  EXPECT_EQ(seen({got[255], got[256]}), (std::vector<std::vector<int>>{{0, 0, 255, 0, 0, 0}, {0, 0, 700, 1, 0, 0}}));
}

// SIGINT and SIGTERM only ask to quit and wake the loop; the client later
// ends by the signal caught. Nothing caught, nothing is raised.
TEST(QuitSignals, AskToQuitWakeTheLoopAndAreRaisedAgainAtTheEnd) {
  ASSERT_TRUE(input_wait_open());
  for (int number : {SIGINT, SIGTERM}) {
    client_state_reset();
    input_wait(-1, false, 0);
    quit_signals_install();
    raise(number);
    EXPECT_TRUE(quit_requested);
    EXPECT_EQ(quit_signal_caught(), number);
    input_wait(-1, false, 600000);  // returns at once: woken
    EXPECT_EXIT(quit_signal_reraise(), testing::KilledBySignal(number), "");
  }
  client_state_reset();
  EXPECT_FALSE(quit_requested);
  EXPECT_EQ(quit_signal_caught(), 0);
  quit_signal_reraise();
}
