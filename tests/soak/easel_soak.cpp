// Convergence soak: several simulated users run the client's own login,
// dispatch and reconciliation against a real easel-server on 127.0.0.1, with
// random strokes of all six tools, chat lines, restart votes, joins and leaves.
//
// Each user is a process of its own (the client's state is process-wide) with
// headless canvases. After every frame a user checks that LocalCanvas is
// ServerCanvas with its pending commands but chat lines replayed over it. At
// the end every user that stayed writes its ServerCanvas; they must all be
// identical, and identical to easel-render of the server's board file.
//
//   easel-soak --server PATH --render PATH [--users N] [--seconds S] [--seed K] [--keep]
#include <allegro.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/client.h"
#include "app/config.h"
#include "app/session.h"
#include "headless_client.h"
#include "net/command.h"
#include "net/command_queue.h"
#include "net/layout.h"
#include "net/message.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "paint/random.h"
#include "ui/chat_input.h"
#include "ui/chat_log.h"
#include "ui/roster.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/tool_settings.h"
#include "ui/toolbar.h"

namespace {

constexpr int SOAK_SCREEN_W = 1024;
constexpr int SOAK_SCREEN_H = 768;
constexpr int TOOLS = 6;
const char* const TOOL_NAMES[TOOLS] = {"pen", "pencil", "brush", "chalk", "smudge", "stamp"};

struct Options {
  std::string server;
  std::string render;
  int users = 4;
  double seconds = 10;
  unsigned seed = 1;
  bool keep = false;
};

// What one simulated user does: when it joins and leaves (seconds from the
// start), and whether it stays to the end and has its picture compared.
struct Plan {
  int index = 0;
  double join_at = 0;
  double leave_at = 0;
  bool stays = false;
  unsigned seed = 0;
};

struct Stats {
  long frames = 0;
  long strokes[TOOLS] = {};   // encoded directly, any shape
  long gestures[TOOLS] = {};  // drawn through the stroke input, frame by frame
  long chats = 0;
  long restart_votes = 0;
  long invariant_checks = 0;
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

bool rows_equal(BITMAP* a, BITMAP* b) {
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

// A stroke drawn with the stroke input: the pointer moves a little every frame
// while the left button is held, for a number of frames.
struct Gesture {
  int frames_left = 0;
  int x = 0, y = 0;  // the pointer on the picture
  int buttons = 0;   // held in the next frame
  int tool = 0;
};

struct User {
  Plan plan;
  std::mt19937 rng;
  Stats stats;
  BITMAP* expected = nullptr;
  Gesture gesture;

  int pick(int n) { return int(rng() % unsigned(n)); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
};

void set_up_client(const Plan& plan, int port) {
  memset(&config, 0, sizeof config);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = uint16_t(port);
  snprintf(config.user_name, sizeof config.user_name, "soak%d", plan.index);
  testsupport::start_headless_client(SOAK_SCREEN_W, SOAK_SCREEN_H);
  seedRandom(plan.seed);  // the local stream, as the client seeds it from the clock
}

// A stroke as the stroke input commits one: encoded, drawn into LocalCanvas,
// sent and queued. Points wander over the picture and sometimes well past its
// edges; sizes and settings cover their whole ranges.
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
  if (!encode_command(&m, COMMAND_LAYOUTS[tool], own_user_id, r, g, b, v1, v2, xs, ys,
                      unsigned(n))) {
    fail("user %d: cannot encode a %s stroke", u->plan.index, TOOL_NAMES[tool]);
    return false;
  }
  apply_command(LocalCanvas, &m);
  if (link_submit(&m) != LINK_SENT) {
    fail("user %d: cannot send a stroke", u->plan.index);
    return false;
  }
  u->stats.strokes[tool]++;
  return true;
}

float uniform_in(User* u, SliderRange range) {
  return std::uniform_real_distribution<float>(range.low, range.high)(u->rng);
}

// Picks a tool, a colour and settings as the panels would, and presses the
// left button on the picture.
void start_gesture(User* u) {
  static const int tools[TOOLS] = {TOOL_PEN, TOOL_PENCIL, TOOL_BRUSH, TOOL_CHALK, TOOL_SMUDGE, TOOL_STAMP};
  Gesture& g = u->gesture;
  g.tool = u->pick(TOOLS);
  drawing_tool = tools[g.tool];
  for (float& c : current_rgb) c = float(u->pick(256));
  tool_settings.pencil_size = uniform_in(u, PENCIL_SIZE_RANGE);
  tool_settings.brush_size = uniform_in(u, BRUSH_SIZE_RANGE);
  tool_settings.brush_value2 = uniform_in(u, BRUSH_VALUE2_RANGE);
  tool_settings.chalk_size = uniform_in(u, CHALK_SIZE_RANGE);
  tool_settings.smudge_size = uniform_in(u, SMUDGE_SIZE_RANGE);
  tool_settings.smudge_value2 = uniform_in(u, SMUDGE_VALUE2_RANGE);
  tool_settings.stamp_size = uniform_in(u, STAMP_SIZE_RANGE);
  tool_settings.stamp_value2 = uniform_in(u, STAMP_VALUE2_RANGE);
  g.x = u->pick(CANVAS_WIDTH);
  g.y = u->pick(CANVAS_HEIGHT);
  g.frames_left = 2 + u->pick(40);
  g.buttons = MOUSE_LEFT;
}

// One frame of the gesture: the pointer moves on; on its last frame the
// button is released and the stroke input commits the stroke.
void continue_gesture(User* u) {
  Gesture& g = u->gesture;
  g.x += u->pick(41) - 20;
  g.y += u->pick(41) - 20;
  if (--g.frames_left > 0) return;
  g.buttons = 0;
  u->stats.gestures[g.tool]++;
}

// LocalCanvas must be ServerCanvas with every pending command but chat lines
// drawn over it, oldest first.
bool invariant_holds(User* u) {
  blit(ServerCanvas, u->expected, 0, 0, 0, 0, CANVAS_WIDTH, CANVAS_HEIGHT);
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* m = queue_at(&command_queue, i);
    if (m->type != MSG_CHAT) apply_command(u->expected, m);
  }
  u->stats.invariant_checks++;
  return rows_equal(u->expected, LocalCanvas);
}

bool act(User* u, double dt);

// One frame of the client: the user's input (the gesture's pointer and button,
// or an action taken between frames), then the client's own frame; the
// invariant is checked at the end.
bool frame(User* u, bool acting, double dt) {
  if (acting && !act(u, dt)) return false;
  if (!acting && u->gesture.frames_left > 0) {
    // Painting has stopped: the stroke in progress is finished now.
    u->gesture.frames_left = 1;
    continue_gesture(u);
  }
  const Gesture& g = u->gesture;
  client_frame(FrameInput{0, g.buttons, g.x + ox, g.y + oy, false, false, false});
  u->stats.frames++;
  if (!connected) {
    fail("user %d: disconnected", u->plan.index);
    return false;
  }
  if (!invariant_holds(u)) {
    fail("user %d: LocalCanvas differs from ServerCanvas with the pending commands, frame %ld",
         u->plan.index, u->stats.frames);
    return false;
  }
  return true;
}

// Rates per second of one user; dt is the time since its last frame.
constexpr double STROKES_PER_SECOND = 5;
constexpr double CHATS_PER_SECOND = 0.5;
constexpr double RESTART_VOTES_PER_SECOND = 0.3;

bool act(User* u, double dt) {
  if (u->gesture.frames_left > 0) {
    continue_gesture(u);
    return true;
  }
  if (u->chance(STROKES_PER_SECOND * dt)) {
    // Half through the stroke input, half encoded directly (long and far-reaching).
    if (u->chance(0.5)) {
      start_gesture(u);
      return true;
    }
    return commit_random_stroke(u);
  }
  if (u->chance(CHATS_PER_SECOND * dt)) {
    char line[64];
    snprintf(line, sizeof line, "line %ld from soak%d", u->stats.frames, u->plan.index);
    send_chat_line(line);
    u->stats.chats++;
  } else if (u->chance(RESTART_VOTES_PER_SECOND * dt)) {
    run_chat_command("restart");
    u->stats.restart_votes++;
  }
  return true;
}

void write_stats(const std::string& path, const Stats& s) {
  std::ofstream out(path);
  out << s.frames << ' ' << s.chats << ' ' << s.restart_votes << ' ' << s.invariant_checks;
  for (long n : s.strokes) out << ' ' << n;
  for (long n : s.gestures) out << ' ' << n;
  out << '\n';
}

// Pipes between the parent and the users who stay. Each user writes one byte
// to a "signal" pipe and closes its end; the parent releases them all at once by
// closing its end of a "wait" pipe.
//   finished: the user has stopped painting and the server accepted all it sent;
//   go:       everyone has finished, so nothing new will be sent;
//   saved:    the user's picture is on disk;
//   release:  the server is stopped, the users may end.
struct Barrier {
  int finished[2];
  int go[2];
  int saved[2];
  int release[2];
};
Barrier barrier;

// Sends one chat line and runs frames until the server has accepted
// everything we sent.
bool settle(User* u, const char* line) {
  send_chat_line(line);
  double give_up = now_seconds() + 60;
  while (queue_count(&command_queue) != 0) {
    if (!frame(u, false, 0)) return false;
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
  set_up_client(plan, port);
  u.expected = create_bitmap_ex(32, CANVAS_WIDTH, CANVAS_HEIGHT);

  std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(start + plan.join_at))));
  connect_and_login();
  if (!connected) {
    fail("user %d: cannot log in", plan.index);
    return 1;
  }
  double leave = start + plan.leave_at;
  double last = now_seconds();
  while (last < std::min(leave, actions_end)) {
    double t = now_seconds();
    if (!frame(&u, true, t - last)) return 1;
    last = t;
    usleep(5000);
  }
  if (!plan.stays) {
    write_stats(home + ".stats", u.stats);
    session_disconnect("left %s:%d");
    return 0;
  }
  // Our last line is accepted only after everything we sent before it (votes
  // included) has been handled by the server.
  if (!settle(&u, "finished") || !signal_and_wait(barrier.finished[1], barrier.go[0])) return 1;
  // Everyone has finished. The server sends our acceptance of this line after
  // every frame it relayed to us before, so once it is in, our picture is final.
  if (!settle(&u, "saving")) return 1;
  if (!rows_equal(LocalCanvas, ServerCanvas)) {
    fail("user %d: LocalCanvas differs from ServerCanvas with nothing pending", plan.index);
    return 1;
  }
  if (save_bmp((home + ".bmp").c_str(), ServerCanvas, nullptr) != 0) return 1;
  write_stats(home + ".stats", u.stats);
  // Stay until the server is stopped: a leave recounts the restart votes, and a
  // restart passed then would empty the board under users still saving.
  if (!signal_and_wait(barrier.saved[1], barrier.release[0])) return 1;
  return 0;
}

