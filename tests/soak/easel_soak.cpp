// Convergence soak: several simulated users run the client's own frame (login,
// dispatch, reconciliation, stroke input) against a real easel-server on
// 127.0.0.1, with random strokes of all six tools, chat lines, restart votes,
// joins and leaves.
//
// Each user is a process of its own (the client's state is process-wide) with
// headless canvases. After every frame a user checks that LocalCanvas is
// ServerCanvas with its pending commands but chat lines replayed over it. At
// the end every user that stayed writes its ServerCanvas; they must all be
// identical to easel-render of the server's board file.
//
//   easel-soak --server PATH --render PATH [--users N] [--seconds S] [--seed K] [--keep]
#include <allegro.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/session.h"
#include "headless_client.h"
#include "net/command.h"
#include "net/layout.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "server_process.h"
#include "ui/chat_input.h"
#include "ui/colour_picker.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"
#include "ui/tool_table.h"

namespace {

constexpr int TOOLS = DRAWING_TYPE_COUNT;
// Rates per second of one user.
constexpr double STROKES_PER_SECOND = 5;
constexpr double CHATS_PER_SECOND = 0.5;
constexpr double RESTART_VOTES_PER_SECOND = 0.3;

struct Options {
  std::string server, render;
  int users = 4;
  double seconds = 10;
  unsigned seed = 1;
  bool keep = false;
};

// One simulated user: when it joins and leaves (seconds from the start), and
// whether it stays to the end and has its picture compared.
struct Plan {
  int index = 0;
  double join_at = 0, leave_at = 0;
  bool stays = false;
  unsigned seed = 0;
};

double now_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "easel-soak: ");
  vfprintf(stderr, format, args);
  fprintf(stderr, "\n");
  va_end(args);
}

bool same_picture(BITMAP* a, BITMAP* b) {
  if (!a || !b || a->w != b->w || a->h != b->h) return false;
  for (int y = 0; y < a->h; ++y) {
    // Identical words are identical pixels; only a row that differs is unpacked.
    if (memcmp(a->line[y], b->line[y], size_t(a->w) * 4) == 0) continue;
    for (int x = 0; x < a->w; ++x) {
      int p = getpixel(a, x, y), q = getpixel(b, x, y);
      if (getr32(p) != getr32(q) || getg32(p) != getg32(q) || getb32(p) != getb32(q)) return false;
    }
  }
  return true;
}

// ---- one simulated user (a child process) ----

struct User {
  Plan plan;
  std::mt19937 rng;
  long frames = 0, strokes = 0;
  BITMAP* expected = nullptr;
  // A stroke through the stroke input: the pointer wanders while the left
  // button is held for a number of frames.
  int gesture_frames = 0, x = 0, y = 0, buttons = 0;

