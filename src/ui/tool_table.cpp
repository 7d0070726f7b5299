#include "ui/tool_table.h"

#include "net/layout.h"
#include "ui/chat_input.h"
#include "ui/colour_picker.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"

static_assert(TOOL_STAMP + 1 == DRAWING_TYPE_COUNT, "one layout per drawing tool, in slot order");

static const ToolSlot initial_tools[TOOL_COUNT] = {
    {"Pen", "pen.bmp", "penmask.bmp", nullptr, build_drawing_command, nullptr, nullptr, nullptr, 0},
    {"Pencil", "pencil.bmp", "pencilmask.bmp", pencil_panel_handler, build_drawing_command,
     nullptr, nullptr, nullptr, 0},
    {"Brush", "brush.bmp", "brushmask.bmp", brush_panel_handler, build_drawing_command, nullptr,
     nullptr, nullptr, 0},
    {"Chalk", "chalk.bmp", "chalkmask.bmp", chalk_panel_handler, build_drawing_command, nullptr,
     nullptr, nullptr, 0},
    {"Smudge", "smudge.bmp", "smudgemask.bmp", smudge_panel_handler, build_drawing_command,
     nullptr, nullptr, nullptr, 0},
    {"Stamp", "stamp.bmp", "stampmask.bmp", stamp_panel_handler, build_drawing_command, nullptr,
     nullptr, nullptr, 0},
    {"Paint", "paint.bmp", "paintmask.bmp", colour_panel_handler, nullptr, nullptr, nullptr,
     nullptr, 0},
    {"Chat", "chat.bmp", "chatmask.bmp", chat_input_handler, nullptr, nullptr, nullptr, nullptr,
     1},
};

ToolSlot ToolTable[TOOL_COUNT] = {
    initial_tools[0], initial_tools[1], initial_tools[2], initial_tools[3],
    initial_tools[4], initial_tools[5], initial_tools[6], initial_tools[7],
};

int selected_tool = 0;
int drawing_tool = 0;
bool panel_visible = false;

void tool_table_reset() {
  for (int i = 0; i < TOOL_COUNT; ++i) ToolTable[i] = initial_tools[i];
  selected_tool = 0;
  drawing_tool = 0;
  panel_visible = false;
}