// ---- the parent: server, users, comparison ----

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t start_server(const Options& o, const std::string& dir, int* port) {
  std::string log = dir + "/server.log";
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) _exit(127);
    dup2(fd, 1);
    dup2(fd, 2);
    std::string board = dir + "/board.easel";
    execl(o.server.c_str(), o.server.c_str(), "--port", "0", "--bind", "127.0.0.1", "--board",
          board.c_str(), (char*)nullptr);
    _exit(127);
  }
  for (int i = 0; i < 500 && pid > 0; ++i) {
    std::string text = read_text(log);
    size_t at = text.find("listening on ");
    if (at != std::string::npos) {
      size_t end = text.find('\n', at);
      size_t colon = text.rfind(':', end);
      if (colon != std::string::npos && colon > at && end != std::string::npos) {
        *port = atoi(text.c_str() + colon + 1);
        if (*port > 0) return pid;
      }
    }
    usleep(10000);
  }
  fail("the server did not start; its log:\n%s", read_text(log).c_str());
  if (pid > 0) kill(pid, SIGKILL);
  return -1;
}

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

bool same_picture(BITMAP* a, BITMAP* b) {
  return a && b && a->w == b->w && a->h == b->h && rows_equal(a, b);
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
  char pattern[] = "/tmp/easel-soak-XXXXXX";
  if (!mkdtemp(pattern)) return 2;
  std::string dir = pattern;
  int port = 0;
  pid_t server = start_server(o, dir, &port);
  if (server < 0) return 1;

  std::vector<Plan> plans = make_plans(o);
  double start = now_seconds() + 0.2;
  double actions_end = start + o.seconds;
  std::vector<pid_t> children;
  if (pipe(barrier.finished) != 0 || pipe(barrier.go) != 0 || pipe(barrier.saved) != 0 ||
      pipe(barrier.release) != 0)
    return 2;
  for (const Plan& p : plans) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(run_user(p, port, start, actions_end, dir));
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
  kill(server, SIGTERM);
  int server_status = 0;
  waitpid(server, &server_status, 0);
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
  std::string command = o.render + " " + dir + "/board.easel " + rendered + " > " + dir +
                        "/render.log 2>&1";
  if (system(command.c_str()) != 0) {
    fail("easel-render failed: %s", read_text(dir + "/render.log").c_str());
    failures++;
  }

  Stats total;
  int joined = 0, left = 0;
  for (const Plan& p : plans) {
    std::ifstream in(dir + "/user" + std::to_string(p.index) + ".stats");
    Stats s;
    if (!(in >> s.frames >> s.chats >> s.restart_votes >> s.invariant_checks)) continue;
    for (long& n : s.strokes) in >> n;
    for (long& n : s.gestures) in >> n;
    total.frames += s.frames;
    total.chats += s.chats;
    total.restart_votes += s.restart_votes;
    total.invariant_checks += s.invariant_checks;
    for (int t = 0; t < TOOLS; ++t) {
      total.strokes[t] += s.strokes[t];
      total.gestures[t] += s.gestures[t];
    }
    if (p.join_at > 0) joined++;
    if (!p.stays) left++;
  }

  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) return 2;
  set_color_depth(32);
  BITMAP* reference = load_picture(rendered);
  int compared = 0;
  for (const Plan& p : plans) {
    if (!p.stays) continue;
    BITMAP* picture = load_picture(dir + "/user" + std::to_string(p.index) + ".bmp");
    if (!same_picture(picture, reference)) {
      fail("user %d's ServerCanvas differs from the rendered board", p.index);
      failures++;
    } else {
      compared++;
    }
    if (picture) destroy_bitmap(picture);
  }
  if (reference) destroy_bitmap(reference);
  std::string log = read_text(dir + "/server.log");
  int restarts = 0;
  for (size_t at = log.find("restart:"); at != std::string::npos; at = log.find("restart:", at + 1))
    restarts++;

  long strokes = 0;
  for (int t = 0; t < TOOLS; ++t) {
    total.strokes[t] += total.gestures[t];
    strokes += total.strokes[t];
  }
  long gestures = 0;
  for (long n : total.gestures) gestures += n;
  printf("users %zu (%d stayed, %d joined late, %d left early), %.0f s of painting\n",
         plans.size(), o.users, joined, left, o.seconds);
  printf("strokes %ld, %ld of them through the stroke input (pen %ld, pencil %ld, brush %ld, "
         "chalk %ld, smudge %ld, stamp %ld), chat lines %ld, restart votes %ld, restarts %d\n",
         strokes, gestures, total.strokes[0], total.strokes[1], total.strokes[2], total.strokes[3],
         total.strokes[4], total.strokes[5], total.chats, total.restart_votes, restarts);
  printf("frames %ld, invariant checks %ld, pictures equal to the rendered board: %d of %d\n",
         total.frames, total.invariant_checks, compared, o.users);
  if (failures == 0 && !o.keep) {
    std::string rm = "rm -rf " + dir;
    if (system(rm.c_str()) != 0) fail("cannot remove %s", dir.c_str());
  } else {
    printf("files kept in %s\n", dir.c_str());
  }
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
    else {
      fprintf(stderr,
              "usage: easel-soak --server PATH --render PATH [--users N] [--seconds S] "
              "[--seed K] [--keep]\n");
      return 2;
    }
  }
  if (o.server.empty() || o.render.empty() || o.users < 1 || o.seconds <= 0) {
    fprintf(stderr, "easel-soak: --server and --render are needed\n");
    return 2;
  }
  return run_soak(o);
}
END_OF_MAIN()
