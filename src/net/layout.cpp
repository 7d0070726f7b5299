#include "net/layout.h"

#include "net/drawing_tools.h"

const CommandLayout* command_layout(int type) {
  const DrawingTool* tool = drawing_tool_of_type(type);
  return tool ? &tool->layout : nullptr;
}

int command_fixed_size(const CommandLayout& layout) {
  return 1 + (layout.seeded ? 4 : 0) + (layout.coloured ? 3 : 0) + 2 * layout.values;
}
