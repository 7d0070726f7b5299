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

// Random pushes and pops against a plain model: oldest first, payloads and
// types handed over, growth past the first 16 entries. Entries left at the end
// are freed by queue_free (the sanitizer build's leak checker sees one left).
TEST(CommandQueue, BehavesLikeAFifoUnderRandomPushesAndPops) {
  CommandQueue q;
  queue_init(&q);
  std::deque<int> model;
  std::mt19937 gen(7);
  for (int step = 0, next = 0; step < 400; ++step) {
    if (gen() % 3 != 0) {
      Message m;
      message_init(&m, uint32_t(next % 200));
      message_put_int(&m, uint32_t(next));
      ASSERT_EQ(1, queue_push(&q, &m));
      model.push_back(next++);
    } else {
      Message out;
      message_init(&out, 42);
      ASSERT_EQ(model.empty() ? 0 : 1, queue_pop(&q, &out));
      EXPECT_EQ(model.empty() ? 42u : uint32_t(model.front() % 200), out.type);
      if (!model.empty()) {
        EXPECT_EQ(model.front(), number_of(&out));
        model.pop_front();
      }
      message_free(&out);
    }
    ASSERT_EQ(int(model.size()), queue_count(&q));
    for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(model[i], number_of(queue_at(&q, uint16_t(i))));
  }
  EXPECT_GT(model.size(), 16u);
  queue_free(&q);
  EXPECT_EQ(0, queue_count(&q));
  queue_init(&q);
  queue_free(&q);
  EXPECT_EQ(nullptr, q.begin);
}
