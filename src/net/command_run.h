// Runs of commands drawn on two threads: the calling one and one worker. A
// drawing command reseeds the command stream from its own bytes, so its pixels
// depend only on those bytes and on the pixels it reads: two commands whose
// areas are disjoint can be drawn at the same time with the pixels that
// apply_command gives one after the other.
#pragma once
#include "net/command.h"
#include "net/message.h"
#include "paint/image.h"

// Told of every drawing command of a run as it is decoded: on the thread that
// adds it, in the order added, before it is drawn.
struct CommandObserver {
  void (*decoded)(void* context, const StrokeCommand& c, const PointList& points);
  void* context;
};

// One run on one canvas, from command_run_begin to command_run_finish.
struct CommandRun {
  Image* canvas;
  bool shared;  // false: every command is drawn at once on the calling thread
  CommandObserver observer;
};

// A run on canvas; on one core, or while another thread has a run, a plain
// one, drawn on the calling thread alone (so is every run where threads cannot
// be made). observer may be null.
void command_run_begin(CommandRun* run, Image* canvas, const CommandObserver* observer = nullptr);
// Decodes m at once and draws it as soon as no earlier command still
// unfinished reaches its area. Anything that is not a drawing command draws
// nothing.
void command_run_add(CommandRun* run, Message* m);
// Returns once every command added is drawn.
void command_run_finish(CommandRun* run);
// The count messages in order as one run.
void apply_commands(Image* canvas, Message* messages, size_t count);
// Draws the complete frames of bytes in order as one run; returns how many
// bytes they took (less than length at a torn tail or when memory runs out).
size_t apply_frames(Image* canvas, const uint8_t* bytes, size_t length);
// Stops the worker and frees the run's lists; the next run starts it again.
void command_run_stop();

// A rectangle of pixels: x0 <= x < x1, y0 <= y < y1.
struct Footprint {
  int x0, y0, x1, y1;
};
// Every pixel of a w x h canvas that a decoded command may read or write.
Footprint command_footprint(const StrokeCommand& c, const PointList& points, int w, int h);
