#include "socket_frames.h"

#include <cstring>

#include "net/layout.h"
#include "net/message.h"
#include "net/wire_limits.h"

int socket_message_check(bool binary, const uint8_t* data, size_t size) {
  if (!binary) return CLOSE_NOT_BINARY;
  if (size > MAX_SOCKET_MESSAGE) return CLOSE_TOO_BIG;
  if (size == 0) return CLOSE_BAD_FRAMES;
  // The header's length is checked before the frame is complete, as the relay
  // does; a frame cut by the message's end is refused, never joined to the next.
  for (size_t at = 0; at < size;) {
    if (size - at < size_t(FRAME_HEADER_SIZE) || frame_payload_length(data + at) > MAX_PAYLOAD)
      return CLOSE_BAD_FRAMES;
    size_t frame = frame_complete_size(data + at, size - at);
    if (frame == 0) return CLOSE_BAD_FRAMES;
    at += frame;
  }
  return 0;
}

uint8_t* batcher_space(FrameBatcher* b, size_t* room) {
  if (b->ready == 0 && b->bytes.size() < b->used + SOCKET_READ) b->bytes.resize(b->used + SOCKET_READ);
  *room = b->ready > 0 ? 0 : b->bytes.size() - b->used;
  return b->bytes.data() + b->used;
}

void batcher_filled(FrameBatcher* b, size_t n) { b->used += n; }

size_t batcher_take(FrameBatcher* b) {
  size_t at = 0;
  while (size_t frame = frame_complete_size(b->bytes.data() + at, b->used - at)) at += frame;
  b->ready = at;
  return at;
}

void batcher_sent(FrameBatcher* b) {
  memmove(b->bytes.data(), b->bytes.data() + b->ready, b->used - b->ready);
  b->used -= b->ready;
  b->ready = 0;
  if (b->used == 0) std::vector<uint8_t>().swap(b->bytes);
}
