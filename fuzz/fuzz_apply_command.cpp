// apply_command on arbitrary type codes and payloads onto one canvas, headless.
// The first byte is the type code, the rest the payload. Whatever they are,
// the message's read position comes back where it was and the local random
// stream is selected again.
#include <cstdint>
#include <cstdlib>

#include "net/command.h"
#include "net/message.h"
#include "paint/canvas.h"
#include "paint/pixel.h"
#include "paint/random.h"

static Image canvas;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT)) abort();
  image_fill(&canvas, pack_pixel(255, 255, 255));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Message m;
  message_init(&m, data[0]);
  for (size_t i = 1; i < size; i++)
    if (!message_put_byte(&m, data[i])) abort();
  // A queued command is decoded again from a position that is not its start.
  uint16_t start = size > 1 ? uint16_t(data[1] % 2) : 0;
  message_seek(&m, start);
  unsigned local_position = random_position(LOCAL_STREAM);
  apply_command(&canvas, &m);
  if (message_tell(&m) != start) abort();
  if (random_selected_stream() != LOCAL_STREAM) abort();
  if (random_position(LOCAL_STREAM) != local_position) abort();
  message_free(&m);
  return 0;
}