  int pick(int n) { return int(rng() % unsigned(n)); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
  float in(SliderRange r) { return std::uniform_real_distribution<float>(r.low, r.high)(rng); }
};

// A stroke as the stroke input commits one, encoded directly: points wander
// over the picture and sometimes far past its edges, settings over any range.
bool commit_random_stroke(User* u) {
  int tool = u->pick(TOOLS);
  int n = u->chance(0.05) ? 255 : 1 + u->pick(30);
  int16_t xs[255], ys[255];
  int x = u->pick(CANVAS_WIDTH), y = u->pick(CANVAS_HEIGHT);
  int step = u->chance(0.1) ? 400 : 40;
  for (int i = 0; i < n; ++i) {
    xs[i] = int16_t(x);
    ys[i] = int16_t(y);
    x = std::min(std::max(x + u->pick(2 * step + 1) - step, -600), CANVAS_WIDTH + 600);
    y = std::min(std::max(y + u->pick(2 * step + 1) - step, -600), CANVAS_HEIGHT + 600);
  }
  float r = float(u->pick(256)), g = float(u->pick(256)), b = float(u->pick(256));
  float v1 = float(u->pick(4000)) / 100, v2 = float(u->pick(100000)) / 100;
  Message m;
  if (!encode_command(&m, COMMAND_LAYOUTS[tool], own_user_id, r, g, b, v1, v2, xs, ys, unsigned(n))) {
    fail("user %d: cannot encode a %s stroke", u->plan.index, COMMAND_LAYOUTS[tool].tool);
    return false;
  }
  apply_command(LocalCanvas, &m);
  if (link_submit(&m) == LINK_SENT) return true;
  fail("user %d: cannot send a stroke", u->plan.index);
  return false;
}

// Picks a drawing tool, a colour and settings as the panels would, and presses
// the left button on the picture.
void start_gesture(User* u) {
  drawing_tool = u->pick(TOOLS);  // the drawing tools lead the tool table
  for (float& c : current_rgb) c = float(u->pick(256));
  tool_settings = {u->in(PENCIL_SIZE_RANGE), u->in(BRUSH_SIZE_RANGE), u->in(BRUSH_VALUE2_RANGE),
                   u->in(CHALK_SIZE_RANGE),  u->in(SMUDGE_SIZE_RANGE), u->in(SMUDGE_VALUE2_RANGE),
                   u->in(STAMP_SIZE_RANGE),  u->in(STAMP_VALUE2_RANGE)};
  u->x = u->pick(CANVAS_WIDTH);
  u->y = u->pick(CANVAS_HEIGHT);
  u->gesture_frames = 2 + u->pick(40);
  u->buttons = MOUSE_LEFT;
}

// Between two frames: the gesture goes on (released on its last frame, when
// the stroke input commits it), or the user may start something new.
bool act(User* u, double dt) {
  if (u->gesture_frames > 0) {
    u->x += u->pick(41) - 20;
    u->y += u->pick(41) - 20;
    if (--u->gesture_frames == 0) u->buttons = 0;
    return true;
  }
  if (u->chance(STROKES_PER_SECOND * dt)) {
    u->strokes++;
    // Half through the stroke input, half encoded directly (long and far-reaching).
    if (!u->chance(0.5)) return commit_random_stroke(u);
    start_gesture(u);
  } else if (u->chance(CHATS_PER_SECOND * dt)) {
    char line[64];
    snprintf(line, sizeof line, "line %ld from soak%d", u->frames, u->plan.index);
    send_chat_line(line);
  } else if (u->chance(RESTART_VOTES_PER_SECOND * dt)) {
    run_chat_command("restart");
  }
  return true;
}

// One frame of the client with the user's pointer, then the invariant.
bool frame(User* u) {
  client_frame(FrameInput{0, u->buttons, u->x + ox, u->y + oy, false, false, false});
  u->frames++;
  if (!connected) {
    fail("user %d: disconnected", u->plan.index);
    return false;
  }
  blit(ServerCanvas, u->expected, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* m = queue_at(&command_queue, i);
    if (m->type != MSG_CHAT) apply_command(u->expected, m);
  }
  if (same_picture(u->expected, LocalCanvas)) return true;
  fail("user %d: LocalCanvas differs from ServerCanvas with the pending commands, frame %ld",
       u->plan.index, u->frames);
  return false;
}

// Pipes between the parent and the users who stay. Each user writes one byte
// to a "signal" pipe and closes its end; the parent releases them all at once
// by closing its end of a "wait" pipe.
//   finished: the user has stopped painting and the server accepted all it sent;
//   go:       everyone has finished, so nothing new will be sent;
//   saved:    the user's picture is on disk;
//   release:  the server is stopped, the users may end.
struct Barrier {
  int finished[2], go[2], saved[2], release[2];
} barrier;

// Sends one chat line and runs frames until the server has accepted everything
// we sent; a stroke in progress is released first.
bool settle(User* u, const char* line) {
  u->gesture_frames = 0;
  u->buttons = 0;
  send_chat_line(line);
  double give_up = now_seconds() + 60;
  while (queue_count(&command_queue) != 0) {
    if (!frame(u)) return false;
    if (now_seconds() > give_up) {
      fail("user %d: %u commands still pending", u->plan.index, queue_count(&command_queue));
      return false;
    }
    usleep(5000);
  }
  return true;
}

// Tells the parent, then blocks until it closes the wait pipe.
bool signal_and_wait(int signal_fd, int wait_fd) {
  bool sent = write(signal_fd, "s", 1) == 1;
  close(signal_fd);  // so that the parent sees the end if another user fails
  char byte;
  while (read(wait_fd, &byte, 1) > 0) {
  }
  close(wait_fd);
  return sent;
}

int run_user(const Plan& plan, int port, double start, double actions_end, const std::string& dir) {
  close(barrier.finished[0]);
  close(barrier.go[1]);
  close(barrier.saved[0]);
  close(barrier.release[1]);
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) return 1;
  set_color_depth(32);
  // Its own working directory: client.log, and no bg.bmp to change the paper.
  std::string home = dir + "/user" + std::to_string(plan.index);
  if (mkdir(home.c_str(), 0700) != 0 || chdir(home.c_str()) != 0) return 1;
  User u;
  u.plan = plan;
  u.rng.seed(plan.seed);
  memset(&config, 0, sizeof config);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = uint16_t(port);
  snprintf(config.user_name, sizeof config.user_name, "soak%d", plan.index);
  testsupport::start_headless_client(1024, 768);
  seedRandom(plan.seed);  // the local stream, as the client seeds it from the clock
  u.expected = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);

  std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(start + plan.join_at))));
  connect_and_login();
  if (!connected) {
    fail("user %d: cannot log in", plan.index);
    return 1;
  }
  double leave = std::min(start + plan.leave_at, actions_end);
  for (double last = now_seconds(), t; (t = now_seconds()) < leave; last = t) {
    if (!act(&u, t - last) || !frame(&u)) return 1;
    usleep(5000);
  }
  printf("user %d: %ld strokes, %ld frames each checked\n", plan.index, u.strokes, u.frames);
  fflush(stdout);
  if (!plan.stays) {
    session_disconnect("left %s:%d");
    return 0;
  }
  // Our last line is accepted only after everything we sent before it (votes
  // included) has been handled by the server.
  if (!settle(&u, "finished") || !signal_and_wait(barrier.finished[1], barrier.go[0])) return 1;
  // Everyone has finished. The server sends our acceptance of this line after
  // every frame it relayed to us before, so once it is in, our picture is final.
  if (!settle(&u, "saving")) return 1;
  if (!same_picture(LocalCanvas, ServerCanvas)) {
    fail("user %d: LocalCanvas differs from ServerCanvas with nothing pending", plan.index);
    return 1;
  }
  if (save_bmp((home + ".bmp").c_str(), ServerCanvas, nullptr) != 0) return 1;
  // Stay until the server is stopped: a leave recounts the restart votes, and a
  // restart passed then would empty the board under users still saving.
  return signal_and_wait(barrier.saved[1], barrier.release[0]) ? 0 : 1;
}

