// The tool bar along the bottom of the screen, the selected tool's option
// panel above it, and the current paint colour it shows.
#pragma once
#include <allegro.h>

#include "ui/colour_picker.h"
#include "ui/screen.h"
#include "ui/tool_table.h"

// Repaints ToolbarStrip: every icon tinted by the current colour through its
// mask. Loads (or generates) icons and masks that are not loaded yet.
void draw_toolbar_icons();
// The tint of one icon pixel through one mask pixel (channels 0..255).
void tint_icon_pixel(int icon_r, int icon_g, int icon_b, int mask_r, int mask_b,
                     int* out_r, int* out_g, int* out_b);

// User labels, the strip and the selection mark into BackBuffer.
void draw_toolbar();
// Where the selected tool's panel of the given size lies on the screen.
void panel_placement(int tool, int pw, int ph, int* px, int* py);
// Lays the selected tool's panel over BackBuffer (nothing when it has none yet).
void draw_tool_panel();

// Tool-bar step, first piece: Tab, Esc (panel shown), '/' and '~'. Returns the
// key left for the rest of the frame (0 when it was used here).
int toolbar_panel_keys(int key);
// Tool-bar step, second and third pieces: the selected tool's panel handler and
// presses on the tool bar. Returns the button edge left for the rest of the
// frame (0 when it was used here).
int toolbar_panel_step(int key, int button_edge, int mouse_x, int mouse_y);

// Shutdown: destroys every slot's icon, mask and panel.
void toolbar_destroy_bitmaps();
// Selection, colour and slot bitmaps back to their start state; for tests.
void toolbar_reset();
// Start-up: the colour picker and the colour pick repaint the icons through this.
void toolbar_register_hooks();
