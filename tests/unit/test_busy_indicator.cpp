// The busy bar: its bands, when it is drawn, and how it is erased.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/busy_indicator.h"
#include "app/client.h"
#include "ui/screen.h"
#include "app/session.h"
#include "paint/canvas.h"
#include "test_support.h"
#include "paint/dirty_rect.h"

using namespace testsupport;

namespace {

class Busy : public ::testing::Test {
 protected:
  void SetUp() override { use_screen(1024, 768); }
  void TearDown() override {
    connected = false;
    queue_free(&command_queue);
    if (BackBuffer) destroy_bitmap(BackBuffer);
    if (LocalCanvas) destroy_bitmap(LocalCanvas);
    BackBuffer = LocalCanvas = nullptr;
  }
  void use_screen(int w, int h) {
    TearDown();
    screen_set_layout(w, h);
    dirty_list_clear();
    BackBuffer = create_bitmap_ex(32, w, h);
    clear_to_color(BackBuffer, makecol32(0, 0, 255));
    LocalCanvas = make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
    busy_counter = 0;
    received_this_frame = false;
    net_available = true;
    connected = true;
    queue_init(&command_queue);
    pend(1);
  }
  // Makes the queue hold n entries (payload-less messages).
  void pend(int n) {
    Message m;
    message_init(&m, MSG_PEN);
    while (queue_count(&command_queue) < n) queue_push(&command_queue, &m);
    Message out;
    while (queue_count(&command_queue) > n) queue_pop(&command_queue, &out);
  }
  int xb() const { return screen_width / 2 - 30; }
  bool bar_untouched() {
    for (int i = -2; i < 62; ++i)
      for (int y = 0; y < 6; ++y)
        if (getpixel(BackBuffer, xb() + i, y) != makecol32(0, 0, 255)) return false;
    return true;
  }
  // The colour of the bar's columns as 'r' and 'k' letters, checked on all four rows.
  std::string bands() {
    std::string s;
    for (int i = 0; i < 60; ++i) {
      const int c = getpixel(BackBuffer, xb() + i, 1);
      for (int y = 2; y <= 4; ++y) EXPECT_EQ(getpixel(BackBuffer, xb() + i, y), c);
      s += c == makecol32(255, 0, 0) ? 'r' : c == makecol32(0, 0, 0) ? 'k' : '?';
    }
    EXPECT_EQ(getpixel(BackBuffer, xb() + 10, 0), makecol32(0, 0, 255));
    EXPECT_EQ(getpixel(BackBuffer, xb() + 10, 5), makecol32(0, 0, 255));
    return s;
  }
};

std::string expected_bands(int p) {
  std::string s;
  for (int i = 0; i < 60; ++i) s += ((p + i) / 5) % 2 ? 'k' : 'r';
  return s;
}

TEST_F(Busy, FirstDrawnOnTheSixthBusyFrameThenEveryFifth) {
  for (int frame = 1; frame <= 5; ++frame) busy_indicator_step();
  EXPECT_EQ(busy_counter, 5);
  EXPECT_TRUE(bar_untouched());
  EXPECT_EQ(dirty_list.count, 0);
  busy_indicator_step();
  EXPECT_EQ(bands(), expected_bands(1));
  ASSERT_EQ(dirty_list.count, 1);
  const DirtyRect r = dirty_list.rects[0];
  EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{xb(), 1, 60, 4}));
  int draws = 1;
  for (int frame = 7; frame <= 49 + 49; ++frame) {
    dirty_list_clear();
    busy_indicator_step();
    draws += dirty_list.count;
    if (busy_counter == 46) {
      EXPECT_EQ(bands(), expected_bands(9));
    }
  }
  EXPECT_EQ(busy_counter, 49);  // 98 frames: 1..49 twice
  EXPECT_EQ(draws, 9 + 9);      // p = 1..9 in each cycle
}

TEST_F(Busy, ArrivingDataRedrawsAtOnce) {
  received_this_frame = true;
  busy_indicator_step();
  EXPECT_EQ(busy_counter, 1);
  EXPECT_EQ(bands().substr(0, 10), "rrrrrkkkkk");
  EXPECT_EQ(bands(), expected_bands(0));
}

TEST_F(Busy, NothingWhileOfflineOrIdle) {
  connected = false;
  for (int i = 0; i < 20; ++i) busy_indicator_step();
  pend(0);
  connected = true;
  net_available = true;
  for (int i = 0; i < 20; ++i) busy_indicator_step();
  EXPECT_EQ(busy_counter, 0);
  EXPECT_TRUE(bar_untouched());
  EXPECT_EQ(dirty_list.count, 0);
}

TEST_F(Busy, ErasedWithBlackAboveThePicture) {
  for (int i = 0; i < 6; ++i) busy_indicator_step();
  pend(0);
  dirty_list_clear();
  busy_indicator_step();
  EXPECT_EQ(busy_counter, 0);
  EXPECT_EQ(bands(), std::string(60, 'k'));
  EXPECT_EQ(dirty_list.count, 1);
  dirty_list_clear();
  busy_indicator_step();  // erased once only
  EXPECT_EQ(dirty_list.count, 0);
}

TEST_F(Busy, ErasedFromTheCanvasWhenThePictureReachesTheTop) {
  for (int h : {686, 600}) {
    SCOPED_TRACE(h);
    use_screen(800, h);
    for (int i = 0; i < 6; ++i) busy_indicator_step();
    pend(0);
    busy_indicator_step();
    const int ox = (800 - CANVAS_WIDTH) / 2, oy = (h - CANVAS_HEIGHT) / 2;
    for (int y = 1; y <= 4; ++y)
      for (int i = 0; i < 60; ++i)
        ASSERT_EQ(getpixel(BackBuffer, xb() + i, y), getpixel(LocalCanvas, xb() + i - ox, y - oy));
  }
}

}  // namespace
