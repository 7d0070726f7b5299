// The drawing tools' option panels (a live preview
// on the sample picture with one or two sliders) and the sample picture.
#pragma once
#include <allegro.h>
#include <cstdint>

#include "paint/image.h"
#include "session/tool_values.h"

constexpr int SAMPLE_PICTURE_W = SLIDER_WIDTH;
constexpr int SAMPLE_PICTURE_H = 120;
constexpr int SLIDER_BAND_H = 32;

// The zigzag every panel previews its tool with.
constexpr int DEMO_STROKE_COUNT = 4;
extern const int16_t DemoStrokeXs[DEMO_STROKE_COUNT];
extern const int16_t DemoStrokeYs[DEMO_STROKE_COUNT];

// The panel of every drawing tool with a size, for the selected tool (the
// only one whose handler runs): its sliders as its row of net/drawing_tools.h
// has them. (panel or none, button_edge, key, x, y) -> the panel when created
// or changed.
BITMAP* drawing_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);

void draw_size_wedge(BITMAP* panel, int y0, int width);
void draw_value_ramp(BITMAP* panel, int y0, int width);
void draw_slider_marker(BITMAP* panel, int x, int band_top);

// Makes picture (image_create): paper with six random strokes from the local
// stream. 1 on success; 0 leaves it empty.
int make_sample_picture(Image* picture);
