#include "net/command.h"

#include <cstdlib>

#include "base/log.h"
#include "net/drawing_tools.h"
#include "paint/random.h"

__thread PointList point_list = {nullptr, nullptr, 0, 0};

namespace {

int put_colour_channel(Message* m, float value) {
  double v = value;
  if (!(v >= 0.0)) v = 0.0;  // also catches NaN
  if (v > 255.0) v = 255.0;
  return message_put_byte(m, int(v));
}

// Frees the decoder's list of a thread when the thread ends (the main
// thread's at exit).
struct PointListOwner {
  bool armed;
  ~PointListOwner() { point_list_release(); }
};
thread_local PointListOwner point_list_owner = {false};

// Grows both lists to exactly n entries; the old lists stay on failure.
int point_list_reserve(PointList* list, int n) {
  if (n <= list->capacity) return 1;
  int16_t* xs = static_cast<int16_t*>(realloc(list->xs, size_t(n) * sizeof(int16_t)));
  if (!xs) return 0;
  list->xs = xs;
  int16_t* ys = static_cast<int16_t*>(realloc(list->ys, size_t(n) * sizeof(int16_t)));
  if (!ys) return 0;  // xs is larger than needed but still valid; capacity stays
  list->ys = ys;
  list->capacity = int16_t(n);
  if (list == &point_list) point_list_owner.armed = true;
  return 1;
}

int decode_stroke(Message* m, const CommandLayout& layout, StrokeCommand* c, PointList* points) {
  *c = StrokeCommand{layout.type, 0, 0, {0, 0, 0}, 0, 0};
  c->author = uint8_t(message_get_byte(m));
  if (layout.seeded) c->seed = message_get_int(m);
  if (layout.coloured)
    for (float& channel : c->rgb) channel = float(message_get_byte(m));
  if (layout.values >= 1) c->value1 = message_get_scaled(m);
  if (layout.values >= 2) c->value2 = message_get_scaled(m);
  if (!read_points(m, points)) {
    log_write(LOG_DEBUG, "Recieved invalid data for %s command.", layout.tool);
    return 0;
  }
  return 1;
}

}  // namespace

int decode_command(Message* m, StrokeCommand* c, PointList* points) {
  uint16_t start = message_tell(m);
  int drawing = 0;
  if (const CommandLayout* layout = command_layout(int(m->type)))
    drawing = decode_stroke(m, *layout, c, points);
  message_seek(m, start);
  return drawing;
}

void draw_stroke_command(Image* canvas, const StrokeCommand& c, const PointList& points) {
  const DrawingTool* tool = drawing_tool_of_type(int(c.type));
  if (!tool) return;
  useCommandStream(c.seed);
  tool->draw(canvas, c, points);
  useLocalStream();
}

void point_list_free(PointList* list) {
  free(list->xs);
  free(list->ys);
  *list = PointList{nullptr, nullptr, 0, 0};
}

void point_list_release() { point_list_free(&point_list); }

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

int read_points(Message* m, PointList* points) {
  // The remaining count has 16 bits, so n (at most 16383) fits the list's count.
  int n = message_remaining(m) / 4;
  if (n == 0) return 0;
  if (!point_list_reserve(points, n)) return 0;
  for (int i = 0; i < n; ++i) {
    points->xs[i] = int16_t(message_get_short(m));
    points->ys[i] = int16_t(message_get_short(m));
  }
  points->count = int16_t(n);
  return 1;
}

void apply_command(Image* canvas, Message* m) {
  StrokeCommand c;
  if (decode_command(m, &c, &point_list)) draw_stroke_command(canvas, c, point_list);
}
