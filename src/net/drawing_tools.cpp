#include "net/drawing_tools.h"

#include "net/command.h"
#include "net/message.h"
#include "paint/brush.h"
#include "paint/chalk.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/smudge.h"
#include "paint/stamp.h"

namespace {

void pen(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawPen(canvas, c.rgb[0], c.rgb[1], c.rgb[2], p.xs, p.ys, p.count);
}
void pencil(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawPencil(canvas, c.rgb[0], c.rgb[1], c.rgb[2], c.value1, p.xs, p.ys, p.count);
}
void brush(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawBrush(canvas, c.rgb[0], c.rgb[1], c.rgb[2], c.value1, c.value2, p.xs, p.ys, p.count);
}
void chalk(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawChalk(canvas, c.rgb[0], c.rgb[1], c.rgb[2], c.value1, p.xs, p.ys, p.count);
}
void smudge(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawSmudge(canvas, c.value1, c.value2, p.xs, p.ys, p.count);
}
void stamp(Image* canvas, const StrokeCommand& c, const PointList& p) {
  drawStamp(canvas, c.rgb[0], c.rgb[1], c.rgb[2], c.value1, c.value2, p.xs, p.ys, p.count);
}

constexpr ToolValue NONE = {0, 0, 0};

}  // namespace

// Costs: small chalk scatters many tiny discs per sample, so it is dearer than
// large chalk; the stamp's spacing (0 here) follows from its size and gap, and
// the brush's bristles are charged on top (draw_cost.cpp). The stamp's log
// line names the brush, as it always has.
const DrawingTool DRAWING_TOOLS[DRAWING_TYPE_COUNT] = {
    {"Pen", {MSG_PEN, "pen", false, true, 0}, pen, {1.0, {1, 5, 12}, {0.12, 0.12, 0.12}}, 2, NONE, NONE},
    {"Pencil", {MSG_PENCIL, "pencil", true, true, 1}, pencil, {1.0, {1.5, 5, 8}, {0.25, 0.75, 0.9}}, 2,
     {1.5f, 8.0f, 1.7f}, NONE},
    {"Brush", {MSG_BRUSH, "brush", true, true, 2}, brush, {1.5, {1.7, 5, 12}, {0.08, 0.08, 0.08}}, 2,
     {1.7f, 12.0f, 3.5f}, {1.0f, 500.0f, 100.0f}},
    {"Chalk", {MSG_CHALK, "chalk", true, true, 1}, chalk, {1.0, {1.5, 5, 12}, {3.63, 1.82, 1.25}}, 2,
     {1.5f, 12.0f, 5.5f}, NONE},
    {"Smudge", {MSG_SMUDGE, "smudge", false, false, 2}, smudge, {2.0, {1.7, 5, 12}, {0.55, 1.92, 8.93}}, 2,
     {1.7f, 12.0f, 8.5f}, {1.0f, 1000.0f, 600.0f}},
    {"Stamp", {MSG_STAMP, "brush", false, true, 2}, stamp, {0, {1.5, 5, 8}, {0.25, 0.95, 1.15}}, 2,
     {1.5f, 8.0f, 3.5f}, {0.0f, 100.0f, 50.0f}},
};

const DrawingTool* drawing_tool_of_type(int type) {
  for (const DrawingTool& tool : DRAWING_TOOLS)
    if (int(tool.layout.type) == type) return &tool;
  return nullptr;
}

float drawing_size_max() {
  float most = 0;
  for (const DrawingTool& tool : DRAWING_TOOLS) most = tool.size.high > most ? tool.size.high : most;
  return most;
}
