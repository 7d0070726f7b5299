// The screen: the picture centred in black bands, the pointer sprite, and the
// copy of BackBuffer's dirty rectangles to the monitor.
#pragma once
#include <allegro.h>

#include "paint/image.h"
#include "ui/board.h"
#include "ui/dirty_list.h"

// The picture behind the tool panels' previews, 160 x 120, beside the
// session's ServerCanvas, LocalCanvas and StrokeLayer (ui/board.h).
extern Image SamplePicture;
// The bitmaps the screen is composed in (ui/bitmap_image.h: in the engine's
// layout), and the pointer (in the library's).
extern BITMAP* BackBuffer;    // screen-sized; every frame is composed here
extern BITMAP* ToolbarStrip;  // screen_width x TOOLBAR_HEIGHT
extern BITMAP* CursorSprite;  // 6 x 6

// The tool bar's strip along the bottom of the screen.
constexpr int TOOLBAR_HEIGHT = 42;

// The screen's size, as configured.
extern int screen_width, screen_height;
// The picture's origin on the screen; negative when the screen is smaller than
// the picture, which is then cropped equally on both sides.
extern int ox, oy;
// Whether the user labels are drawn over BackBuffer now.
extern bool labels_shown;
// Takes the screen size: the origin and the area that dirty rectangles are
// clipped to, and whether the library lays out pixels as the engine does.
// Called once the graphics mode is set.
void screen_set_layout(int w, int h);

// Black (0) when any channel is above 120, otherwise white (255), and that
// grey as the client's bitmaps hold it.
int contrast_grey(float red, float green, float blue);
int contrast_colour(float red, float green, float blue);

// Copies a 912 x 684 canvas into BackBuffer at the origin, paints the bands
// around it black, and marks the whole screen dirty.
void draw_canvas_view(const Image* canvas);
// The same onto any screen-sized target.
void draw_canvas_view_on(BITMAP* target, const Image* canvas);

// Copies the dirty rectangles of BackBuffer to the screen, once per frame,
// converted to the library's layout where it is not the engine's.
void refresh_screen();
// The same onto any bitmap the size of BackBuffer (the screen in the client).
void refresh_screen_to(BITMAP* dest);

// True while the display is switched away from the program.
extern volatile bool switched_away;
void install_display_switch();
