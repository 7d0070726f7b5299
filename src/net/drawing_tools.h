// The drawing tools, one row each: what the wire, the engine, the server's
// budget and both clients' tool bars and panels know of a tool. A new tool is
// its message type (net/message.h), its row here, its renderer (src/paint)
// and its two icons (assets/); everything else reads the row.
#pragma once
#include "net/layout.h"
#include "paint/image.h"

struct StrokeCommand;
struct PointList;

// What a tool costs every client to draw (net/draw_cost.cpp says how these
// were measured): microseconds of one core per sample at three sizes, linear
// in between, and the spacing of its samples along the path.
struct ToolCost {
  double spacing, size[3], us[3];
};

// A value the painter sets with a slider: its range, which the renderer also
// clamps to, and where it starts. low == high: the tool has no such value.
struct ToolValue {
  float low, high, start;
};

struct DrawingTool {
  const char* name;      // on both tool bars; the icons are <name in lower case>.bmp and ...mask.bmp
  CommandLayout layout;  // how its command travels
  // Draws a decoded command with the random stream already seeded.
  void (*draw)(Image* canvas, const StrokeCommand& c, const PointList& points);
  ToolCost cost;
  float reach;  // how far it draws from its path, in sizes (at least 2), for the footprint
  ToolValue size, value2;
};

// In the order of the tool bar; the index is the tool's number everywhere.
extern const DrawingTool DRAWING_TOOLS[DRAWING_TYPE_COUNT];

// The row whose command has this message type, or null.
const DrawingTool* drawing_tool_of_type(int type);
// The largest size any tool draws with.
float drawing_size_max();
