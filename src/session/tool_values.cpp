#include "session/tool_values.h"

#include "net/command.h"
#include "session/colour_choice.h"

namespace {

constexpr ToolSettings START_SETTINGS = {1.7f, 3.5f, 100.0f, 5.5f, 8.5f, 600.0f, 3.5f, 50.0f};

}  // namespace

ToolSettings tool_settings = START_SETTINGS;

const ToolValues TOOL_VALUES[DRAWING_TYPE_COUNT] = {
    {nullptr, {0, 0}, nullptr, {0, 0}},
    {&ToolSettings::pencil_size, PENCIL_SIZE_RANGE, nullptr, {0, 0}},
    {&ToolSettings::brush_size, BRUSH_SIZE_RANGE, &ToolSettings::brush_value2, BRUSH_VALUE2_RANGE},
    {&ToolSettings::chalk_size, CHALK_SIZE_RANGE, nullptr, {0, 0}},
    {&ToolSettings::smudge_size, SMUDGE_SIZE_RANGE, &ToolSettings::smudge_value2, SMUDGE_VALUE2_RANGE},
    {&ToolSettings::stamp_size, STAMP_SIZE_RANGE, &ToolSettings::stamp_value2, STAMP_VALUE2_RANGE},
};

float slider_value(SliderRange range, int x) {
  return static_cast<float>(range.low +
                            (static_cast<double>(x) / SLIDER_WIDTH) *
                                (static_cast<double>(range.high) - range.low));
}

int slider_column(SliderRange range, float value) {
  return static_cast<int>((static_cast<double>(value) - range.low) /
                          (static_cast<double>(range.high) - range.low) * SLIDER_WIDTH);
}

int encode_tool_command(Message* m, int tool, uint8_t user_id, const int16_t* xs, const int16_t* ys,
                        unsigned count) {
  if (tool < 0 || tool >= DRAWING_TYPE_COUNT) return 0;
  // The values each layout carries, in its order; unused ones are ignored.
  const ToolValues& kind = TOOL_VALUES[tool];
  const float v0 = kind.size ? tool_settings.*kind.size : 0;
  const float v1 = kind.value2 ? tool_settings.*kind.value2 : 0;
  return encode_command(m, COMMAND_LAYOUTS[tool], user_id, current_rgb[0], current_rgb[1], current_rgb[2], v0, v1,
                        xs, ys, count);
}

void tool_settings_reset() { tool_settings = START_SETTINGS; }
