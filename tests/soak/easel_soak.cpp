// Convergence soak: simulated users, each a process running the client's
// session core over the client's own connection, paint random strokes of every
// tool, chat, vote restarts, join and leave on a real easel-server on
// 127.0.0.1. At the end the ServerCanvas and LocalCanvas of every user who
// stayed must be, byte for byte, easel-render's picture of the server's board
// file (all by bmp_save).
//   easel-soak SERVER RENDER [USERS [SECONDS [SEED]]]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "app/connection.h"
#include "net/command.h"
#include "net/drawing_tools.h"
#include "net/layout.h"
#include "paint/bmp_file.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "server_process.h"
#include "session/board_session.h"

namespace {

std::mt19937 rng;
int pick(int n) { return int(rng() % unsigned(n)); }
bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }

double now_seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int fail(int user, const char* what) {
  fprintf(stderr, "easel-soak: user %d: %s\n", user, what);
  return 1;
}

int me;           // the user this process runs, from 1
int users;        // the users who stay to the end; those after them are visitors
std::string dir;  // the server's directory, where the users keep their files
BoardSession session;
Connection connection;

double wall_clock() { return double(time(nullptr)); }

// A stroke as the client commits one, but long and far-reaching: points wander
// past the picture's edges, settings over any range.
bool commit_random_stroke() {
  int n = chance(0.05) ? 255 : 1 + pick(30);
  int16_t xs[255], ys[255];
  int x = pick(CANVAS_WIDTH), y = pick(CANVAS_HEIGHT), step = chance(0.1) ? 400 : 40;
  for (int i = 0; i < n; ++i) {
    xs[i] = int16_t(x);
    ys[i] = int16_t(y);
    x = std::min(std::max(x + pick(2 * step + 1) - step, -600), CANVAS_WIDTH + 600);
    y = std::min(std::max(y + pick(2 * step + 1) - step, -600), CANVAS_HEIGHT + 600);
  }
  float r = float(pick(256)), g = float(pick(256)), b = float(pick(256));
  float v1 = float(pick(4000)) / 100, v2 = float(pick(100000)) / 100;
  Message m;
  if (!encode_command(&m, DRAWING_TOOLS[pick(DRAWING_TYPE_COUNT)].layout, session.own_user_id, r, g, b, v1, v2,
                      xs, ys, unsigned(n)))
    return !fail(me, "cannot encode a stroke");
  return board_session_submit(&session, &m) == SUBMIT_SENT || !fail(me, "cannot send a stroke");
}

bool say(const char* line) {
  Message m;
  message_init(&m, MSG_CHAT);
  message_put_byte(&m, session.own_user_id);
  message_put_string(&m, line);
  return board_session_submit(&session, &m) == SUBMIT_SENT || !fail(me, "cannot send a line");
}

bool vote_restart() {
  Message m;
  message_init(&m, MSG_RESTART);
  message_put_byte(&m, 1);
  return board_session_send(&session, &m) || !fail(me, "cannot vote");
}

// Between two frames a user paints 5 strokes a second, says 0.5 lines and
// votes 0.3 times to restart.
bool act(double dt) {
  if (chance(5 * dt)) return commit_random_stroke();
  if (chance(0.5 * dt)) return say("a line from the soak");
  if (chance(0.3 * dt)) return vote_restart();
  return true;
}

// The client's network step: one poll of the socket, then the session's step.
void step() {
  board_frame_start(&session, time(nullptr));
  if (!session.connected) return;
  if (!connection_poll(&connection, &session.outgoing, &session.incoming)) {
    connection_close(&connection);
    board_session_disconnect(&session, LINK_LOST);
    return;
  }
  board_session_step(&session, wall_clock, double(session.now) + 1);
}

bool frame() {
  step();
  return session.connected || !fail(me, "disconnected");
}

// Sends a chat line and runs frames until the server has accepted everything we sent.
bool settle(const char* line) {
  if (!say(line)) return false;
  for (double give_up = now_seconds() + 60; queue_count(&session.command_queue) != 0; usleep(5000))
    if (!frame() || now_seconds() > give_up) return !fail(me, "commands still pending");
  return true;
}

std::string user_path(int index, const char* suffix) {
  return dir + "/user" + std::to_string(index) + suffix;
}

// True once every user who stays has left its file with this suffix.
bool all_have(const char* suffix) {
  for (int i = 1; i <= users; ++i)
    if (access(user_path(i, suffix).c_str(), F_OK) != 0) return false;
  return true;
}

