#include "net/message.h"

#include <cstdlib>
#include <cstring>

#include "net/byte_buffer.h"
#include "net/layout.h"

namespace {

constexpr size_t FIRST_STORAGE = 16;
// A scaled value travels as round-down(v * 65.535) for v in 0..400 and reads
// back as s * 1000/65535 (the nearest doubles to both constants).
constexpr double SCALE_ENCODE = 65.535;
constexpr double SCALE_DECODE = 0.015259021896696421;
constexpr double SCALE_MAX = 400.0;

size_t payload_size(const Message* m) { return m->begin ? size_t(m->end - m->begin) : 0; }

// Gives the storage at least 2 free bytes.
int grow_storage(Message* m) {
  if (!m->begin) {
    uint8_t* p = static_cast<uint8_t*>(malloc(FIRST_STORAGE));
    if (!p) return 0;
    m->begin = m->read_pos = m->end = p;
    m->limit = p + FIRST_STORAGE;
    return 1;
  }
  // Offsets as integers: the compiler sinks them past realloc and would then
  // warn about its own reordering.
  const uintptr_t base = uintptr_t(m->begin);
  const size_t size = size_t(uintptr_t(m->limit) - base);
  const size_t used = size_t(uintptr_t(m->end) - base);
  const size_t read = size_t(uintptr_t(m->read_pos) - base);
  size_t bigger = size;
  do {
    if (bigger > SIZE_MAX / 2) return 0;
    bigger *= 2;
  } while (bigger - used < 2);
  uint8_t* p = static_cast<uint8_t*>(realloc(m->begin, bigger));
  if (!p) return 0;
  *m = Message{m->type, p, p + read, p + used, p + bigger};
  return 1;
}

// Applied before every appended byte: grow when fewer than 2 bytes are free.
inline int reserve_byte(Message* m) {
  return (m->begin && m->limit - m->end > 1) || grow_storage(m);
}

}  // namespace

int message_init(Message* m, uint32_t type) {
  m->type = type;
  m->begin = m->read_pos = m->end = m->limit = nullptr;
  return 1;
}

void message_free(Message* m) {
  if (m->begin) free(m->begin);
}

int message_put_byte(Message* m, int value) {
  if (!reserve_byte(m)) return 0;
  *m->end++ = uint8_t(value & 0xFF);
  return 1;
}

int message_put_short(Message* m, int value) {
  return message_put_byte(m, value) && message_put_byte(m, value >> 8);
}

int message_put_int(Message* m, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    if (!message_put_byte(m, int((value >> shift) & 0xFF))) return 0;
  }
  return 1;
}

int message_put_scaled(Message* m, double value) {
  if (!(value >= 0.0)) value = 0.0;  // also catches NaN
  if (value > SCALE_MAX) value = SCALE_MAX;
  return message_put_short(m, int(value * SCALE_ENCODE));
}

int message_put_string(Message* m, const char* text) {
  if (text) {
    for (const char* p = text; *p; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (is_printable(c) && !message_put_byte(m, c)) return 0;
    }
  }
  return message_put_byte(m, 0);
}

int message_get_byte(Message* m) {
  if (!m->read_pos || m->read_pos >= m->end) return 0;
  return *m->read_pos++;
}

uint16_t message_get_short(Message* m) {
  unsigned low = unsigned(message_get_byte(m));
  unsigned high = unsigned(message_get_byte(m));
  return uint16_t(low | (high << 8));
}

uint32_t message_get_int(Message* m) {
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) value |= uint32_t(message_get_byte(m)) << shift;
  return value;
}

float message_get_scaled(Message* m) {
  return float(double(message_get_short(m)) * SCALE_DECODE);
}

void message_get_string(Message* m, char* buffer, uint16_t capacity) {
  size_t stored = 0;
  while (m->read_pos && m->read_pos < m->end) {
    unsigned char c = *m->read_pos++;
    if (c == 0) break;
    if (buffer && is_printable(c) && stored + 1 < capacity) buffer[stored++] = char(c);
  }
  if (buffer && capacity > 0) buffer[stored] = 0;
}

uint16_t message_tell(const Message* m) {
  return m->begin ? uint16_t(m->read_pos - m->begin) : 0;
}

void message_seek(Message* m, uint16_t offset) {
  if (!m->begin) return;
  size_t size = payload_size(m);
  m->read_pos = m->begin + (offset < size ? offset : size);
}

uint16_t message_remaining(const Message* m) {
  return m->read_pos ? uint16_t(m->end - m->read_pos) : 0;
}

size_t message_length(const Message* m) { return payload_size(m); }

// Type byte, then the payload length low byte first (modulo 65536).
static void write_header(const Message* m, uint8_t* out) {
  size_t length = payload_size(m);
  out[0] = uint8_t(m->type & 0xFF);
  out[1] = uint8_t(length & 0xFF);
  out[2] = uint8_t((length >> 8) & 0xFF);
}

void message_write_frame(const Message* m, uint8_t* out) {
  write_header(m, out);
  size_t length = payload_size(m);
  if (length) memcpy(out + FRAME_HEADER_SIZE, m->begin, length);
}

int message_send(Message* m, ByteBuffer* out) {
  size_t length = payload_size(m);
  // The length field has 16 bits: a longer payload would desynchronise the stream.
  if (length > FRAME_PAYLOAD_MAX) return 0;
  uint8_t header[FRAME_HEADER_SIZE];
  write_header(m, header);
  // Room for the whole frame first: never half a frame, the peer would read garbage after it.
  if (!byte_buffer_reserve(out, FRAME_HEADER_SIZE + length)) return 0;
  byte_buffer_append(out, header, FRAME_HEADER_SIZE);
  byte_buffer_append(out, m->begin, length);
  return 1;
}

size_t frame_complete_size(const uint8_t* data, size_t n) {
  if (!data || n < size_t(FRAME_HEADER_SIZE)) return 0;
  size_t length = frame_payload_length(data);
  size_t total = FRAME_HEADER_SIZE + length;
  return n >= total ? total : 0;
}

int message_from_frame(Message* m, const uint8_t* frame) {
  size_t length = frame_payload_length(frame);
  uint8_t* storage = nullptr;
  if (length) {
    storage = static_cast<uint8_t*>(malloc(length));
    if (!storage) return 0;
    memcpy(storage, frame + FRAME_HEADER_SIZE, length);
  }
  m->type = frame[0];
  m->begin = m->read_pos = storage;
  m->end = m->limit = storage ? storage + length : nullptr;
  return 1;
}

int message_receive(Message* m, ByteBuffer* in) {
  // Full-width counts: a backlog beyond 65535 bytes and payloads up to 65535
  // bytes are measured and dropped exactly.
  size_t size = frame_complete_size(in->begin, byte_buffer_used(in));
  if (size == 0) return 0;
  if (!message_from_frame(m, in->begin)) return 0;
  byte_buffer_drop(in, size);
  return 1;
}
