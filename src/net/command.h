// Drawing-command messages: the six encoders and the decoder that draws any
// command onto a canvas.
#pragma once
#include <cstdint>

#include "net/layout.h"
#include "net/message.h"
#include "paint/image.h"

struct PointList {
  int16_t* xs;
  int16_t* ys;
  int16_t count;
  int16_t capacity;
};
// The decoder's list, one per thread (freed when its thread ends).
extern __thread PointList point_list;
// Frees both lists and empties the record.
void point_list_free(PointList* list);
// point_list_free of the calling thread's decoder list; callable by tests.
void point_list_release();

// Drawing-command encoders: author is the id byte the command carries. A seeded
// layout takes its seed from the current random stream. 1 on success; on
// failure m is left empty.
int encode_command(Message* m, const CommandLayout& layout, uint8_t author, float r, float g,
                   float b, float value1, float value2, const int16_t* xs, const int16_t* ys,
                   unsigned count);
int encode_pen(Message* m, uint8_t author, float r, float g, float b, const int16_t* xs,
               const int16_t* ys, unsigned count);
int encode_pencil(Message* m, uint8_t author, float r, float g, float b, float value1,
                  const int16_t* xs, const int16_t* ys, unsigned count);
int encode_brush(Message* m, uint8_t author, float r, float g, float b, float value1,
                 float value2, const int16_t* xs, const int16_t* ys, unsigned count);
int encode_chalk(Message* m, uint8_t author, float r, float g, float b, float value1,
                 const int16_t* xs, const int16_t* ys, unsigned count);
int encode_smudge(Message* m, uint8_t author, float value1, float value2, const int16_t* xs,
                  const int16_t* ys, unsigned count);
int encode_stamp(Message* m, uint8_t author, float r, float g, float b, float value1,
                 float value2, const int16_t* xs, const int16_t* ys, unsigned count);

// A decoded drawing command without its points.
struct StrokeCommand {
  uint32_t type;
  uint8_t author;  // the user id it carries
  uint32_t seed;   // 0 for the unseeded layouts: the default seed
  float rgb[3];    // 0 for an uncoloured layout
  float value1, value2;
};
// Decodes m: 1 with the command in c and its points in points when m is a
// drawing command that has points, 0 for anything else. m's read position is
// left where it was.
int decode_command(Message* m, StrokeCommand* c, PointList* points);
// Draws a decoded command with the calling thread's command stream seeded as
// its author's was, then selects the local stream again.
void draw_stroke_command(Image* canvas, const StrokeCommand& c, const PointList& points);

// Reads the remaining points of m into points, grown as needed.
int read_points(Message* m, PointList* points);
void apply_command(Image* canvas, Message* m);
