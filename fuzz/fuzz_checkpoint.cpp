// A checkpoint as a server could send it, in pieces (each piece's length in
// two bytes, then its bytes), taken in by a client: never more bytes than
// its head announced, and a picture only of the board's size.
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "net/checkpoint.h"
#include "paint/canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Image picture = {};
  if (!picture.pixels && !image_create(&picture, CANVAS_WIDTH, CANVAS_HEIGHT)) abort();
  CheckpointIntake in = {};
  for (size_t at = 0; at + 2 <= size;) {
    const size_t length = std::min(size_t(data[at] | data[at + 1] << 8), size - at - 2);
    const CheckpointStep step = checkpoint_take(&in, data + at + 2, length);
    at += 2 + length;
    if (step == CHECKPOINT_BAD) break;
    if (in.received > in.head.png_length) abort();
    if (step == CHECKPOINT_WHOLE) {
      checkpoint_picture(&in, &picture);
      break;
    }
  }
  checkpoint_intake_free(&in);
  return 0;
}
