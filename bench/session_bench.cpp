// What an acknowledgement and a rebuild cost: our only pending stroke accepted
// (one canvas copy, or drawing it again), and LocalCanvas rebuilt after another
// user's command with 0 to 16 of our 255-point brush strokes still pending.
#include <allegro.h>
#include <benchmark/benchmark.h>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "bench_stroke.h"
#include "net/command.h"
#include "ui/chat_log.h"
#include "ui/screen.h"

namespace {

// A brush command over the fixed sweep, seeded like a fresh stroke.
Message brush_command_message() {
  const BenchStroke& s = bench_stroke();
  Message m;
  encode_brush(&m, 180, 40, 20, 24, 200, s.x, s.y, unsigned(s.n));
  return m;
}

struct SessionScene {
  SessionScene() {
    config.screen_w = 1024;
    config.screen_h = 768;
    screen_set_layout();
    BackBuffer = create_bitmap_ex(32, 1024, 768);
    ServerCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    LocalCanvas = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    StrokeLayer = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);
    resetCanvas(ServerCanvas);
    blit(ServerCanvas, LocalCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    chat_log_reset();
    queue_init(&command_queue);
  }
  ~SessionScene() {
    queue_free(&command_queue);
    for (BITMAP* b : {BackBuffer, ServerCanvas, LocalCanvas, StrokeLayer}) destroy_bitmap(b);
    BackBuffer = ServerCanvas = LocalCanvas = StrokeLayer = nullptr;
  }
};

void BM_acknowledge_by_copy(benchmark::State& state) {
  SessionScene scene;
  for (auto _ : state) {
    blit(LocalCanvas, ServerCanvas, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_acknowledge_by_copy)->Unit(benchmark::kMicrosecond);

void BM_acknowledge_by_drawing(benchmark::State& state) {
  SessionScene scene;
  Message m = brush_command_message();
  for (auto _ : state) {
    apply_command(ServerCanvas, &m);
    benchmark::ClobberMemory();
  }
  message_free(&m);
}
BENCHMARK(BM_acknowledge_by_drawing)->Unit(benchmark::kMicrosecond);

void BM_rebuild_local_canvas(benchmark::State& state) {
  SessionScene scene;
  for (int i = 0; i < state.range(0); ++i) {
    Message m = brush_command_message();
    queue_push(&command_queue, &m);
  }
  for (auto _ : state) {
    rebuild_local_canvas();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_rebuild_local_canvas)->Arg(0)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
