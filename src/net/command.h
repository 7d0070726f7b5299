// Drawing-command messages: the six encoders and the decoder that draws any
// command onto a canvas.
#pragma once
#include <allegro.h>
#include <cstdint>
#include "net/message.h"

struct PointList {
  int16_t* xs;
  int16_t* ys;
  int16_t count;
  int16_t capacity;
};
extern PointList point_list;
// Frees both lists and empties the record; registered to run at exit on first
// use, and callable by tests.
void point_list_release();

int encode_pen(Message* m, float r, float g, float b, const int16_t* xs, const int16_t* ys,
               unsigned count);
int encode_pencil(Message* m, float r, float g, float b, float value1, const int16_t* xs,
                  const int16_t* ys, unsigned count);
int encode_brush(Message* m, float r, float g, float b, float value1, float value2,
                 const int16_t* xs, const int16_t* ys, unsigned count);
int encode_chalk(Message* m, float r, float g, float b, float value1, const int16_t* xs,
                 const int16_t* ys, unsigned count);
int encode_smudge(Message* m, float value1, float value2, const int16_t* xs, const int16_t* ys,
                  unsigned count);
int encode_stamp(Message* m, float r, float g, float b, float value1, float value2,
                 const int16_t* xs, const int16_t* ys, unsigned count);

int read_points(Message* m);
void apply_command(BITMAP* canvas, Message* m);
