// Convergence soak: simulated users run the client's own frame against a real
// easel-server on 127.0.0.1 with random strokes of every tool, chat lines,
// restart votes, joins and leaves. Each user is a process of its own (the
// client's state is process-wide). At the end the ServerCanvas of every user
// who stayed must be its LocalCanvas and easel-render's picture of the
// server's board file, byte for byte (both are written by save_bmp).
//
//   easel-soak --server PATH --render PATH [--users N] [--seconds S] [--seed K]
#include <allegro.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

#include "headless_client.h"
#include "net/command.h"
#include "net/layout.h"
#include "paint/canvas.h"
#include "paint/random.h"
#include "server_process.h"
#include "ui/chat_input.h"

namespace {

// Rates per second of one user.
constexpr double STROKES_PER_SECOND = 5;
constexpr double CHATS_PER_SECOND = 0.5;
constexpr double RESTART_VOTES_PER_SECOND = 0.3;

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

struct User {
  int index = 0;
  double join_at = 0, leave_at = 0;
  bool stays = false;
  unsigned seed = 0;
};

// A stroke as the client commits one, but long and far-reaching: points wander
// past the picture's edges, settings over any range.
bool commit_random_stroke(User* u) {
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
  if (!encode_command(&m, COMMAND_LAYOUTS[pick(DRAWING_TYPE_COUNT)], own_user_id, r, g, b, v1, v2,
                      xs, ys, unsigned(n)))
    return !fail(u->index, "cannot encode a stroke");
  apply_command(LocalCanvas, &m);
  return link_submit(&m) == LINK_SENT || !fail(u->index, "cannot send a stroke");
}

// Between two frames the user may paint, chat or vote.
bool act(User* u, double dt) {
  if (chance(STROKES_PER_SECOND * dt)) return commit_random_stroke(u);
  if (chance(CHATS_PER_SECOND * dt)) send_chat_line("a line from the soak");
  else if (chance(RESTART_VOTES_PER_SECOND * dt)) run_chat_command("restart");
  return true;
}

bool frame(User* u) {
  client_frame(FrameInput{});
  return connected || !fail(u->index, "disconnected");
}

// Sends a chat line and runs frames until the server has accepted everything we sent.
bool settle(User* u, const char* line) {
  send_chat_line(line);
  for (double give_up = now_seconds() + 60; queue_count(&command_queue) != 0; usleep(5000))
    if (!frame(u) || now_seconds() > give_up) return !fail(u->index, "commands still pending");
  return true;
}

// Pipes between the parent and the users who stay. A user writes a byte to a
// "tell" pipe and closes its end (so the parent also sees the end of a user
// who failed), then blocks until the parent closes its end of the next pipe.
//   FINISHED: the user stopped painting and the server accepted all it sent;
//   GO: everyone finished; SAVED: the picture is on disk; RELEASE: the server is stopped.
enum { FINISHED, GO, SAVED, RELEASE };
int pipes[4][2];

bool tell_and_wait(int tell) {
  bool told = write(pipes[tell][1], "s", 1) == 1;
  close(pipes[tell][1]);
  char byte;
  while (read(pipes[tell + 1][0], &byte, 1) > 0) {
  }
  return told;
}

int run_user(User* u, int port, double start, double actions_end, const std::string& dir) {
  for (int p = 0; p < 4; p++) close(pipes[p][p % 2 == 0 ? 0 : 1]);
  if (install_allegro(SYSTEM_NONE, &errno, atexit) != 0) return 1;
  set_color_depth(32);
  // Its own working directory: client.log, and no bg.bmp to change the paper.
  std::string home = dir + "/user" + std::to_string(u->index);
  if (mkdir(home.c_str(), 0700) != 0 || chdir(home.c_str()) != 0) return 1;
  rng.seed(u->seed);
  memset(&config, 0, sizeof config);
  strcpy(config.server_name, "127.0.0.1");
  config.server_port = uint16_t(port);
  snprintf(config.user_name, sizeof config.user_name, "soak%d", u->index);
  testsupport::start_headless_client(1024, 768);
  seedRandom(u->seed);  // the local stream, as the client seeds it from the clock
  std::this_thread::sleep_for(std::chrono::duration<double>(start + u->join_at - now_seconds()));
  connect_and_login();
  if (!connected) return fail(u->index, "cannot log in");
  double leave = std::min(start + u->leave_at, actions_end);
  for (double last = now_seconds(), t; (t = now_seconds()) < leave; last = t, usleep(5000))
    if (!act(u, t - last) || !frame(u)) return 1;
  if (!u->stays) return 0;
  // Our last line is accepted only after everything we sent before it (votes
  // included) was handled; once everyone finished, the acceptance of the next
  // line comes after every frame relayed to us, so our picture is final.
  if (!settle(u, "finished") || !tell_and_wait(FINISHED) || !settle(u, "saving")) return 1;
  if (save_bmp((home + "-server.bmp").c_str(), ServerCanvas, nullptr) != 0 ||
      save_bmp((home + "-local.bmp").c_str(), LocalCanvas, nullptr) != 0)
    return 1;
  // Stay until the server is stopped: a leave recounts the restart votes, and a
  // restart passed then would empty the board before it is rendered.
  return tell_and_wait(SAVED) ? 0 : 1;
}

// Reads one byte per user until all have told or every writer is gone.
void wait_for_users(int tell, int users) {
  char byte;
  for (int seen = 0; seen < users && read(pipes[tell][0], &byte, 1) == 1;) seen++;
}

std::string file_text(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

int run_soak(const std::string& server_path, const std::string& render, int users,
             double seconds, unsigned seed) {
  ServerProcess server;
  if (!server_process_open(&server, server_path) || !server_process_start(&server)) {
    fprintf(stderr, "easel-soak: the server did not start\n");
    return 1;
  }
  // The first user is there from the start; the others and half as many
  // visitors join while painting goes on.
  std::mt19937 plan_rng(seed);
  auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(plan_rng);
  };
  std::vector<User> plans(size_t(users + std::max(1, users / 2)));
  for (size_t i = 0; i < plans.size(); ++i) {
    User& p = plans[i];
    p.index = int(i) + 1;
    p.seed = unsigned(plan_rng());
    p.stays = int(i) < users;
    p.join_at = i == 0 ? 0 : uniform(0, seconds * 0.5);
    p.leave_at = p.stays ? seconds : p.join_at + uniform(0.1, 0.4) * seconds;
  }
  for (auto& p : pipes)
    if (pipe(p) != 0) return 2;
  double start = now_seconds() + 0.2;
  std::vector<pid_t> children;
  for (User& p : plans) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(run_user(&p, server.port, start, start + seconds, server.dir));
    children.push_back(pid);
  }
  for (int p = 0; p < 4; p++) close(pipes[p][p % 2 == 0 ? 1 : 0]);
  wait_for_users(FINISHED, users);
  close(pipes[GO][1]);
  wait_for_users(SAVED, users);
  server_process_stop(&server);
  close(pipes[RELEASE][1]);
  int failures = 0;
  for (size_t i = 0; i < children.size(); ++i) {
    int status = 0;
    waitpid(children[i], &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failures += fail(int(i) + 1, "failed");
  }
  std::string rendered = server.dir + "/render.bmp";
  if (system((render + " " + server.board + " " + rendered).c_str()) != 0) failures++;
  std::string reference = file_text(rendered);
  for (int i = 1; i <= users; ++i)
    for (const char* canvas : {"server", "local"})
      if (reference.empty() ||
          file_text(server.dir + "/user" + std::to_string(i) + "-" + canvas + ".bmp") != reference)
        failures += fail(i, "a canvas differs from the rendered board");
  if (failures > 0) {
    printf("FAILED: files kept in %s\n", server.dir.c_str());
    return 1;
  }
  server_process_close(&server);
  printf("converged\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server, render;
  int users = 4;
  double seconds = 10;
  unsigned seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--server") server = argv[i + 1];
    else if (a == "--render") render = argv[i + 1];
    else if (a == "--users") users = atoi(argv[i + 1]);
    else if (a == "--seconds") seconds = atof(argv[i + 1]);
    else if (a == "--seed") seed = unsigned(strtoul(argv[i + 1], nullptr, 10));
    else users = 0;
  }
  if (server.empty() || render.empty() || users < 1 || seconds <= 0 || argc % 2 == 0) {
    fprintf(stderr, "usage: easel-soak --server PATH --render PATH [--users N] [--seconds S] "
                    "[--seed K]\n");
    return 2;
  }
  return run_soak(server, render, users, seconds, seed);
}
END_OF_MAIN()
