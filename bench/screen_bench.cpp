// Screen composition: the frame's recomposition with the chat overlay, the
// see-through chat panel, the icon tinting after a colour change, the picture
// copied into BackBuffer, and the copy of dirty rectangles against one full
// copy, as they are or converted to another layout.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_client.h"
#include "paint/canvas.h"
#include "ui/dirty_list.h"
#include "paint/pixel.h"
#include "ui/bitmap_image.h"
#include "ui/chat_view.h"
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
      for (int x = 0; x < CANVAS_WIDTH; ++x) image_row(&LocalCanvas, y)[x] = pack_pixel(x & 255, y & 255, 128);
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
    compose_screen(BackBuffer, &LocalCanvas, true);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_compose_screen_overlay)->Unit(benchmark::kMillisecond);

// The Chat panel's style: the picture under the panel tinted, then the panel.
void BM_draw_tool_panel_see_through(benchmark::State& state) {
  BenchScreen s;
  selected_tool = TOOL_CHAT;
  ToolTable[TOOL_CHAT].panel = create_bitmap_ex(32, 1024, 768 - TOOLBAR_HEIGHT);
  clear_to_color(ToolTable[TOOL_CHAT].panel, bitmap_colour(255, 0, 255));
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
    board.colour.rgb[0] = c;
    c = c < 255 ? c + 1 : 0;
    draw_toolbar_icons();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_draw_toolbar_icons)->Unit(benchmark::kMicrosecond);

// The picture into BackBuffer, whole (as every recomposition copies it) or a
// stroke's tail of 40 x 30 pixels: way 0 keeps it in a memory bitmap of the
// library and blits that, way 1 copies the rows of the engine's own image.
void BM_canvas_to_back_buffer(benchmark::State& state) {
  BenchScreen s;
  const bool library = state.range(0) == 0, whole = state.range(1) == 1;
  BITMAP* held = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
  blit_image(&LocalCanvas, held, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  const int w = whole ? CANVAS_WIDTH : 40, h = whole ? CANVAS_HEIGHT : 30;
  int i = 0;
  for (auto _ : state) {
    const int x = whole ? 0 : i * 37 % 800, y = whole ? 0 : i * 23 % 600;
    ++i;
    if (library)
      blit(held, BackBuffer, x, y, ox + x, oy + y, w, h);
    else
      blit_image(&LocalCanvas, BackBuffer, x, y, ox + x, oy + y, w, h);
    benchmark::ClobberMemory();
  }
  destroy_bitmap(held);
}
BENCHMARK(BM_canvas_to_back_buffer)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"way", "whole"})->Unit(benchmark::kMicrosecond);

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

// The same where the library lays out pixels otherwise (as under SYSTEM_NONE):
// every pixel copied to the screen is converted.
void BM_refresh_rectangles_converted(benchmark::State& state) {
  const int saved[3] = {_rgb_r_shift_32, _rgb_g_shift_32, _rgb_b_shift_32};
  _rgb_r_shift_32 = 0, _rgb_g_shift_32 = 8, _rgb_b_shift_32 = 16;
  BM_refresh_rectangles(state);
  _rgb_r_shift_32 = saved[0], _rgb_g_shift_32 = saved[1], _rgb_b_shift_32 = saved[2];
}
BENCHMARK(BM_refresh_rectangles_converted)->Arg(1)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace
