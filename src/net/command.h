// Drawing-command messages: the six encoders and the decoder that draws any
// command onto a canvas.
#pragma once
#include <allegro.h>
#include <cstdint>
#include "net/layout.h"
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

// What a decoded command means beyond the picture. The client registers these
// at start-up to keep its roster and chat log; drawing alone needs none.
struct CommandHooks {
  // A stroke by a user other than 0: its colour (null for an uncoloured
  // layout) and its first point.
  void (*stroke)(int user_id, const float* rgb, int16_t x, int16_t y);
  void (*chat)(int user_id, const char* text);
};
void command_set_hooks(const CommandHooks& hooks);

int read_points(Message* m);
void apply_command(BITMAP* canvas, Message* m);
// Draws the complete frames of bytes in order; returns how many bytes they
// took (less than length at a torn tail or when memory runs out).
size_t apply_frames(BITMAP* canvas, const uint8_t* bytes, size_t length);
