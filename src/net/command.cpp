#include "net/command.h"

#include <cstdlib>

#include "app/log.h"
#include "app/roster.h"
#include "app/session.h"
#include "paint/brush.h"
#include "paint/chalk.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stamp.h"
#include "paint/stroke.h"
#include "ui/chat_log.h"

PointList point_list = {nullptr, nullptr, 0, 0};

namespace {

constexpr int CHAT_TEXT_SIZE = 512;

int put_colour_channel(Message* m, float value) {
  double v = value;
  if (!(v >= 0.0)) v = 0.0;  // also catches NaN
  if (v > 255.0) v = 255.0;
  return message_put_byte(m, int(v));
}

// The fields every encoder shares, in wire order. Optional parts are skipped
// when their flag is off.
struct CommandFields {
  uint32_t type;
  bool seeded;
  bool coloured;
  int values;  // 0, 1 or 2 scaled values
  float r, g, b, value1, value2;
};

int encode(Message* m, const CommandFields& f, const int16_t* xs, const int16_t* ys,
           unsigned count) {
  if (count == 0 || !xs || !ys) return 0;
  message_init(m, f.type);
  int ok = message_put_byte(m, own_user_id);
  if (ok && f.seeded) ok = message_put_int(m, nextRandom());
  if (ok && f.coloured)
    ok = put_colour_channel(m, f.r) && put_colour_channel(m, f.g) && put_colour_channel(m, f.b);
  if (ok && f.values >= 1) ok = message_put_scaled(m, f.value1);
  if (ok && f.values >= 2) ok = message_put_scaled(m, f.value2);
  for (unsigned i = 0; ok && i < count; ++i)
    ok = message_put_short(m, xs[i]) && message_put_short(m, ys[i]);
  if (!ok) {
    message_free(m);
    message_init(m, f.type);
  }
  return ok;
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
  float r, g, b, value1, value2;
};

void update_roster(const StrokeHeader& h, bool coloured) {
  if (h.user_id == 0) return;
  if (coloured) roster_set_colour(h.user_id, h.r, h.g, h.b);
  roster_set_position(h.user_id, point_list.xs[0], point_list.ys[0]);
}

void read_colour(Message* m, StrokeHeader* h) {
  h->r = float(message_get_byte(m));
  h->g = float(message_get_byte(m));
  h->b = float(message_get_byte(m));
}

void apply_stroke(BITMAP* canvas, Message* m) {
  StrokeHeader h = {0, 0, 0, 0, 0, 0};
  const char* tool = "brush";  // the stamp shares the brush's line
  h.user_id = message_get_byte(m);
  switch (m->type) {
    case MSG_PEN:
      tool = "pen";
      read_colour(m, &h);
      break;
    case MSG_PENCIL:
    case MSG_BRUSH:
    case MSG_CHALK:
      tool = m->type == MSG_PENCIL ? "pencil" : m->type == MSG_CHALK ? "chalk" : "brush";
      seedRandom(message_get_int(m));
      read_colour(m, &h);
      h.value1 = message_get_scaled(m);
      if (m->type == MSG_BRUSH) h.value2 = message_get_scaled(m);
      break;
    case MSG_SMUDGE:
      tool = "smudge";
      h.value1 = message_get_scaled(m);
      h.value2 = message_get_scaled(m);
      break;
    case MSG_STAMP:
      read_colour(m, &h);
      h.value1 = message_get_scaled(m);
      h.value2 = message_get_scaled(m);
      break;
  }
  if (!read_points(m)) {
    log_write(LOG_DEBUG, "Recieved invalid data for %s command.", tool);
    return;
  }
  update_roster(h, m->type != MSG_SMUDGE);
  const int16_t* xs = point_list.xs;
  const int16_t* ys = point_list.ys;
  int n = point_list.count;
  switch (m->type) {
    case MSG_PEN: drawPen(canvas, h.r, h.g, h.b, xs, ys, n); break;
    case MSG_PENCIL: drawPencil(canvas, h.r, h.g, h.b, h.value1, xs, ys, n); break;
    case MSG_BRUSH: drawBrush(canvas, h.r, h.g, h.b, h.value1, h.value2, xs, ys, n); break;
    case MSG_CHALK: drawChalk(canvas, h.r, h.g, h.b, h.value1, xs, ys, n); break;
    case MSG_SMUDGE: drawSmudge(canvas, h.value1, h.value2, xs, ys, n); break;
    case MSG_STAMP: drawStamp(canvas, h.r, h.g, h.b, h.value1, h.value2, xs, ys, n); break;
  }
}

void apply_chat(Message* m) {
  int user_id = message_get_byte(m);
  char text[CHAT_TEXT_SIZE];
  message_get_string(m, text, sizeof text);
  add_chat_line(user_id ? roster_name(user_id) : nullptr, text);
}

}  // namespace

void point_list_release() {
  free(point_list.xs);
  free(point_list.ys);
  point_list = PointList{nullptr, nullptr, 0, 0};
}

int encode_pen(Message* m, float r, float g, float b, const int16_t* xs, const int16_t* ys,
               unsigned count) {
  return encode(m, {MSG_PEN, false, true, 0, r, g, b, 0, 0}, xs, ys, count);
}

int encode_pencil(Message* m, float r, float g, float b, float value1, const int16_t* xs,
                  const int16_t* ys, unsigned count) {
  return encode(m, {MSG_PENCIL, true, true, 1, r, g, b, value1, 0}, xs, ys, count);
}

int encode_brush(Message* m, float r, float g, float b, float value1, float value2,
                 const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode(m, {MSG_BRUSH, true, true, 2, r, g, b, value1, value2}, xs, ys, count);
}

int encode_chalk(Message* m, float r, float g, float b, float value1, const int16_t* xs,
                 const int16_t* ys, unsigned count) {
  return encode(m, {MSG_CHALK, true, true, 1, r, g, b, value1, 0}, xs, ys, count);
}

int encode_smudge(Message* m, float value1, float value2, const int16_t* xs, const int16_t* ys,
                  unsigned count) {
  return encode(m, {MSG_SMUDGE, false, false, 2, 0, 0, 0, value1, value2}, xs, ys, count);
}

int encode_stamp(Message* m, float r, float g, float b, float value1, float value2,
                 const int16_t* xs, const int16_t* ys, unsigned count) {
  return encode(m, {MSG_STAMP, false, true, 2, r, g, b, value1, value2}, xs, ys, count);
}

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
  switch (m->type) {
    case MSG_PEN:
    case MSG_PENCIL:
    case MSG_BRUSH:
    case MSG_CHALK:
    case MSG_SMUDGE:
    case MSG_STAMP:
      apply_stroke(canvas, m);
      break;
    case MSG_CHAT:
      apply_chat(m);
      break;
    default:
      break;
  }
  useLocalStream();
  message_seek(m, start);
}
