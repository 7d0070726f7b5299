// The Paint tool's option panel: saturation/value square, hue strip and a ring
// of 32 palette colours that remembers the colours the user mixes.
// The colour and its choice are the session's (session/colour_choice.h);
// this is the panel on the screen.
#pragma once
#include <allegro.h>

#include "session/colour_choice.h"

// The Paint slot's panel handler: (panel or none, button_edge, key, x, y) ->
// the panel when it was created or changed, else none. The key is ignored.
BITMAP* colour_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);

// Redraws the whole panel from the session's colour choice, then the pointer.
void draw_colour_panel(BITMAP* panel);

// Redraws the remembered panel, if any, after the colour changed elsewhere.
void colour_panel_refresh();
// Drops the remembered panel; called when its owner destroys the bitmap.
void colour_panel_forget();

// Called after the paint colour changed; bar_shown when the tool bar is on the
// screen. The tool bar registers it (it draws the colour into its icons).
typedef void (*ColourChangedHook)(bool bar_shown);
void colour_set_changed_hook(ColourChangedHook hook);
void colour_changed(bool bar_shown);

// Redraws CursorSprite in the current colour and installs it as the pointer.
void rebuild_cursor();

// Start-up palette, palette_next 14, no remembered panel; for tests.
void colour_picker_reset();