// ---- the parent: server, users, comparison ----

std::vector<Plan> make_plans(const Options& o) {
  std::mt19937 rng(o.seed);
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  std::vector<Plan> plans;
  int visitors = std::max(1, o.users / 2);
  for (int i = 0; i < o.users + visitors; ++i) {
    Plan p;
    p.index = i + 1;
    p.seed = unsigned(rng());
    p.stays = i < o.users;
    // The first user is there from the start; the others join while painting goes on.
    p.join_at = i == 0 ? 0 : uniform(0, o.seconds * 0.5);
    p.leave_at = p.stays ? o.seconds : p.join_at + uniform(0.1, 0.4) * o.seconds;
    plans.push_back(p);
  }
  return plans;
}

BITMAP* load_picture(const std::string& path) {
  set_color_conversion(COLORCONV_TOTAL);
  BITMAP* loaded = load_bmp(path.c_str(), nullptr);
  if (!loaded) return nullptr;
  BITMAP* out = create_bitmap_ex(32, loaded->w, loaded->h);
  blit(loaded, out, 0, 0, 0, 0, loaded->w, loaded->h);
  destroy_bitmap(loaded);
  return out;
}

// Reads one byte per user until all have signalled or every writer is gone.
void wait_for_users(int fd, int users) {
  int seen = 0;
  char byte;
  while (seen < users && read(fd, &byte, 1) == 1) seen++;
  close(fd);
}

