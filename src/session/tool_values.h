// The option values of the drawing tools (sizes and second values), the
// ranges their sliders set, and the command each finished stroke becomes.
#pragma once
#include <cstdint>

#include "net/layout.h"

struct Message;

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

// Every slider is this many columns wide; column x sets low + x/width of the range.
constexpr int SLIDER_WIDTH = 160;

// A drawing tool's values: its size and, for some, a second value; null
// members where it has none (the pen has neither).
struct ToolValues {
  float ToolSettings::*size;
  SliderRange size_range;
  float ToolSettings::*value2;
  SliderRange value2_range;
};
// By drawing tool, in the order of COMMAND_LAYOUTS.
extern const ToolValues TOOL_VALUES[DRAWING_TYPE_COUNT];

float slider_value(SliderRange range, int x);
// The column that shows value on a slider of range.
int slider_column(SliderRange range, float value);

// Fills m with tool's command (its layout in COMMAND_LAYOUTS) for user_id from
// the points, the current colour and the tool's values. 1 on success.
int encode_tool_command(Message* m, int tool, uint8_t user_id, const int16_t* xs, const int16_t* ys,
                        unsigned count);

// Back to the start values; for tests.
void tool_settings_reset();
