#include "net/byte_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t FIRST_STORAGE = 256;
}  // namespace

size_t byte_buffer_used(const ByteBuffer* b) { return b->begin ? size_t(b->end - b->begin) : 0; }

size_t byte_buffer_room(const ByteBuffer* b) { return b->begin ? size_t(b->limit - b->begin) - byte_buffer_used(b) : 0; }

int byte_buffer_reserve(ByteBuffer* b, size_t room) {
  const size_t used = byte_buffer_used(b);
  const size_t size = b->begin ? size_t(b->limit - b->begin) : 0;
  size_t bigger = size;
  while (bigger - used < room) {
    const size_t next = bigger ? bigger * 2 : FIRST_STORAGE;
    if (next < bigger) return 0;
    bigger = next;
  }
  if (bigger == size) return 1;
  uint8_t* p = static_cast<uint8_t*>(realloc(b->begin, bigger));
  if (!p) return 0;
  b->begin = p;
  b->end = p + used;
  b->limit = p + bigger;
  return 1;
}

int byte_buffer_append(ByteBuffer* b, const void* bytes, size_t length) {
  if (length == 0) return 1;
  if (!bytes || !byte_buffer_reserve(b, length)) return 0;
  memcpy(b->end, bytes, length);
  b->end += length;
  return 1;
}

void byte_buffer_drop(ByteBuffer* b, size_t count) {
  const size_t used = byte_buffer_used(b);
  if (count == 0 || used == 0) return;
  if (count < used) {
    memmove(b->begin, b->begin + count, used - count);
    b->end -= count;
  } else {
    b->end = b->begin;
  }
}

void byte_buffer_release(ByteBuffer* b) {
  free(b->begin);
  *b = ByteBuffer{nullptr, nullptr, nullptr};
}
