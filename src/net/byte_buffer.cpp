#include "net/byte_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t FIRST_STORAGE = 256;
}  // namespace

size_t byte_buffer_used(const ByteBuffer* b) { return b->begin ? size_t(b->end - b->begin) : 0; }

size_t byte_buffer_room(const ByteBuffer* b) { return b->begin ? size_t(b->limit - b->end) : 0; }

int byte_buffer_reserve(ByteBuffer* b, size_t room) {
  if (byte_buffer_room(b) >= room) return 1;
  const size_t used = byte_buffer_used(b);
  const size_t size = b->storage ? size_t(b->limit - b->storage) : 0;
  const size_t dead = size_t(b->begin - b->storage);
  // Moving the bytes to the front costs no more than what was taken since
  // they last moved; otherwise the storage doubles.
  size_t bigger = size;
  if (dead < used || size - used < room) {
    do {
      const size_t next = bigger ? bigger * 2 : FIRST_STORAGE;
      if (next < bigger) return 0;
      bigger = next;
    } while (bigger - used < room);
  }
  uint8_t* p = b->storage;
  if (bigger != size) {
    p = static_cast<uint8_t*>(realloc(b->storage, bigger));
    if (!p) return 0;
  }
  // realloc kept the dead front too: the bytes sit at the same offset.
  memmove(p, p + dead, used);
  b->storage = b->begin = p;
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
  if (count < used)
    b->begin += count;
  else
    b->begin = b->end = b->storage;
}

void byte_buffer_release(ByteBuffer* b) {
  free(b->storage);
  *b = ByteBuffer{nullptr, nullptr, nullptr, nullptr};
}
