// Screen composition: the frame's recomposition with the chat overlay, the
// see-through chat panel, the icon tinting after a colour change, and the copy
// of dirty rectangles against one full copy.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_client.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "ui/chat_log.h"
#include "ui/screen.h"
#include "ui/toolbar.h"

namespace {

// A 1024 x 768 screen with its bitmaps, a patterned picture and an empty log.
struct BenchScreen {
  BenchClient client;
  BITMAP* dest;
  BenchScreen() {
    dest = create_bitmap_ex(32, 1024, 768);
    for (int y = 0; y < CANVAS_HEIGHT; ++y)
      for (int x = 0; x < CANVAS_WIDTH; ++x) putpixel(LocalCanvas, x, y, makecol32(x & 255, y & 255, 128));
  }
  ~BenchScreen() { destroy_bitmap(dest); }
};

// A forced recomposition with ten two-line chat lines in the overlay: what a
// frame costs when a line appears or expires.
void BM_compose_screen_overlay(benchmark::State& state) {
  BenchScreen s;
  std::string text;
  for (int i = 0; i < 20; ++i) text += "words of a chat line ";
  for (int i = 0; i < 10; ++i) add_chat_line("painter", text.c_str());
  for (auto _ : state) {
    compose_screen(BackBuffer, LocalCanvas, true);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_compose_screen_overlay)->Unit(benchmark::kMillisecond);

// The Chat panel's style: the picture under the panel tinted, then the panel.
void BM_draw_tool_panel_see_through(benchmark::State& state) {
  BenchScreen s;
  selected_tool = TOOL_CHAT;
  ToolTable[TOOL_CHAT].panel = create_bitmap_ex(32, 1024, 768 - TOOLBAR_HEIGHT);
  clear_to_color(ToolTable[TOOL_CHAT].panel, makecol32(255, 0, 255));
  for (auto _ : state) {
    draw_tool_panel();
    dirty_list_clear();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_draw_tool_panel_see_through)->Unit(benchmark::kMillisecond);

// Re-tinting all eight icons, as after every colour change.
void BM_draw_toolbar_icons(benchmark::State& state) {
  BenchScreen s;
  draw_toolbar_icons();  // generates the labelled icons once
  float c = 0;
  for (auto _ : state) {
    current_rgb[0] = c;
    c = c < 255 ? c + 1 : 0;
    draw_toolbar_icons();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_draw_toolbar_icons)->Unit(benchmark::kMicrosecond);

// A frame's copy of n small rectangles (a stroke's tail, a busy bar); 32 makes
// the list full and the copy whole.
void BM_refresh_rectangles(benchmark::State& state) {
  BenchScreen s;
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) add_dirty_rect(20 * i, 10 * i, 40, 30);
    refresh_screen_to(s.dest);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_refresh_rectangles)->Arg(1)->Arg(8)->Arg(31)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace
