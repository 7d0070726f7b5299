// Process-wide state of the client program: the shared bitmaps and the flags
// of the frame loop.
#pragma once
#include <allegro.h>

extern BITMAP* SamplePicture;  // 160 x 120, behind the tool panels' previews
extern BITMAP* BackBuffer;     // screen-sized; every frame is composed here
extern BITMAP* ServerCanvas;   // the picture as confirmed by the server
extern BITMAP* LocalCanvas;    // ServerCanvas plus our pending commands
extern BITMAP* StrokeLayer;    // LocalCanvas plus the stroke being drawn
extern BITMAP* ToolbarStrip;   // screen_w x 42
extern BITMAP* CursorSprite;   // 6 x 6

extern volatile bool quit_requested;
extern bool net_available;
// 0 no new press, 1 left press, 2 right press; consumers set it back to 0.
extern int button_edge;
extern int busy_counter;

// The whole program: start-up, the frame loop, shutdown. Returns the exit
// status: 0 after a normal quit, 1 when start-up failed.
int client_main();

// One frame of the mouse-button edge latch. buttons is mouse_b (bit 0 left,
// bit 1 right). Returns the frame's button_edge: 1 or 2 on the frame a press
// begins while the latch is clear (2 when the right button is down), else 0.
// The latch stays set until every button is up.
int button_latch_update(bool* latch, int buttons);

