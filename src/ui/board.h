// The desktop client's one session with the board (session/board_session.h):
// what the screen's modules show and where the user's strokes and lines go.
#pragma once
#include "paint/image.h"
#include "session/board_session.h"

extern BoardSession board;
// Its pictures, under the names the screen's modules use.
extern Image& ServerCanvas;  // the picture as confirmed by the server
extern Image& LocalCanvas;   // ServerCanvas plus our pending commands
extern Image& StrokeLayer;   // LocalCanvas plus the stroke being drawn

// The session as the program starts (its pictures are left alone), with the
// canvas reset that reads "bg.bmp".
void board_reset();
