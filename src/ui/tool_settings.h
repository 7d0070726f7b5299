// The option values of the drawing tools, their option panels (a live preview
// on the sample picture with one or two sliders) and the sample picture.
#pragma once
#include <allegro.h>
#include <cstdint>

#include "paint/image.h"

struct ToolSettings {
  float pencil_size;
  float brush_size;
  float brush_value2;
  float chalk_size;
  float smudge_size;
  float smudge_value2;
  float stamp_size;
  float stamp_value2;
};
extern ToolSettings tool_settings;

// The range a slider sets; also the range the renderers clamp to.
struct SliderRange {
  float low;
  float high;
};
constexpr SliderRange PENCIL_SIZE_RANGE = {1.5f, 8.0f};
constexpr SliderRange BRUSH_SIZE_RANGE = {1.7f, 12.0f};
constexpr SliderRange BRUSH_VALUE2_RANGE = {1.0f, 500.0f};
constexpr SliderRange CHALK_SIZE_RANGE = {1.5f, 12.0f};
constexpr SliderRange SMUDGE_SIZE_RANGE = {1.7f, 12.0f};
constexpr SliderRange SMUDGE_VALUE2_RANGE = {1.0f, 1000.0f};
constexpr SliderRange STAMP_SIZE_RANGE = {1.5f, 8.0f};
constexpr SliderRange STAMP_VALUE2_RANGE = {0.0f, 100.0f};

constexpr int SAMPLE_PICTURE_W = 160;
constexpr int SAMPLE_PICTURE_H = 120;
constexpr int SLIDER_BAND_H = 32;

// The zigzag every panel previews its tool with.
constexpr int DEMO_STROKE_COUNT = 4;
extern const int16_t DemoStrokeXs[DEMO_STROKE_COUNT];
extern const int16_t DemoStrokeYs[DEMO_STROKE_COUNT];

// Back to the start values; for tests.
void tool_settings_reset();

// Panel handlers of Pencil, Brush, Chalk, Smudge and Stamp:
// (panel or none, button_edge, key, x, y) -> the panel when created or changed.
BITMAP* pencil_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);
BITMAP* brush_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);
BITMAP* chalk_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);
BITMAP* smudge_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);
BITMAP* stamp_panel_handler(BITMAP* panel, int button_edge, int key, int x, int y);

void draw_size_wedge(BITMAP* panel, int y0, int width);
void draw_value_ramp(BITMAP* panel, int y0, int width);
void draw_slider_marker(BITMAP* panel, int x, int band_top);

// Makes picture (image_create): paper with six random strokes from the local
// stream. 1 on success; 0 leaves it empty.
int make_sample_picture(Image* picture);
