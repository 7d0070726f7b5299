// A growing buffer of bytes: what came from a peer and is not handled yet, or
// what is framed for it and not sent yet. Bytes are added at the end and taken
// from the front.
#pragma once
#include <cstddef>
#include <cstdint>

// begin..end holds the bytes, end..limit is free; storage..begin was taken
// and is reused when room is needed (taking bytes moves nothing, so a long
// backlog is read in linear time). All null before the first byte.
struct ByteBuffer {
  uint8_t* begin;
  uint8_t* end;
  uint8_t* limit;
  uint8_t* storage;
};

size_t byte_buffer_used(const ByteBuffer* b);
size_t byte_buffer_room(const ByteBuffer* b);
// Makes at least room bytes free after end: the contents move to the front of
// the storage when the space they were taken from is needed, and the storage
// doubles until they fit (the first storage is 256 bytes). On failure nothing
// changes.
int byte_buffer_reserve(ByteBuffer* b, size_t room);
// Appends length bytes; on failure the buffer is as it was.
int byte_buffer_append(ByteBuffer* b, const void* bytes, size_t length);
// Takes count bytes (all, when fewer are there) from the front.
void byte_buffer_drop(ByteBuffer* b, size_t count);
// Frees the storage: empty, as before the first byte.
void byte_buffer_release(ByteBuffer* b);
