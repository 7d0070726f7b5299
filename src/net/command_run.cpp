#include "net/command_run.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <pthread.h>

#include "net/drawing_tools.h"
#include "net/layout.h"
#include "paint/stroke_walk.h"

namespace {

// Commands decoded ahead of the drawing: enough to find work for both threads
// while a few large ones block their neighbours, few enough to scan each time.
constexpr unsigned WINDOW = 32;
// A straight stretch is walked by adding steps, whose rounding may carry the
// samples off the line by up to about 1/256 of its length; the margin allows
// for that below this length, and beyond it the whole canvas is claimed.
constexpr int LONG_SEGMENT = 4096;

enum TaskState { TASK_PENDING, TASK_RUNNING, TASK_DONE };

struct Task {
  StrokeCommand command;
  PointList points;  // kept between runs, grown as needed
  Footprint area;
  TaskState state;
};

// The one worker and the window of decoded commands it shares with the thread
// that has the run. Sequence numbers head (oldest unfinished) to tail (next to
// add) are the tasks in the window, at index number % WINDOW.
struct Scheduler {
  std::mutex lock;
  std::condition_variable changed;  // a task was added or finished, or stop
  std::thread worker;
  bool stopping;
  bool claimed;
  bool handlers_registered;
  Image* canvas;
  unsigned head, tail;
  Task tasks[WINDOW];
};

Scheduler scheduler;

bool two_cores() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  // Built without threads (a browser's single thread): no worker can be made,
  // and without exceptions a failed attempt would not be caught.
  return false;
#else
  static const bool two = std::thread::hardware_concurrency() >= 2;
  return two;
#endif
}

bool overlaps(const Footprint& a, const Footprint& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

// The first pending task that no earlier unfinished one overlaps; null when
// there is none. Called with the lock held.
Task* pick_task(Scheduler* s) {
  for (unsigned i = s->head; i != s->tail; ++i) {
    Task* t = &s->tasks[i % WINDOW];
    if (t->state != TASK_PENDING) continue;
    bool free = true;
    for (unsigned j = s->head; j != i && free; ++j) {
      const Task& earlier = s->tasks[j % WINDOW];
      free = earlier.state == TASK_DONE || !overlaps(earlier.area, t->area);
    }
    if (free) return t;
  }
  return nullptr;
}

// Draws t without the lock, then retires the finished tasks at the head.
void run_task(Scheduler* s, Task* t, std::unique_lock<std::mutex>& hold) {
  t->state = TASK_RUNNING;
  hold.unlock();
  draw_stroke_command(s->canvas, t->command, t->points);
  hold.lock();
  t->state = TASK_DONE;
  while (s->head != s->tail && s->tasks[s->head % WINDOW].state == TASK_DONE) ++s->head;
  s->changed.notify_all();
}

// Draws a task that may start, or waits for a change.
void help(Scheduler* s, std::unique_lock<std::mutex>& hold) {
  if (Task* t = pick_task(s))
    run_task(s, t, hold);
  else
    s->changed.wait(hold);
}

void work(Scheduler* s) {
  std::unique_lock<std::mutex> hold(s->lock);
  while (!s->stopping) help(s, hold);
}

void stop_at_exit() { command_run_stop(); }

// A forked child has only the forking thread: its copies of the worker's handle
// and of the condition it waits on are dropped unused (a join, or destroying a
// condition with a waiter, would never return).
void forget_worker_in_child() {
  new (&scheduler.worker) std::thread();
  new (&scheduler.changed) std::condition_variable();
}

// With the lock held. When the thread cannot be made the caller draws alone.
void start_worker(Scheduler* s) {
  if (s->worker.joinable()) return;
  try {
    s->worker = std::thread(work, s);
  } catch (const std::system_error&) {
    return;
  }
  if (!s->handlers_registered)
    s->handlers_registered =
        atexit(stop_at_exit) == 0 && pthread_atfork(nullptr, nullptr, forget_worker_in_child) == 0;
}

void drain(Scheduler* s, std::unique_lock<std::mutex>& hold) {
  while (s->head != s->tail) help(s, hold);
}

}  // namespace

