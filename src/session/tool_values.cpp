#include "session/tool_values.h"

#include "net/command.h"
#include "session/colour_choice.h"

void tool_settings_reset(ToolSettings* t) {
  t->drawing_tool = 0;
  for (int tool = 0; tool < DRAWING_TYPE_COUNT; ++tool) {
    t->values[tool][0] = DRAWING_TOOLS[tool].size.start;
    t->values[tool][1] = DRAWING_TOOLS[tool].value2.start;
  }
}

int tool_settings_select(ToolSettings* t, int tool) {
  if (tool < 0 || tool >= DRAWING_TYPE_COUNT) return 0;
  t->drawing_tool = tool;
  return 1;
}

const ToolValue* tool_slider(int tool, int slider) {
  if (tool < 0 || tool >= DRAWING_TYPE_COUNT || slider < 0 || slider >= TOOL_SLIDERS) return nullptr;
  const ToolValue* range = slider == 0 ? &DRAWING_TOOLS[tool].size : &DRAWING_TOOLS[tool].value2;
  return range->low < range->high ? range : nullptr;
}

float* tool_slider_value(ToolSettings* t, int tool, int slider) {
  return tool_slider(tool, slider) ? &t->values[tool][slider] : nullptr;
}

float slider_value(const ToolValue& range, int x) {
  return static_cast<float>(range.low +
                            (static_cast<double>(x) / SLIDER_WIDTH) *
                                (static_cast<double>(range.high) - range.low));
}

int slider_column(const ToolValue& range, float value) {
  return static_cast<int>((static_cast<double>(value) - range.low) /
                          (static_cast<double>(range.high) - range.low) * SLIDER_WIDTH);
}

int encode_tool_command(Message* m, const ToolSettings* t, const ColourChoice* colour, uint8_t user_id,
                        const int16_t* xs, const int16_t* ys, unsigned count) {
  const int tool = t->drawing_tool;
  if (tool < 0 || tool >= DRAWING_TYPE_COUNT) return 0;
  // The values each layout carries, in its order; unused ones are ignored.
  const float* v = t->values[tool];
  return encode_command(m, DRAWING_TOOLS[tool].layout, user_id, colour->rgb[0], colour->rgb[1], colour->rgb[2],
                        tool_slider(tool, 0) ? v[0] : 0, tool_slider(tool, 1) ? v[1] : 0, xs, ys, count);
}
