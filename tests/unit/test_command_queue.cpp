// The queue of our unaccepted messages: growth, order, ownership.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "net/command_queue.h"
#include "net/message.h"

namespace {

int number_of(Message* m) {
  uint16_t at = message_tell(m);
  int n = int(message_get_int(m));
  message_seek(m, at);
  return n;
}

}  // namespace

// Random pushes and pops against a plain model: oldest first, payloads handed
// over, room for 16 entries first and doubled when full. Entries left at the
// end are freed by queue_free (the sanitizer build's leak checker sees one left).
TEST(CommandQueue, BehavesLikeAFifoUnderRandomPushesAndPops) {
  CommandQueue q;
  queue_init(&q);
  std::deque<int> model;
  std::mt19937 gen(7);
  int next = 0;
  size_t room = 16;
  for (int step = 0; step < 400; ++step) {
    if (gen() % 3 != 0) {
      Message m;
      message_init(&m, MSG_PEN);
      message_put_int(&m, uint32_t(next));
      m.type = uint32_t(next % 200);
      ASSERT_EQ(1, queue_push(&q, &m));
      model.push_back(next++);
      if (model.size() > room) room *= 2;
      ASSERT_EQ(room, size_t(q.limit - q.begin));
    } else {
      Message out;
      message_init(&out, 42);
      ASSERT_EQ(model.empty() ? 0 : 1, queue_pop(&q, &out));
      if (model.empty()) {
        EXPECT_EQ(42u, out.type);
        EXPECT_EQ(nullptr, out.begin);
        continue;
      }
      EXPECT_EQ(model.front(), number_of(&out));
      EXPECT_EQ(uint32_t(model.front() % 200), out.type);
      model.pop_front();
      message_free(&out);
    }
    ASSERT_EQ(int(model.size()), queue_count(&q));
    for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(model[i], number_of(queue_at(&q, uint16_t(i))));
  }
  EXPECT_GT(room, 16u);
  queue_free(&q);
  EXPECT_EQ(nullptr, q.begin);
  EXPECT_EQ(0, queue_count(&q));
  CommandQueue never;
  queue_init(&never);
  queue_free(&never);
  EXPECT_EQ(nullptr, never.begin);
}
