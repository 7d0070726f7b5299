// The busy bar: its bands, when it is drawn, and how it is erased.
#include <string>

#include "app/busy_indicator.h"
#include "app/session.h"
#include "net/link.h"
#include "screen_fixture.h"
#include "test_support.h"

using testsupport::bitmap_checksum;

namespace {

class Busy : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    net_available = connected = true;
    pend(1);
  }
  // Makes the queue hold n entries (payload-less messages).
  static void pend(int n) {
    Message m;
    message_init(&m, MSG_PEN);
    while (queue_count(&command_queue) < n) queue_push(&command_queue, &m);
    while (queue_count(&command_queue) > n) queue_pop(&command_queue, &m);
  }
  // Runs n frames; '#' for each that drew.
  static std::string frames(int n) {
    std::string drawn;
    for (int i = 0; i < n; ++i) {
      dirty_list_clear();
      busy_indicator_step();
      drawn += dirty_list.count ? '#' : '.';
    }
    return drawn;
  }
};

// Nothing while offline. The counter runs 1..49; the red and black bands move
// one step every fifth frame, the first drawn on the sixth; arriving data
// redraws at once.
TEST_F(Busy, BandsMoveEveryFifthBusyFrameOrWhenDataArrives) {
  connected = false;
  EXPECT_EQ(frames(20), std::string(20, '.'));
  connected = true;
  EXPECT_EQ(frames(6), ".....#");
  EXPECT_EQ(xywh(dirty_list.rects[0]), (std::vector<int>{482, 1, 60, 4}));
  EXPECT_EQ(bitmap_checksum(BackBuffer), 17786350333122086514u);
  EXPECT_EQ(frames(40), "....#....#....#....#....#....#....#....#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 3655300269410365810u);
  EXPECT_EQ(frames(52), "........#....#....#....#....#....#....#....#....#...");
  EXPECT_EQ(busy_counter, 49);
  received_this_frame = true;
  EXPECT_EQ(frames(1), "#");
  EXPECT_EQ(bitmap_checksum(BackBuffer), 11755040053636967986u);
}

// Erased once when the queue empties, and nothing while idle: in black above
// the picture, from the picture where it reaches the top of the screen.
TEST_F(Busy, ErasedOnceWithWhatLiesUnderTheBar) {
  const struct {
    int w, h;
    uint64_t sum;
  } cases[] = {{1024, 768, 11404660258152073106u},
               {800, 686, 7821495452000257786u},
               {800, 600, 13242589941333146220u}};
  BITMAP* pattern = testsupport::make_pattern(CANVAS_WIDTH, CANVAS_HEIGHT);
  for (const auto& c : cases) {
    open_screen(c.w, c.h);
    blit(pattern, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    frames(6);
    pend(0);
    EXPECT_EQ(frames(3), "#..");
    EXPECT_EQ(bitmap_checksum(BackBuffer), c.sum) << c.h;
    pend(1);
  }
  destroy_bitmap(pattern);
}

}  // namespace
