// The client program: start-up, the frame, shutdown, and the process-wide
// state the frame loop keeps.
#pragma once
#include <allegro.h>

#include <atomic>

#include "ui/screen.h"

// Set by the window's close button (on the library's window thread) and by
// SIGINT and SIGTERM; read at the top of every frame.
extern std::atomic<bool> quit_requested;
extern int busy_counter;

// What a frame takes from the devices, once, at its start.
struct FrameInput {
  int key;                 // a key as readkey gives it, or 0 for none
  int buttons;             // mouse_b: bit 0 left, bit 1 right
  int mouse_x, mouse_y;    // screen coordinates
  bool ctrl, shift, alt;   // either key of the pair held
  double seconds;          // a steady clock, for the link's retries (the frame loop's)
};

// The whole program: start-up, the frame loop, shutdown. Returns the exit
// status: 0 after a normal quit, 1 when start-up failed. After SIGINT or
// SIGTERM it shuts down as after a quit and then ends by that signal.
int client_main();

// One frame of the client, every step in its order. Returns 0 when the frame
// ended the program (Escape); FRAME_IDLE when it had no key and left nothing
// to do: nothing received, drawn or waiting for the server; FRAME_AWAITING
// when only our commands wait for their acknowledgement or for room in the
// socket; else 1.
constexpr int FRAME_IDLE = 2;
constexpr int FRAME_AWAITING = 3;
int client_frame(const FrameInput& in);

// The shared bitmaps for a w x h screen (all but SamplePicture, which start-up
// draws from the local stream first), the session's pictures and the screen's
// layout: ServerCanvas reset, LocalCanvas and StrokeLayer copies of it,
// BackBuffer black. 1 on success; on failure what was made is freed again.
// Closing frees them all.
int client_world_open(int w, int h);
void client_world_close();

// Every module's process-wide state back to how the program starts, with the
// tool bar's hook registered. The shared bitmaps and the session's pictures
// are left alone.
void client_state_reset();

// One frame of the mouse-button edge latch. buttons is mouse_b (bit 0 left,
// bit 1 right). Returns the frame's button_edge: 1 or 2 on the frame a press
// begins while the latch is clear (2 when the right button is down), else 0.
// The latch stays set until every button is up.
int button_latch_update(bool* latch, int buttons);
