#include "net/checkpoint.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "net/message.h"
#include "paint/canvas.h"
#include "paint/png_read.h"

namespace {

void put32(uint8_t* at, uint32_t v) {
  for (int k = 0; k < 4; ++k) at[k] = uint8_t(v >> (8 * k));
}
uint32_t get32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}
void put64(uint8_t* at, uint64_t v) {
  put32(at, uint32_t(v));
  put32(at + 4, uint32_t(v >> 32));
}
uint64_t get64(const uint8_t* at) { return get32(at) | uint64_t(get32(at + 4)) << 32; }

void append_frame(std::vector<uint8_t>* out, const uint8_t* head, size_t head_length, const uint8_t* bytes,
                  size_t length) {
  const size_t payload = head_length + length;
  const uint8_t header[FRAME_HEADER_SIZE] = {uint8_t(MSG_CHECKPOINT), uint8_t(payload), uint8_t(payload >> 8)};
  out->insert(out->end(), header, header + FRAME_HEADER_SIZE);
  out->insert(out->end(), head, head + head_length);
  out->insert(out->end(), bytes, bytes + length);
}

}  // namespace

std::vector<uint8_t> checkpoint_frames(const CheckpointHead& head, const uint8_t* png, size_t length) {
  std::vector<uint8_t> out;
  if (length == 0 || length > CHECKPOINT_PNG_MAX || length != head.png_length) return out;
  uint8_t h[CHECKPOINT_HEAD_SIZE];
  put32(h, head.commands);
  put64(h + 4, head.bytes);
  put64(h + 12, head.history);
  put64(h + 20, head.picture);
  put32(h + 28, head.png_length);
  size_t first = std::min(length, FRAME_PAYLOAD_MAX - CHECKPOINT_HEAD_SIZE);
  append_frame(&out, h, sizeof h, png, first);
  for (size_t at = first; at < length; at += FRAME_PAYLOAD_MAX)
    append_frame(&out, nullptr, 0, png + at, std::min(FRAME_PAYLOAD_MAX, length - at));
  return out;
}

CheckpointStep checkpoint_take(CheckpointIntake* in, const uint8_t* payload, size_t length) {
  if (!in->png) {
    if (length < CHECKPOINT_HEAD_SIZE) return CHECKPOINT_BAD;
    CheckpointHead& h = in->head;
    h.commands = get32(payload);
    h.bytes = get64(payload + 4);
    h.history = get64(payload + 12);
    h.picture = get64(payload + 20);
    h.png_length = get32(payload + 28);
    if (h.png_length == 0 || h.png_length > CHECKPOINT_PNG_MAX) return CHECKPOINT_BAD;
    in->png = static_cast<uint8_t*>(malloc(h.png_length));
    if (!in->png) return CHECKPOINT_BAD;
    in->received = 0;
    payload += CHECKPOINT_HEAD_SIZE;
    length -= CHECKPOINT_HEAD_SIZE;
  }
  if (length > in->head.png_length - in->received) return CHECKPOINT_BAD;
  if (length) memcpy(in->png + in->received, payload, length);
  in->received += length;
  return in->received == in->head.png_length ? CHECKPOINT_WHOLE : CHECKPOINT_MORE;
}

int checkpoint_picture(const CheckpointIntake* in, Image* out) {
  if (!in->png || in->received != in->head.png_length) return 0;
  return png_read(in->png, in->received, CANVAS_WIDTH, CANVAS_HEIGHT, out) && image_digest(out) == in->head.picture;
}

void checkpoint_intake_free(CheckpointIntake* in) {
  free(in->png);
  *in = CheckpointIntake{};
}
