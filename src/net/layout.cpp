#include "net/layout.h"

#include "net/message.h"

// The stamp's log line names the brush, as it always has.
const CommandLayout COMMAND_LAYOUTS[DRAWING_TYPE_COUNT] = {
    {MSG_PEN, "pen", false, true, 0},       {MSG_PENCIL, "pencil", true, true, 1},
    {MSG_BRUSH, "brush", true, true, 2},    {MSG_CHALK, "chalk", true, true, 1},
    {MSG_SMUDGE, "smudge", false, false, 2}, {MSG_STAMP, "brush", false, true, 2},
};

const CommandLayout* command_layout(int type) {
  for (const CommandLayout& layout : COMMAND_LAYOUTS)
    if (int(layout.type) == type) return &layout;
  return nullptr;
}

int command_fixed_size(const CommandLayout& layout) {
  return 1 + (layout.seeded ? 4 : 0) + (layout.coloured ? 3 : 0) + 2 * layout.values;
}
