#include "ui/tool_settings.h"

#include "net/command.h"
#include "paint/brush.h"
#include "paint/canvas.h"
#include "paint/chalk.h"
#include "paint/pen.h"
#include "paint/pencil.h"
#include "paint/random.h"
#include "paint/smudge.h"
#include "paint/stamp.h"
#include "ui/bitmap_image.h"
#include "ui/colour_picker.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_table.h"

namespace {

// Grain comes from a fixed command-stream seed: the preview looks the same
// every time and the local stream, which seeds real commands, is untouched.
void draw_preview(BITMAP* panel_bitmap, int tool) {
  blit_image(&SamplePicture, panel_bitmap, 0, 0, 0, 0, SAMPLE_PICTURE_W, SAMPLE_PICTURE_H);
  Image view = bitmap_image(panel_bitmap);
  const DrawingTool& row = DRAWING_TOOLS[tool];
  const float* values = board.tools.values[tool];
  const float* rgb = board.colour.rgb;
  const StrokeCommand c = {row.layout.type, 0, 1, {rgb[0], rgb[1], rgb[2]}, values[0], values[1]};
  int16_t xs[DEMO_STROKE_COUNT], ys[DEMO_STROKE_COUNT];
  for (int k = 0; k < DEMO_STROKE_COUNT; ++k) {
    xs[k] = DemoStrokeXs[k];
    ys[k] = DemoStrokeYs[k];
  }
  const PointList points = {xs, ys, DEMO_STROKE_COUNT, DEMO_STROKE_COUNT};
  if (row.layout.seeded) useCommandStream(1);
  row.draw(&view, c, points);
  if (row.layout.seeded) useLocalStream();
}

BITMAP* tool_panel_step(int tool, BITMAP* panel, int button_edge, int x, int y) {
  const int w = SAMPLE_PICTURE_W, h = SAMPLE_PICTURE_H;
  const ToolValue* size = tool_slider(tool, 0);
  const ToolValue* second = tool_slider(tool, 1);
  if (!size) return nullptr;
  const int bands = second ? 2 : 1;
  bool created = false;
  if (!panel) {
    panel = create_bitmap_ex(32, w, h + SLIDER_BAND_H * bands);
    if (!panel) return nullptr;
    created = true;
  }

  // No dragging: a value changes only on a press inside its slider band.
  float* values = board.tools.values[tool];
  bool in_sliders = x >= 0 && x < w && y >= h && y < h + SLIDER_BAND_H * bands;
  if (button_edge == 1 && in_sliders) {
    if (y < h + SLIDER_BAND_H || !second)
      values[0] = slider_value(*size, x);
    else
      values[1] = slider_value(*second, x);
  } else if (!created) {
    return nullptr;
  }

  draw_preview(panel, tool);
  draw_size_wedge(panel, h, w);
  if (second) draw_value_ramp(panel, h + SLIDER_BAND_H, w);
  draw_slider_marker(panel, slider_column(*size, values[0]), h);
  if (second) draw_slider_marker(panel, slider_column(*second, values[1]), h + SLIDER_BAND_H);
  return panel;
}

// In double: the draw is not rounded to single precision before it is scaled.
double unit_random() { return nextRandom() / 4294967295.0; }

float random_size(double spread) { return static_cast<float>(1 + spread * unit_random()); }

}  // namespace

const int16_t DemoStrokeXs[DEMO_STROKE_COUNT] = {20, 140, 20, 140};
const int16_t DemoStrokeYs[DEMO_STROKE_COUNT] = {20, 40, 80, 100};


BITMAP* drawing_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(selected_tool, panel, button_edge, x, y);
}

void draw_size_wedge(BITMAP* panel, int y0, int width) {
  if (width <= 0) return;
  const int white = bitmap_colour(255, 255, 255);
  const int black = bitmap_colour(0, 0, 0);
  for (int i = 0; i < width; i++) {
    int b = i * 32 / width;
    int t = y0 + 31 - b;
    vline(panel, i, y0, t, white);
    vline(panel, i, t, y0 + 31, black);
    // The fractional part of the wedge's height shades its edge pixel.
    int grey = static_cast<int>(255 - (i * 32.0 / width - b) * 255);
    putpixel(panel, i, t, bitmap_colour(grey, grey, grey));
  }
}

void draw_value_ramp(BITMAP* panel, int y0, int width) {
  if (width <= 0) return;
  for (int i = 0; i < width; i++) {
    int grey = 255 * i / width;
    vline(panel, i, y0, y0 + 31, bitmap_colour(grey, grey, grey));
  }
}

void draw_slider_marker(BITMAP* panel, int x, int band_top) {
  const int red = bitmap_colour(255, 0, 0);
  const int black = bitmap_colour(0, 0, 0);
  vline(panel, x - 2, band_top + 6, band_top + 26, red);
  vline(panel, x + 2, band_top + 6, band_top + 26, red);
  vline(panel, x - 3, band_top + 7, band_top + 25, black);
  vline(panel, x + 3, band_top + 7, band_top + 25, black);
}

int make_sample_picture(Image* picture) {
  if (!image_create(picture, SAMPLE_PICTURE_W, SAMPLE_PICTURE_H)) return 0;
  resetCanvas(picture);

  int16_t xs[16], ys[16];
  for (int stroke = 0; stroke < 6; stroke++) {
    const float* c = board.colour.palette[nextRandom() & 15];
    const int n = static_cast<int>(nextRandom() % 5 + 10);
    for (int k = 0; k < n; k++) {
      xs[k] = static_cast<int16_t>(nextRandom() % (SAMPLE_PICTURE_W - 10) + 5);
      ys[k] = static_cast<int16_t>(nextRandom() % (SAMPLE_PICTURE_H - 10) + 5);
    }
    switch (nextRandom() % 5) {
      case 0:
        drawPen(picture, c[0], c[1], c[2], xs, ys, n);
        break;
      case 1:
        drawPencil(picture, c[0], c[1], c[2], random_size(4), xs, ys, n);
        break;
      case 2: {
        float value2 = static_cast<float>(1000.0 * unit_random());
        drawBrush(picture, c[0], c[1], c[2], random_size(4), value2, xs, ys, n);
        break;
      }
      case 3: {
        float value2 = static_cast<float>(1000.0 * unit_random());
        drawSmudge(picture, random_size(4), value2, xs, ys, n);
        break;
      }
      default:
        drawChalk(picture, c[0], c[1], c[2], random_size(5), xs, ys, n);
        break;
    }
  }
  return 1;
}
