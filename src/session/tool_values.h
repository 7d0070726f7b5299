// The painter's drawing tool and the values its sliders set, by the rows of
// net/drawing_tools.h, and the command each finished stroke becomes.
#pragma once
#include <cstdint>

#include "net/drawing_tools.h"

struct Message;
struct ColourChoice;

// Every slider is this many columns wide; column x sets low + x/width of the range.
constexpr int SLIDER_WIDTH = 160;
constexpr int TOOL_SLIDERS = 2;  // the size, then the second value

struct ToolSettings {
  int drawing_tool;  // a row of DRAWING_TOOLS
  float values[DRAWING_TYPE_COUNT][TOOL_SLIDERS];  // by tool: its size, its second value
};

// The pen, every value where its row starts it.
void tool_settings_reset(ToolSettings* t);
// Selects a drawing tool; 0 (nothing changes) for a number that is none.
int tool_settings_select(ToolSettings* t, int tool);

// The range a tool's slider sets, or null when the tool has no such value.
const ToolValue* tool_slider(int tool, int slider);
// That slider's value in t (null when it has none).
float* tool_slider_value(ToolSettings* t, int tool, int slider);

float slider_value(const ToolValue& range, int x);
// The column that shows value on a slider of range.
int slider_column(const ToolValue& range, float value);

// Fills m with the drawing tool's command for user_id from the points, the
// colour and the tool's values. 1 on success.
int encode_tool_command(Message* m, const ToolSettings* t, const ColourChoice* colour, uint8_t user_id,
                        const int16_t* xs, const int16_t* ys, unsigned count);
