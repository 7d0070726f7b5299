// What an acknowledgement and a rebuild cost in the session core, driven with
// bytes: our only pending stroke accepted (one canvas copy), our older of two
// accepted (drawing it again), and LocalCanvas rebuilt with 0 to 16 of our
// 255-point brush strokes still pending.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_stroke.h"
#include "net/command.h"
#include "net/layout.h"
#include "session/board_session.h"

namespace {

// A logged-in session (id 1) on the paper, nothing pending.
struct SessionScene {
  BoardSession s = {};
  SessionScene() {
    if (!board_session_open(&s) || !board_session_login(&s, "Ann", "bench", 2020)) abort();
    const uint8_t reply[] = {MSG_LOGIN, 5, 0, 1, 'A', 'n', 'n', 0, MSG_ACCEPTED, 0, 0};
    receive(reply, sizeof reply);
    if (queue_count(&s.command_queue) != 0) abort();
  }
  ~SessionScene() { board_session_close(&s); }
  void receive(const uint8_t* bytes, size_t length) {
    board_session_received(&s, bytes, length);
    board_frame_start(&s, 1700000000);
    board_session_step(&s, [] { return 0.0; }, 1);
  }
  void acknowledge() {
    const uint8_t accepted[] = {MSG_ACCEPTED, 0, 0};
    receive(accepted, sizeof accepted);
  }
  // Our brush command over the fixed sweep, queued as if sent.
  void queue_brush() {
    const BenchStroke& b = bench_stroke();
    Message m;
    encode_brush(&m, 1, 180, 40, 20, 24, 200, b.x, b.y, unsigned(b.n));
    queue_push(&s.command_queue, &m);
  }
};

void BM_acknowledge_by_copy(benchmark::State& state) {
  SessionScene scene;
  for (auto _ : state) {
    scene.queue_brush();
    scene.acknowledge();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_acknowledge_by_copy)->Unit(benchmark::kMicrosecond);

void BM_acknowledge_by_drawing(benchmark::State& state) {
  SessionScene scene;
  scene.queue_brush();
  for (auto _ : state) {
    scene.queue_brush();
    scene.acknowledge();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_acknowledge_by_drawing)->Unit(benchmark::kMicrosecond);

void BM_rebuild_local_canvas(benchmark::State& state) {
  SessionScene scene;
  for (int i = 0; i < state.range(0); ++i) scene.queue_brush();
  for (auto _ : state) {
    board_session_rebuild(&scene.s);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_rebuild_local_canvas)->Arg(0)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
