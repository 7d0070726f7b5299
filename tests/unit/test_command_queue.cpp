// The queue of our unaccepted messages: growth, order, ownership.
#include <gtest/gtest.h>

#include "net/command_queue.h"
#include "net/message.h"

namespace {

Message numbered(int n) {
  Message m;
  message_init(&m, MSG_PEN);
  message_put_int(&m, uint32_t(n));
  return m;
}

int number_of(Message* m) {
  uint16_t at = message_tell(m);
  int n = int(message_get_int(m));
  message_seek(m, at);
  return n;
}

}  // namespace

TEST(CommandQueue, GrowsFromSixteenToThirtyTwoEntries) {
  CommandQueue q;
  queue_init(&q);
  EXPECT_EQ(0, queue_count(&q));
  for (int i = 0; i < 16; ++i) {
    Message m = numbered(i);
    ASSERT_EQ(1, queue_push(&q, &m));
    EXPECT_EQ(16, q.limit - q.begin);
  }
  Message m = numbered(16);
  ASSERT_EQ(1, queue_push(&q, &m));
  EXPECT_EQ(32, q.limit - q.begin);
  EXPECT_EQ(17, queue_count(&q));
  for (int i = 0; i < 17; ++i) EXPECT_EQ(i, number_of(queue_at(&q, uint16_t(i))));
  queue_free(&q);
  EXPECT_EQ(nullptr, q.begin);
}

TEST(CommandQueue, PopsOldestFirstAndHandsOverThePayload) {
  CommandQueue q;
  queue_init(&q);
  for (int i = 1; i <= 3; ++i) {
    Message m = numbered(i);
    m.type = uint32_t(i);
    ASSERT_EQ(1, queue_push(&q, &m));
  }
  Message out;
  ASSERT_EQ(1, queue_pop(&q, &out));
  EXPECT_EQ(1u, out.type);
  EXPECT_EQ(1, number_of(&out));
  message_free(&out);
  EXPECT_EQ(2, queue_count(&q));
  EXPECT_EQ(2, number_of(queue_at(&q, 0)));
  EXPECT_EQ(3, number_of(queue_at(&q, 1)));

  Message fourth = numbered(4);
  ASSERT_EQ(1, queue_push(&q, &fourth));
  for (int expected = 2; expected <= 4; ++expected) {
    ASSERT_EQ(1, queue_pop(&q, &out));
    EXPECT_EQ(expected, number_of(&out));
    message_free(&out);
  }
  Message untouched;
  message_init(&untouched, 42);
  EXPECT_EQ(0, queue_pop(&q, &untouched));
  EXPECT_EQ(42u, untouched.type);
  EXPECT_EQ(nullptr, untouched.begin);
  queue_free(&q);
}

TEST(CommandQueue, FreeReleasesPendingEntriesAndIsHarmlessWhenNeverUsed) {
  CommandQueue never;
  queue_init(&never);
  queue_free(&never);
  EXPECT_EQ(nullptr, never.begin);

  // The leak checker of the sanitizer build fails this test if a payload stays.
  CommandQueue q;
  queue_init(&q);
  for (int i = 0; i < 40; ++i) {
    Message m = numbered(i);
    ASSERT_EQ(1, queue_push(&q, &m));
  }
  queue_free(&q);
  EXPECT_EQ(0, queue_count(&q));
}
