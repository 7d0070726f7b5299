// The paint colour and how the colour panel chooses it: the saturation/value
// square, the hue strip and a ring of 32 palette colours that remembers the
// colours the user mixes; a right press mixes 15 % of a colour into the
// current one. Also the panel's picture without its markers, and the pick of
// a colour from the board.
#pragma once
#include "paint/image.h"

constexpr int PALETTE_SIZE = 32;
constexpr int PALETTE_FIRST_NEXT = 14;
constexpr int COLOUR_PANEL_W = 416;
constexpr int COLOUR_PANEL_H = 256;

// The paint colour and the palette ring, one painter's.
struct ColourChoice {
  float rgb[3];  // red, green, blue 0..255
  float hsv[3];  // hue 0..360, saturation and value 0..1
  float palette[PALETTE_SIZE][3];  // red, green, blue on the 0..255 scale
  int palette_next;  // the entry the next colour taken from the square or the hue strip overwrites
};

// Start-up palette, palette_next 14, the colour black.
void colour_choice_reset(ColourChoice* c);

// A press (button_edge 1 left, 2 right) at (x, y) of the panel: x below 256 the
// square (value across, saturation down), then 32 columns of hue, then the
// palette in four columns of eight. 1 when it changed the colour; presses
// outside the panel or without an edge change nothing.
int colour_panel_press(ColourChoice* c, int button_edge, int x, int y);

// The colour under (x, y) of the picture becomes the paint colour.
void colour_pick(ColourChoice* c, const Image* picture, int x, int y);

// The panel's square, hue strip and swatches into panel, which is at least
// COLOUR_PANEL_W x COLOUR_PANEL_H.
void colour_panel_fill(const ColourChoice* c, Image* panel);