int run_user(unsigned seed, double join, double leave, int port) {
  // Its own working directory, for client.log.
  std::string home = user_path(me, "");
  if (mkdir(home.c_str(), 0700) != 0 || chdir(home.c_str()) != 0) return fail(me, "no directory");
  rng.seed(seed);
  if (!board_session_open(&session)) return fail(me, "no pictures");
  seedRandom(seed);  // the local stream, as the client seeds it from the clock
  usleep(useconds_t(std::max(0.0, join - now_seconds()) * 1e6));
  char name[16];
  snprintf(name, sizeof name, "soak%d", me);
  if (!connection_open(&connection, "127.0.0.1", uint16_t(port)) ||
      !board_session_login(&session, name, "127.0.0.1", uint16_t(port)))
    return fail(me, "cannot log in");
  for (double last = now_seconds(), t; (t = now_seconds()) < leave; last = t, usleep(5000))
    if (!act(t - last) || !frame()) return 1;
  if (me > users) return 0;  // a visitor
  // Our "finished" is accepted after everything we sent (votes included); once
  // every user's is, the acceptance of our next line comes after every frame
  // relayed to us, so our picture is final.
  if (!settle("finished")) return 1;
  std::ofstream(home + ".finished").close();
  for (double give_up = now_seconds() + 60; !all_have(".finished"); usleep(5000))
    if (!frame() || now_seconds() > give_up) return fail(me, "the others did not finish");
  if (!settle("saving") || !bmp_save(&session.ServerCanvas, (home + "-server.bmp").c_str()) ||
      !bmp_save(&session.LocalCanvas, (home + "-local.bmp").c_str()))
    return fail(me, "not saved");
  // Stay until the server stops: a leave recounts the restart votes, and a
  // restart passed then would empty the board before it is rendered.
  for (double give_up = now_seconds() + 60; session.connected && now_seconds() < give_up; usleep(5000)) step();
  return session.connected ? fail(me, "the server did not stop") : 0;
}

}  // namespace

int main(int argc, char** argv) {
  users = argc > 3 ? atoi(argv[3]) : 4;
  double seconds = argc > 4 ? atof(argv[4]) : 10;
  unsigned seed = argc > 5 ? unsigned(strtoul(argv[5], nullptr, 10)) : 1;
  if (argc < 3 || argc > 6 || users < 1 || seconds <= 0) {
    fprintf(stderr, "usage: easel-soak SERVER RENDER [USERS [SECONDS [SEED]]]\n");
    return 2;
  }
  ServerProcess server;
  if (!server_process_open(&server, argv[1]) || !server_process_start(&server, {"--trust", "127.0.0.0/8"})) {
    fprintf(stderr, "easel-soak: the server did not start\n");
    return 1;
  }
  // The first user is there from the start; the others, and half as many
  // visitors who leave again, join while painting goes on.
  std::mt19937 plan(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  dir = server.dir;
  double start = now_seconds() + 0.2;
  for (me = 1; me <= users + std::max(1, users / 2); ++me) {
    unsigned user_seed = unsigned(plan());
    double join = me == 1 ? 0 : unit(plan) * seconds * 0.5;
    double leave = me <= users ? seconds : join + (0.1 + unit(plan) * 0.3) * seconds;
    fflush(nullptr);
    if (fork() == 0) _exit(run_user(user_seed, start + join, start + leave, server.port));
  }
  // Once every user who stays saved its canvases (the local one last), the
  // server stops, which ends them.
  while (!all_have("-local.bmp") && now_seconds() < start + seconds + 120) usleep(10000);
  server_process_stop(&server);
  int failures = 0;
  for (int status = 0; wait(&status) > 0;) failures += status != 0;  // each says why itself
  std::string rendered = server.dir + "/render.bmp";
  if (system((std::string(argv[2]) + " " + server.board + " " + rendered).c_str()) != 0) failures++;
  for (int i = 1; i <= users; ++i)
    for (const char* canvas : {"-server.bmp", "-local.bmp"})
      if (system(("cmp -s " + rendered + " " + user_path(i, canvas)).c_str()) != 0)
        failures += fail(i, "a canvas differs from the rendered board");
  if (failures > 0) {
    printf("FAILED: files kept in %s\n", server.dir.c_str());
    return 1;
  }
  server_process_close(&server);
  printf("converged\n");
  return 0;
}