int run_soak(const Options& o) {
  ServerProcess server;
  if (!server_process_open(&server, o.server)) return 2;
  if (!server_process_start(&server)) {
    fail("the server did not start; its log:\n%s", server_process_log(&server).c_str());
    server_process_close(&server);
    return 1;
  }
  const std::string dir = server.dir;
  std::vector<Plan> plans = make_plans(o);
  double start = now_seconds() + 0.2;
  if (pipe(barrier.finished) != 0 || pipe(barrier.go) != 0 || pipe(barrier.saved) != 0 ||
      pipe(barrier.release) != 0)
    return 2;
  std::vector<pid_t> children;
  for (const Plan& p : plans) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(run_user(p, server.port, start, start + o.seconds, dir));
    children.push_back(pid);
  }
  close(barrier.finished[1]);
  close(barrier.go[0]);
  close(barrier.saved[1]);
  close(barrier.release[0]);
  // Every user who stays has finished (or ended): let them drain and save.
  wait_for_users(barrier.finished[0], o.users);
  close(barrier.go[1]);
  // Every picture is saved: stop the server before anyone leaves.
  wait_for_users(barrier.saved[0], o.users);
  server_process_stop(&server);
  close(barrier.release[1]);
  int failures = 0;
  for (size_t i = 0; i < children.size(); ++i) {
    int status = 0;
    waitpid(children[i], &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fail("user %d ended with status %d", plans[i].index, status);
      failures++;
    }
  }
  std::string rendered = dir + "/render.bmp";
  std::string command = o.render + " " + server.board + " " + rendered + " > " + dir + "/render.log 2>&1";
  if (system(command.c_str()) != 0) {
    fail("easel-render failed; see %s/render.log", dir.c_str());
    failures++;
  }
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) return 2;
  set_color_depth(32);
  BITMAP* reference = load_picture(rendered);
  int equal = 0;
  for (const Plan& p : plans) {
    if (!p.stays) continue;
    BITMAP* picture = load_picture(dir + "/user" + std::to_string(p.index) + ".bmp");
    if (same_picture(picture, reference)) {
      equal++;
    } else {
      fail("user %d's ServerCanvas differs from the rendered board", p.index);
      failures++;
    }
    if (picture) destroy_bitmap(picture);
  }
  if (reference) destroy_bitmap(reference);
  printf("pictures equal to the rendered board: %d of %d\n", equal, o.users);
  if (failures == 0 && !o.keep)
    server_process_close(&server);
  else
    printf("files kept in %s\n", dir.c_str());
  printf(failures == 0 ? "converged\n" : "FAILED\n");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--server" && has_value) o.server = argv[++i];
    else if (a == "--render" && has_value) o.render = argv[++i];
    else if (a == "--users" && has_value) o.users = atoi(argv[++i]);
    else if (a == "--seconds" && has_value) o.seconds = atof(argv[++i]);
    else if (a == "--seed" && has_value) o.seed = unsigned(strtoul(argv[++i], nullptr, 10));
    else if (a == "--keep") o.keep = true;
    else o.users = 0;
  }
  if (o.server.empty() || o.render.empty() || o.users < 1 || o.seconds <= 0) {
    fprintf(stderr, "usage: easel-soak --server PATH --render PATH [--users N] [--seconds S] "
                    "[--seed K] [--keep]\n");
    return 2;
  }
  return run_soak(o);
}
END_OF_MAIN()
