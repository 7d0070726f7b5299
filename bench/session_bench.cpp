// What an acknowledgement and a rebuild cost: our only pending stroke accepted
// (one canvas copy, or drawing it again), and LocalCanvas rebuilt after another
// user's command with 0 to 16 of our 255-point brush strokes still pending.
#include <benchmark/benchmark.h>

#include "app/session.h"
#include "bench_client.h"
#include "bench_stroke.h"
#include "net/command.h"
#include "ui/chat_log.h"
#include "ui/screen.h"

namespace {

// A brush command over the fixed sweep, seeded like a fresh stroke.
Message brush_command_message() {
  const BenchStroke& s = bench_stroke();
  Message m;
  encode_brush(&m, own_user_id, 180, 40, 20, 24, 200, s.x, s.y, unsigned(s.n));
  return m;
}

using SessionScene = BenchClient;

void BM_acknowledge_by_copy(benchmark::State& state) {
  SessionScene scene;
  for (auto _ : state) {
    image_copy_all(&LocalCanvas, &ServerCanvas);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_acknowledge_by_copy)->Unit(benchmark::kMicrosecond);

void BM_acknowledge_by_drawing(benchmark::State& state) {
  SessionScene scene;
  Message m = brush_command_message();
  for (auto _ : state) {
    apply_command(&ServerCanvas, &m);
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
