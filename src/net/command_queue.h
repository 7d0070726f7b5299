// Our sent messages that the server has not accepted yet, oldest first.
#pragma once
#include <cstdint>
#include "net/message.h"

struct CommandQueue {
  Message* begin;
  Message* end;
  Message* limit;
};

int queue_init(CommandQueue* q);
void queue_free(CommandQueue* q);
int queue_push(CommandQueue* q, const Message* m);
int queue_pop(CommandQueue* q, Message* out);
// Takes the entry at index out of the queue, the rest closing up. 0 when there is none.
int queue_take(CommandQueue* q, uint16_t index, Message* out);
// Puts m before every other entry (a login request ahead of what waits).
int queue_push_front(CommandQueue* q, const Message* m);
uint16_t queue_count(const CommandQueue* q);
Message* queue_at(CommandQueue* q, uint16_t index);
