#include "ui/tool_settings.h"

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

namespace {

enum PanelTool { PANEL_PENCIL, PANEL_BRUSH, PANEL_CHALK, PANEL_SMUDGE, PANEL_STAMP };

struct PanelKind {
  PanelTool tool;
  const ToolValues& values;
};

const PanelKind PANEL_KINDS[] = {
    {PANEL_PENCIL, TOOL_VALUES[1]}, {PANEL_BRUSH, TOOL_VALUES[2]}, {PANEL_CHALK, TOOL_VALUES[3]},
    {PANEL_SMUDGE, TOOL_VALUES[4]}, {PANEL_STAMP, TOOL_VALUES[5]},
};

void draw_preview(BITMAP* panel_bitmap, const PanelKind& kind) {
  blit_image(&SamplePicture, panel_bitmap, 0, 0, 0, 0, SAMPLE_PICTURE_W, SAMPLE_PICTURE_H);
  Image view = bitmap_image(panel_bitmap);
  Image* panel = &view;
  const float r = current_rgb[0], g = current_rgb[1], b = current_rgb[2];
  const float size = tool_settings.*kind.values.size;
  const int16_t* xs = DemoStrokeXs;
  const int16_t* ys = DemoStrokeYs;
  const int n = DEMO_STROKE_COUNT;
  // Grain comes from a fixed command-stream seed: the preview looks the same
  // every time and the local stream, which seeds real commands, is untouched.
  switch (kind.tool) {
    case PANEL_PENCIL:
      useCommandStream(1);
      drawPencil(panel, r, g, b, size, xs, ys, n);
      useLocalStream();
      break;
    case PANEL_BRUSH:
      useCommandStream(1);
      drawBrush(panel, r, g, b, size, tool_settings.*kind.values.value2, xs, ys, n);
      useLocalStream();
      break;
    case PANEL_CHALK:
      useCommandStream(1);
      drawChalk(panel, r, g, b, size, xs, ys, n);
      useLocalStream();
      break;
    case PANEL_SMUDGE:
      drawSmudge(panel, size, tool_settings.*kind.values.value2, xs, ys, n);
      break;
    case PANEL_STAMP:
      drawStamp(panel, r, g, b, size, tool_settings.*kind.values.value2, xs, ys, n);
      break;
  }
}

BITMAP* tool_panel_step(const PanelKind& kind, BITMAP* panel, int button_edge, int x, int y) {
  const int w = SAMPLE_PICTURE_W, h = SAMPLE_PICTURE_H;
  const int bands = kind.values.value2 ? 2 : 1;
  bool created = false;
  if (!panel) {
    panel = create_bitmap_ex(32, w, h + SLIDER_BAND_H * bands);
    if (!panel) return nullptr;
    created = true;
  }

  // No dragging: a value changes only on a press inside its slider band.
  bool in_sliders = x >= 0 && x < w && y >= h && y < h + SLIDER_BAND_H * bands;
  if (button_edge == 1 && in_sliders) {
    if (y < h + SLIDER_BAND_H || !kind.values.value2)
      tool_settings.*kind.values.size = slider_value(kind.values.size_range, x);
    else
      tool_settings.*kind.values.value2 = slider_value(kind.values.value2_range, x);
  } else if (!created) {
    return nullptr;
  }

  draw_preview(panel, kind);
  draw_size_wedge(panel, h, w);
  if (kind.values.value2) draw_value_ramp(panel, h + SLIDER_BAND_H, w);
  draw_slider_marker(panel, slider_column(kind.values.size_range, tool_settings.*kind.values.size), h);
  if (kind.values.value2)
    draw_slider_marker(panel, slider_column(kind.values.value2_range, tool_settings.*kind.values.value2),
                       h + SLIDER_BAND_H);
  return panel;
}

// In double: the draw is not rounded to single precision before it is scaled.
double unit_random() { return nextRandom() / 4294967295.0; }

float random_size(double spread) { return static_cast<float>(1 + spread * unit_random()); }

}  // namespace

const int16_t DemoStrokeXs[DEMO_STROKE_COUNT] = {20, 140, 20, 140};
const int16_t DemoStrokeYs[DEMO_STROKE_COUNT] = {20, 40, 80, 100};


BITMAP* pencil_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(PANEL_KINDS[PANEL_PENCIL], panel, button_edge, x, y);
}

BITMAP* brush_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(PANEL_KINDS[PANEL_BRUSH], panel, button_edge, x, y);
}

BITMAP* chalk_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(PANEL_KINDS[PANEL_CHALK], panel, button_edge, x, y);
}

BITMAP* smudge_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(PANEL_KINDS[PANEL_SMUDGE], panel, button_edge, x, y);
}

BITMAP* stamp_panel_handler(BITMAP* panel, int button_edge, int, int x, int y) {
  return tool_panel_step(PANEL_KINDS[PANEL_STAMP], panel, button_edge, x, y);
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

  int16_t* xs = StrokePoints.xs;
  int16_t* ys = StrokePoints.ys;
  for (int stroke = 0; stroke < 6; stroke++) {
    const float* c = Palette[nextRandom() & 15];
    StrokePoints.count = nextRandom() % 5 + 10;
    const int n = static_cast<int>(StrokePoints.count);
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
  StrokePoints.count = 0;
  return 1;
}