Footprint command_footprint(const StrokeCommand& c, const PointList& points, int w, int h) {
  const int16_t* xs = points.xs;
  const int16_t* ys = points.ys;
  const unsigned n = unsigned(points.count);
  float x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
  auto take = [&](float x, float y) {
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
  };
  int longest = 0;
  for (unsigned i = 0; i < n; ++i) {
    take(xs[i], ys[i]);
    if (i + 1 < n) longest = std::max({longest, std::abs(xs[i + 1] - xs[i]), std::abs(ys[i + 1] - ys[i])});
    float controls[4];
    if (segmentControls(xs, ys, n, i, controls)) {
      take(controls[0], controls[1]);
      take(controls[2], controls[3]);
    }
  }
  if (longest > LONG_SEGMENT) return Footprint{0, 0, w, h};
  // A tool reaches less than its reach in sizes from its path (bristles and
  // their trails, grain scatter and discs, the smudge and the step it reads
  // back from), plus the 2 x 2 deposit; the pen has no size.
  const DrawingTool* tool = drawing_tool_of_type(int(c.type));
  const float size = std::min(std::max(c.value1, 2.0f), drawing_size_max());
  const double margin = (tool ? tool->reach : 2.0) * size + 8 + longest / 64.0;
  return Footprint{std::max(0, int(std::floor(x0 - margin))), std::max(0, int(std::floor(y0 - margin))),
                   std::min(w, int(std::ceil(x1 + margin)) + 1), std::min(h, int(std::ceil(y1 + margin)) + 1)};
}

void command_run_begin(CommandRun* run, Image* canvas, const CommandObserver* observer) {
  *run = CommandRun{canvas, false, observer ? *observer : CommandObserver{nullptr, nullptr}};
  if (!canvas || !two_cores()) return;
  Scheduler* s = &scheduler;
  std::lock_guard<std::mutex> hold(s->lock);
  if (s->claimed) return;
  s->claimed = true;
  s->canvas = canvas;
  run->shared = true;
}

void command_run_add(CommandRun* run, Message* m) {
  if (!command_layout(int(m->type))) return;
  const CommandObserver& observer = run->observer;
  if (!run->shared) {
    StrokeCommand c;
    if (!decode_command(m, &c, &point_list)) return;
    if (observer.decoded) observer.decoded(observer.context, c, point_list);
    draw_stroke_command(run->canvas, c, point_list);
    return;
  }
  Scheduler* s = &scheduler;
  std::unique_lock<std::mutex> hold(s->lock);
  while (s->tail - s->head == WINDOW) help(s, hold);
  // The slot at tail is outside the window: no other thread looks at it.
  Task* t = &s->tasks[s->tail % WINDOW];
  hold.unlock();
  if (!decode_command(m, &t->command, &t->points)) return;
  if (observer.decoded) observer.decoded(observer.context, t->command, t->points);
  t->area = command_footprint(t->command, t->points, run->canvas->w, run->canvas->h);
  t->state = TASK_PENDING;
  hold.lock();
  ++s->tail;
  // A run of one command is drawn by the caller alone.
  if (s->tail - s->head >= 2) {
    start_worker(s);
    s->changed.notify_all();
  }
}

void command_run_finish(CommandRun* run) {
  if (!run->shared) return;
  Scheduler* s = &scheduler;
  std::unique_lock<std::mutex> hold(s->lock);
  drain(s, hold);
  s->claimed = false;
  run->shared = false;
}

void apply_commands(Image* canvas, Message* messages, size_t count) {
  CommandRun run;
  command_run_begin(&run, canvas);
  for (size_t i = 0; i < count; ++i) command_run_add(&run, &messages[i]);
  command_run_finish(&run);
}

size_t apply_frames(Image* canvas, const uint8_t* bytes, size_t length) {
  CommandRun run;
  command_run_begin(&run, canvas);
  size_t at = 0;
  while (at < length) {
    size_t size = frame_complete_size(bytes + at, length - at);
    if (size == 0) break;
    Message m;
    if (!message_from_frame(&m, bytes + at)) break;
    command_run_add(&run, &m);
    message_free(&m);
    at += size;
  }
  command_run_finish(&run);
  return at;
}

void command_run_stop() {
  Scheduler* s = &scheduler;
  std::unique_lock<std::mutex> hold(s->lock);
  if (s->worker.joinable()) {
    s->stopping = true;
    s->changed.notify_all();
    hold.unlock();
    s->worker.join();
    hold.lock();
    s->stopping = false;
  }
  if (!s->claimed)
    for (Task& t : s->tasks) point_list_free(&t.points);
}
