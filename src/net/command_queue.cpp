#include "net/command_queue.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t FIRST_ENTRIES = 16;
}

int queue_init(CommandQueue* q) {
  q->begin = q->end = q->limit = nullptr;
  return 1;
}

void queue_free(CommandQueue* q) {
  if (!q->begin) return;
  for (Message* m = q->end; m != q->begin;) message_free(--m);
  free(q->begin);
  q->begin = q->end = q->limit = nullptr;
}

int queue_push(CommandQueue* q, const Message* m) {
  // Counts are reported in 16 bits; the queue only ever holds what is in flight.
  if (queue_count(q) == 0xFFFF) return 0;
  if (q->end == q->limit) {
    size_t entries = q->begin ? size_t(q->limit - q->begin) : 0;
    size_t used = q->begin ? size_t(q->end - q->begin) : 0;
    size_t bigger = entries ? entries * 2 : FIRST_ENTRIES;
    Message* p = static_cast<Message*>(realloc(q->begin, bigger * sizeof(Message)));
    if (!p) return 0;
    q->begin = p;
    q->end = p + used;
    q->limit = p + bigger;
  }
  *q->end++ = *m;
  return 1;
}

int queue_push_front(CommandQueue* q, const Message* m) {
  if (!queue_push(q, m)) return 0;
  const size_t before = size_t(q->end - q->begin) - 1;
  if (before) memmove(q->begin + 1, q->begin, before * sizeof(Message));
  *q->begin = *m;
  return 1;
}

int queue_take(CommandQueue* q, uint16_t index, Message* out) {
  if (index >= queue_count(q)) return 0;
  Message* at = q->begin + index;
  *out = *at;
  const size_t rest = size_t(q->end - at) - 1;
  if (rest) memmove(at, at + 1, rest * sizeof(Message));
  --q->end;
  return 1;
}

int queue_pop(CommandQueue* q, Message* out) { return queue_take(q, 0, out); }

uint16_t queue_count(const CommandQueue* q) { return uint16_t(q->end - q->begin); }

Message* queue_at(CommandQueue* q, uint16_t index) { return q->begin + index; }
