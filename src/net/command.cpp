#include "net/command.h"

#include <cstdlib>

#include "base/log.h"
#include "paint/brush.h"
#include "paint/chalk.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stamp.h"
#include "paint/stroke.h"

PointList point_list = {nullptr, nullptr, 0, 0};

namespace {

CommandHooks command_hooks = {nullptr, nullptr};

constexpr int CHAT_TEXT_SIZE = 512;

int put_colour_channel(Message* m, float value) {
  double v = value;
  if (!(v >= 0.0)) v = 0.0;  // also catches NaN
  if (v > 255.0) v = 255.0;
  return message_put_byte(m, int(v));
}

// Grows both lists to exactly n entries; the old lists stay on failure.
int point_list_reserve(int n) {
  if (n <= point_list.capacity) return 1;
  int16_t* xs = static_cast<int16_t*>(realloc(point_list.xs, size_t(n) * sizeof(int16_t)));
  if (!xs) return 0;
  point_list.xs = xs;
  int16_t* ys = static_cast<int16_t*>(realloc(point_list.ys, size_t(n) * sizeof(int16_t)));
  if (!ys) return 0;  // xs is larger than needed but still valid; capacity stays
  point_list.ys = ys;
  point_list.capacity = int16_t(n);
  static bool release_registered = false;
  if (!release_registered) release_registered = atexit(point_list_release) == 0;
  return 1;
}

struct StrokeHeader {
  int user_id;
  float rgb[3];
  float value1, value2;
};

void draw_stroke(BITMAP* canvas, uint32_t type, const StrokeHeader& h) {
  const int16_t* xs = point_list.xs;
  const int16_t* ys = point_list.ys;
  const int n = point_list.count;
  const float r = h.rgb[0], g = h.rgb[1], b = h.rgb[2];
  switch (type) {
    case MSG_PEN: drawPen(canvas, r, g, b, xs, ys, n); break;
    case MSG_PENCIL: drawPencil(canvas, r, g, b, h.value1, xs, ys, n); break;
    case MSG_BRUSH: drawBrush(canvas, r, g, b, h.value1, h.value2, xs, ys, n); break;
    case MSG_CHALK: drawChalk(canvas, r, g, b, h.value1, xs, ys, n); break;
    case MSG_SMUDGE: drawSmudge(canvas, h.value1, h.value2, xs, ys, n); break;
    case MSG_STAMP: drawStamp(canvas, r, g, b, h.value1, h.value2, xs, ys, n); break;
  }
}

void apply_stroke(BITMAP* canvas, Message* m, const CommandLayout& layout) {
  StrokeHeader h = {0, {0, 0, 0}, 0, 0};
  h.user_id = message_get_byte(m);
  if (layout.seeded) seedRandom(message_get_int(m));
  if (layout.coloured)
    for (float& channel : h.rgb) channel = float(message_get_byte(m));
  if (layout.values >= 1) h.value1 = message_get_scaled(m);
  if (layout.values >= 2) h.value2 = message_get_scaled(m);
  if (!read_points(m)) {
    log_write(LOG_DEBUG, "Recieved invalid data for %s command.", layout.tool);
    return;
  }
  if (h.user_id != 0 && command_hooks.stroke)
    command_hooks.stroke(h.user_id, layout.coloured ? h.rgb : nullptr, point_list.xs[0],
                         point_list.ys[0]);
  draw_stroke(canvas, layout.type, h);
}

void apply_chat(Message* m) {
  int user_id = message_get_byte(m);
  char text[CHAT_TEXT_SIZE];
  message_get_string(m, text, sizeof text);
  if (command_hooks.chat) command_hooks.chat(user_id, text);
}

}  // namespace

void point_list_release() {
  free(point_list.xs);
  free(point_list.ys);
  point_list = PointList{nullptr, nullptr, 0, 0};
}

int encode_command(Message* m, const CommandLayout& f, uint8_t author, float r, float g, float b,
                   float value1, float value2, const int16_t* xs, const int16_t* ys,
                   unsigned count) {
  if (count == 0 || !xs || !ys) return 0;
  message_init(m, f.type);
  int ok = message_put_byte(m, author);
  if (ok && f.seeded) ok = message_put_int(m, nextRandom());
  if (ok && f.coloured)
    ok = put_colour_channel(m, r) && put_colour_channel(m, g) && put_colour_channel(m, b);
  if (ok && f.values >= 1) ok = message_put_scaled(m, value1);
  if (ok && f.values >= 2) ok = message_put_scaled(m, value2);
  for (unsigned i = 0; ok && i < count; ++i)
    ok = message_put_short(m, xs[i]) && message_put_short(m, ys[i]);
  if (!ok) {
    message_free(m);
    message_init(m, f.type);
  }
  return ok;
}

int encode_pen(Message* m, uint8_t author, float r, float g, float b, const int16_t* xs,
               const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_PEN), author, r, g, b, 0, 0, xs, ys, count);
}

int encode_pencil(Message* m, uint8_t author, float r, float g, float b, float value1,
                  const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_PENCIL), author, r, g, b, value1, 0, xs, ys, count);
}

int encode_brush(Message* m, uint8_t author, float r, float g, float b, float value1,
                 float value2, const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_BRUSH), author, r, g, b, value1, value2, xs, ys, count);
}

int encode_chalk(Message* m, uint8_t author, float r, float g, float b, float value1,
                 const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_CHALK), author, r, g, b, value1, 0, xs, ys, count);
}

int encode_smudge(Message* m, uint8_t author, float value1, float value2, const int16_t* xs,
                  const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_SMUDGE), author, 0, 0, 0, value1, value2, xs, ys, count);
}

int encode_stamp(Message* m, uint8_t author, float r, float g, float b, float value1,
                 float value2, const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode_command(m, *command_layout(MSG_STAMP), author, r, g, b, value1, value2, xs, ys, count);
}

void command_set_hooks(const CommandHooks& hooks) { command_hooks = hooks; }

int read_points(Message* m) {
  // The remaining count has 16 bits, so n (at most 16383) fits the list's count.
  int n = message_remaining(m) / 4;
  if (n == 0) return 0;
  if (!point_list_reserve(n)) return 0;
  for (int i = 0; i < n; ++i) {
    point_list.xs[i] = int16_t(message_get_short(m));
    point_list.ys[i] = int16_t(message_get_short(m));
  }
  point_list.count = int16_t(n);
  return 1;
}

void apply_command(BITMAP* canvas, Message* m) {
  uint16_t start = message_tell(m);
  useCommandStream(0);
  if (const CommandLayout* layout = command_layout(int(m->type)))
    apply_stroke(canvas, m, *layout);
  else if (m->type == MSG_CHAT)
    apply_chat(m);
  useLocalStream();
  message_seek(m, start);
}

size_t apply_frames(BITMAP* canvas, const uint8_t* bytes, size_t length) {
  size_t at = 0;
  while (at < length) {
    size_t size = frame_complete_size(bytes + at, length - at);
    if (size == 0) break;
    Message m;
    if (!message_from_frame(&m, bytes + at)) break;
    apply_command(canvas, &m);
    message_free(&m);
    at += size;
  }
  return at;
}
