// Tool input: the cost of a colour change in the Paint panel, of a slider press
// in a tool panel, of one stroke frame with its live tail, and of the sample
// picture made at start-up.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench_client.h"
#include "paint/canvas.h"
#include "ui/dirty_list.h"
#include "paint/random.h"
#include "ui/chat_view.h"
#include "ui/colour_picker.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"
#include "ui/toolbar.h"

namespace {

// A 1024 x 768 screen with every shared bitmap, a paper picture and the
// sample picture.
struct InputBench {
  BenchClient client;
  InputBench() { make_sample_picture(&SamplePicture); }
};

// A press on the hue strip: the new colour, the tinted icons, the tool bar and
// the whole 416 x 256 panel redrawn.
void BM_colour_panel_press(benchmark::State& state) {
  InputBench s;
  BITMAP* panel = colour_panel_handler(nullptr, 0, 0, 0, 0);
  int y = 0;
  for (auto _ : state) {
    colour_panel_handler(panel, 1, 0, 270, y);
    y = (y + 37) & 255;
    dirty_list_clear();
    benchmark::ClobberMemory();
  }
  colour_panel_forget();
  destroy_bitmap(panel);
}
BENCHMARK(BM_colour_panel_press)->Unit(benchmark::kMillisecond);

// A slider press in the Brush panel: the preview stroke drawn again.
void BM_brush_panel_press(benchmark::State& state) {
  InputBench s;
  selected_tool = TOOL_BRUSH;
  BITMAP* panel = drawing_panel_handler(nullptr, 0, 0, 0, 0);
  int x = 0;
  for (auto _ : state) {
    drawing_panel_handler(panel, 1, 0, x, 130);
    x = (x + 13) % SAMPLE_PICTURE_W;
    benchmark::ClobberMemory();
  }
  destroy_bitmap(panel);
}
BENCHMARK(BM_brush_panel_press)->Unit(benchmark::kMicrosecond);

// One frame of a stroke in progress: a point taken, the settled segment drawn
// on StrokeLayer when one is fixed, and the live tail redrawn on BackBuffer.
void BM_stroke_frame(benchmark::State& state) {
  InputBench s;
  stroke_step(100, 300, 1, MOUSE_LEFT, false, false);
  int i = 0;
  for (auto _ : state) {
    ++i;
    int x = 100 + (i * 5) % 700;
    int y = 300 + static_cast<int>(80 * std::sin(i * 0.2));
    if (x < 105) stroke_step(x, y, 1, MOUSE_LEFT, false, false);  // start over at the left
    stroke_step(x, y, 0, MOUSE_LEFT, false, false);
    dirty_list_clear();
    benchmark::ClobberMemory();
  }
  stroke_abandon(&board.stroke);
}
BENCHMARK(BM_stroke_frame)->Unit(benchmark::kMicrosecond);

// The sample picture behind the panels, made once at start-up.
void BM_make_sample_picture(benchmark::State& state) {
  for (auto _ : state) {
    random_reset();
    Image picture;
    make_sample_picture(&picture);
    benchmark::DoNotOptimize(picture.pixels);
    image_destroy(&picture);
  }
}
BENCHMARK(BM_make_sample_picture)->Unit(benchmark::kMillisecond);

}  // namespace
