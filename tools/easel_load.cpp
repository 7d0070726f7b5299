// easel-load: connects N users to an easel-server on the loopback interface,
// paints realistic strokes at a steady rate for a bounded time, and reports
// how many relayed frames per second the users received and how long the
// acknowledgements of their own strokes took, and what the commands reaching
// one client cost it to draw. Browser users on the server's WebSocket may
// paint beside them (web_load.h). With --resume the users take their
// sessions up again whenever a link ends (net/resume.h) and can write down
// every stroke they drew, so that a test finds each on the board.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "net/command.h"
#include "net/drawing_tools.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "net/resume.h"
#include "net/wire_limits.h"
#include "paint/canvas.h"
#include "server_process.h"
#include "web_load.h"

static double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct LoadOptions {
  int clients = 10;
  double seconds = 10;
  double rate = 5;   // strokes per second per user; 0: as fast as acknowledged
  int window = 8;    // strokes in flight per user when rate is 0
  int flooders = 0;  // users that send as fast as acknowledged whatever the rate
  bool dear = false;  // the flooders send the dearest legal commands
  std::string host = "127.0.0.1";
  int port = 2020;
  std::string server;  // path of an easel-server to start for the run
  uint32_t seed = 1;
  int web_clients = 0;  // browser users on the WebSocket, painting at the rate
  int http_port = 0;    // the server's --http port when it is not started here
  bool resume = false;  // the users resume their sessions when a link ends
  std::string log;      // with resume: every stroke drawn and every one dropped
};

struct Random {
  uint32_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  int range(int low, int high) { return low + int(next() % uint32_t(high - low + 1)); }
};

// A stroke drawn and not seen accepted yet (--resume): sent, or to be sent.
struct Held {
  std::vector<uint8_t> frame;
  long sequence;
};

struct User {
  int fd = -1;
  int id = 0;
  bool logged_in = false;
  // --resume: the session, what is held of it, and the link's state.
  bool has_token = false, resumed = false, gone = false;
  uint8_t token[RESUME_TOKEN_SIZE];
  uint32_t acked = 0;      // the session's messages seen accepted
  std::deque<Held> held;   // in the order drawn; in_flight keeps their times
  long drawn = 0;          // strokes drawn so far: the next one's sequence
  double reconnect_at = 0, backoff = 0;
  double linked_at = 0;    // when the present link was made
  bool await_first = false;  // the first acceptance of a held stroke on this link is timed
  bool joined = false;       // logged in once
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;
  std::deque<double> in_flight;  // send times of strokes not yet acknowledged
  bool flooder = false;
  double next_send = 0;
  long sent = 0, acknowledged = 0;
};

// A stroke as the client's tools make them: one of the six tools, a colour,
// its settings, and 20 to 150 points of a wandering hand on the picture.
static std::vector<uint8_t> make_stroke(Random* random, int user_id) {
  const CommandLayout& layout = DRAWING_TOOLS[random->next() % DRAWING_TYPE_COUNT].layout;
  Message m;
  message_init(&m, layout.type);
  message_put_byte(&m, user_id);
  if (layout.seeded) message_put_int(&m, random->next());
  if (layout.coloured)
    for (int i = 0; i < 3; i++) message_put_byte(&m, random->range(0, 255));
  if (layout.values >= 1) message_put_scaled(&m, random->range(1, 40));
  if (layout.values >= 2) message_put_scaled(&m, random->range(0, 400));
  int points = random->range(20, 150);
  int x = random->range(0, 911), y = random->range(0, 683);
  for (int i = 0; i < points; i++) {
    x = std::min(911, std::max(0, x + random->range(-6, 6)));
    y = std::min(683, std::max(0, y + random->range(-6, 6)));
    message_put_short(&m, x);
    message_put_short(&m, y);
  }
  std::vector<uint8_t> frame(FRAME_HEADER_SIZE + message_length(&m));
  message_write_frame(&m, frame.data());
  message_free(&m);
  return frame;
}

// The dearest commands the server lets through, each tool in turn at its
// largest size and dearest setting: 255 points zigzagging between the corners
// of the picture (every sample lands on it) or of the range the server accepts.
static std::vector<uint8_t> make_dear_stroke(Random* random, int user_id) {
  static const int corners[2][4] = {{0, 0, 911, 683},
                                    {POINT_X_MIN, POINT_Y_MIN, POINT_X_MAX, POINT_Y_MAX}};
  uint32_t pick = random->next();
  const int* c = corners[(pick >> 8) & 1];
  int16_t xs[MAX_POINTS], ys[MAX_POINTS];
  for (int k = 0; k < MAX_POINTS; k++) {
    xs[k] = int16_t(k % 4 == 0 || k % 4 == 3 ? c[0] : c[2]);
    ys[k] = int16_t(k % 4 == 0 || k % 4 == 2 ? c[1] : c[3]);
  }
  Message m;
  switch (DRAWING_TOOLS[pick % DRAWING_TYPE_COUNT].layout.type) {
    case MSG_PEN: encode_pen(&m, uint8_t(user_id), 200, 30, 40, xs, ys, MAX_POINTS); break;
    case MSG_PENCIL: encode_pencil(&m, uint8_t(user_id), 20, 30, 40, 400, xs, ys, MAX_POINTS); break;
    case MSG_BRUSH: encode_brush(&m, uint8_t(user_id), 20, 30, 240, 400, 400, xs, ys, MAX_POINTS); break;
    case MSG_CHALK: encode_chalk(&m, uint8_t(user_id), 20, 130, 40, 400, xs, ys, MAX_POINTS); break;
    case MSG_SMUDGE: encode_smudge(&m, uint8_t(user_id), 400, 400, xs, ys, MAX_POINTS); break;
    default: encode_stamp(&m, uint8_t(user_id), 90, 10, 90, 400, 0, xs, ys, MAX_POINTS); break;
  }
  std::vector<uint8_t> frame(FRAME_HEADER_SIZE + message_length(&m));
  message_write_frame(&m, frame.data());
  message_free(&m);
  return frame;
}

struct Received {
  std::vector<uint8_t> frame;
  bool from_flooder;
};

static double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Draws the frames one after another as a client does; the CPU seconds spent
// on all of them and on the flooders' ones.
static void measure_drawing(const std::vector<Received>& frames, double* all, double* flood) {
  *all = *flood = 0;
  Image canvas;
  if (frames.empty() || !image_create(&canvas, CANVAS_WIDTH, CANVAS_HEIGHT)) return;
  resetCanvas(&canvas);
  for (const Received& r : frames) {
    Message m;
    if (!message_from_frame(&m, r.frame.data())) continue;
    double before = cpu_seconds();
    apply_command(&canvas, &m);
    double spent = cpu_seconds() - before;
    *all += spent;
    if (r.from_flooder) *flood += spent;
    message_free(&m);
  }
  image_destroy(&canvas);
}

// The options, as atoi and atof read them; the bounds are checked once all are read.
static int parse_options(LoadOptions* o, int argc, char** argv, int* status) {
  CLI::App app(
      "Usage: easel-load [OPTION]...\n"
      "Connects users to an easel-server on the loopback interface, each from a\n"
      "loopback address of its own (127.40.x.y), who paint for a bounded time, and\n"
      "reports the relayed frames received per second, the acknowledgement latency\n"
      "of the strokes (median, 99th percentile, maximum), and the drawing cost per\n"
      "second of the commands one painter received: as the server estimates it, and\n"
      "measured by drawing them afterwards.\n",
      "easel-load");
  app.formatter(std::make_shared<HelpLayout>(18));
  auto value = [&](const char* name, const char* value_name, const char* description,
                   std::function<void(const char*)> set) {
    app.add_option_function<std::string>(name, [set](const std::string& v) { set(v.c_str()); }, description)
        ->option_text(value_name);
  };
  value("--clients", "N", "users who paint (default 10)", [o](const char* v) { o->clients = atoi(v); });
  value("--seconds", "S", "how long they paint (default 10)", [o](const char* v) { o->seconds = atof(v); });
  value("--rate", "R",
        "strokes a second each (default 5; 0: as fast as the server\nacknowledges, W strokes in flight)",
        [o](const char* v) { o->rate = atof(v); });
  value("--window", "W", "strokes in flight at --rate 0 and of flooders (default 8)",
        [o](const char* v) { o->window = atoi(v); });
  value("--flooders", "K",
        "K more users who send as fast as they are acknowledged;\n"
        "their strokes are counted apart and left out of the latency",
        [o](const char* v) { o->flooders = atoi(v); });
  app.add_flag_callback("--dear", [o] { o->dear = true; },
                        "the flooders send the dearest commands the server accepts");
  value("--server", "PATH",
        "starts that server on a free port with a fresh board (with\n"
        "--rate 0 --draw-budget 0 --draw-total 0 when R is 0) and\n"
        "stops it afterwards",
        [o](const char* v) { o->server = v; });
  value("--host", "ADDRESS", "the server's loopback address otherwise (default 127.0.0.1)",
        [o](const char* v) { o->host = v; });
  value("--port", "P", "and its port (default 2020)", [o](const char* v) { o->port = atoi(v); });
  value("--seed", "N", "seed of the strokes' paths (default 1)",
        [o](const char* v) { o->seed = uint32_t(strtoul(v, nullptr, 10)); });
  value("--web-clients", "N",
        "N browser users more who paint over the server's WebSocket,\n"
        "one stroke a message at R strokes a second (5 when R is 0),\n"
        "each from a loopback address of its own (127.41.x.y); their\n"
        "latency is reported apart",
        [o](const char* v) { o->web_clients = atoi(v); });
  value("--http-port", "P",
        "the server's --http port for them (with --server, the one\n"
        "of the server started, which then gets --http 0)",
        [o](const char* v) { o->http_port = atoi(v); });
  app.add_flag_callback("--resume", [o] { o->resume = true; },
                        "each user resumes its session whenever its link ends (not\n"
                        "after a goodbye): it keeps its strokes not yet accepted,\n"
                        "connects again after a growing pause and sends them again");
  value("--log", "FILE",
        "with --resume, writes a line for every stroke drawn\n"
        "(stroke USER SEQUENCE FRAME: its frame in hex, the user\n"
        "byte 0), every one dropped (dropped USER SEQUENCE), and\n"
        "the seconds from a link made to the user logged in again\n"
        "(back USER S) and to its first held stroke accepted\n"
        "(held USER S)",
        [o](const char* v) { o->log = v; });
  add_help_flag(&app);
  auto bad = [](CommandLineMistake, const std::string&) { fprintf(stderr, "easel-load: bad arguments; try --help\n"); };
  if (!command_line_parse(&app, argc, argv, status, bad)) return 0;
  if (o->clients >= 1 && o->clients + o->flooders <= 1000 && o->flooders >= 0 && o->web_clients >= 0 &&
      o->web_clients <= 500 && o->seconds > 0 && o->seconds <= 600 && o->rate >= 0 && o->window >= 1 &&
      (o->resume || o->log.empty()))
    return 1;
  bad(INVALID_VALUE, "");
  *status = 2;
  return 0;
}

static bool flush_output(User* u) {
  while (!u->output.empty()) {
    ssize_t n = send(u->fd, u->output.data(), u->output.size(), MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    u->output.erase(u->output.begin(), u->output.begin() + n);
  }
  return true;
}

// With --server, that server started for the run (its ports in o).
static int start_server(LoadOptions* o, ServerProcess* server) {
  if (o->server.empty()) return 1;
  std::vector<std::string> extra;
  if (o->rate == 0) extra = {"--rate", "0", "--draw-budget", "0", "--draw-total", "0"};
  if (o->web_clients > 0) extra.insert(extra.end(), {"--http", "0"});
  if (!server_process_open(server, o->server) || !server_process_start(server, extra) ||
      (o->web_clients > 0 && (o->http_port = server_process_web_port(server)) == 0)) {
    fprintf(stderr, "easel-load: cannot start %s\n", o->server.c_str());
    return 0;
  }
  o->port = server->port;
  return 1;
}

// The browser users, logged in; 0 when they could not be.
static int start_web_users(const LoadOptions& o, WebLoad** web) {
  if (o.web_clients == 0) return 1;
  *web = web_load_start(o.http_port, o.web_clients, o.rate, o.seed, [](uint32_t* state, int id) {
    Random r = {*state};
    std::vector<uint8_t> stroke = make_stroke(&r, id);
    *state = r.state;
    return stroke;
  });
  if (web_load_logged_in(*web, 30)) return 1;
  fprintf(stderr, "easel-load: the browser users could not log in on port %d\n", o.http_port);
  web_load_finish(*web, 0);
  return 0;
}

// The user connected from an address of its own and its login sent: with
// --resume, one that asks to resume, with the session's ticket once it has
// one. 0 when the connection cannot be made.
static int connect_user(const LoadOptions& o, in_addr address, int epoll_fd, std::vector<User>* users, size_t i) {
  User& u = (*users)[i];
  u.flooder = int(i) >= o.clients;
  u.fd = socket(AF_INET, SOCK_STREAM, 0);
  // Every user is a host of its own: the server's limits are per source address.
  sockaddr_in from = {}, a = {};
  from.sin_family = a.sin_family = AF_INET;
  inet_pton(AF_INET, loopback_address(40, int(i)).c_str(), &from.sin_addr);
  a.sin_port = htons(uint16_t(o.port));
  a.sin_addr = address;
  if (bind(u.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(u.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (!o.resume) fprintf(stderr, "easel-load: cannot connect to %s:%d: %s\n", o.host.c_str(), o.port, strerror(errno));
    close(u.fd);
    u.fd = -1;
    return 0;
  }
  int one = 1;
  setsockopt(u.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(u.fd, F_SETFL, O_NONBLOCK);
  Message m;
  message_init(&m, MSG_LOGIN);
  message_put_int(&m, LOGIN_CONSTANT);
  message_put_string(&m, ("load" + std::to_string(i)).c_str());
  if (o.resume) {
    message_put_byte(&m, LOGIN_RESUMES);
    ResumeTicket ticket;
    memcpy(ticket.token, u.token, RESUME_TOKEN_SIZE);
    ticket.acked = u.acked;
    ticket.pending = uint32_t(u.held.size());
    if (u.has_token) resume_ticket_put(&m, ticket);
  }
  u.output.resize(FRAME_HEADER_SIZE + message_length(&m));
  message_write_frame(&m, u.output.data());
  message_free(&m);
  u.input.clear();
  u.linked_at = now_seconds();
  flush_output(&u);
  epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.u32 = uint32_t(i);
  epoll_ctl(epoll_fd, EPOLL_CTL_ADD, u.fd, &ev);
  return 1;
}

static int connect_users(const LoadOptions& o, in_addr address, int epoll_fd, std::vector<User>* users) {
  for (size_t i = 0; i < users->size(); i++)
    if (!connect_user(o, address, epoll_fd, users, i) && !o.resume) return 0;
  return 1;
}

// One run of painting: the users, and what they measured.
struct Run {
  LoadOptions o;
  std::vector<User> users;
  Random random;
  WebLoad* web = nullptr;
  std::vector<double> latencies;
  // The drawing commands the first painter received while the others painted.
  std::vector<Received> received;
  double received_cost = 0, flood_cost = 0;
  long relayed = 0;
  int logged_in = 0;
  double start = 0, stop_sending = 0, give_up = 0;
  bool failed = false;
  // --resume: where to connect again, the pauses' jitter, what the links went through.
  in_addr address = {};
  int epoll_fd = -1;
  FILE* log = nullptr;
  Random jitter = {0x5eed};
  long links_lost = 0, resumes = 0, refused = 0, restarted = 0, busy = 0, resent = 0, dropped = 0;
  std::vector<double> back_in, held_accepted;  // seconds from a link made to the login, to a held stroke accepted
};

static void log_stroke(Run* run, const User& u, const Held& h) {
  if (!run->log) return;
  fprintf(run->log, "stroke %d %ld ", int(&u - run->users.data()), h.sequence);
  for (size_t k = 0; k < h.frame.size(); k++) fprintf(run->log, "%02x", k == 3 ? 0 : h.frame[k]);
  fputc('\n', run->log);
}

// A time measured for the report, and in the log (kind, user, seconds).
static void note_time(Run* run, const User& u, const char* kind, std::vector<double>* times, double seconds) {
  times->push_back(seconds);
  if (run->log) fprintf(run->log, "%s %d %.6f\n", kind, int(&u - run->users.data()), seconds);
}

// The user connects again after a pause that doubles up to 2 s, jittered so
// that users cut together spread.
static void pause_user(Run* run, User* u, double now) {
  u->backoff = u->backoff == 0 ? 0.05 : std::min(2.0, u->backoff * 2);
  u->reconnect_at = now + u->backoff * (0.5 + double(run->jitter.next() % 1000) / 1000.0);
}

// The link ended: what was held stays for the next one.
static void lose_link(Run* run, User* u, double now) {
  close(u->fd);
  u->fd = -1;
  u->logged_in = u->resumed = false;
  u->output.clear();
  u->input.clear();
  run->links_lost++;
  pause_user(run, u, now);
}

// The answer to the login: on TAKEN, what the server took of the held strokes
// is dropped and the rest sent again in order; a new session drops them all.
static void take_resume(Run* run, User* u, const uint8_t* payload, size_t length) {
  ResumeReply reply;
  int index = int(u - run->users.data());
  if (!resume_reply_get(payload, length, &reply)) {
    fprintf(stderr, "easel-load: user %d: a resume reply that is not one\n", index);
    run->failed = true;
    return;
  }
  if (reply.outcome == RESUME_BUSY) {  // the server ends the link: tried again after the pause
    run->busy++;
    return;
  }
  if (reply.outcome == RESUME_TAKEN) {
    if (!u->has_token || reply.accepted < u->acked || reply.accepted - u->acked > u->held.size()) {
      fprintf(stderr, "easel-load: user %d: %u accepted, but %u seen and %zu held\n", index, reply.accepted,
              u->acked, u->held.size());
      run->failed = true;
      return;
    }
    for (uint32_t k = u->acked; k < reply.accepted; k++) {
      u->held.pop_front();
      u->in_flight.pop_front();
      u->acknowledged++;
    }
    run->resumes++;
    run->resent += long(u->held.size());
    for (const Held& h : u->held) u->output.insert(u->output.end(), h.frame.begin(), h.frame.end());
  } else {
    run->refused += reply.outcome == RESUME_REFUSED;
    run->restarted += reply.outcome == RESUME_RESTARTED;
    if (!u->held.empty())
      fprintf(stderr, "easel-load: user %d: %zu strokes dropped, a new session: %s\n", index, u->held.size(),
              reply.reason);
    for (const Held& h : u->held)
      if (run->log) fprintf(run->log, "dropped %d %ld\n", index, h.sequence);
    run->dropped += long(u->held.size());
    u->held.clear();
    u->in_flight.clear();
  }
  u->acked = reply.outcome == RESUME_TAKEN ? reply.accepted : 0;
  memcpy(u->token, reply.token, RESUME_TOKEN_SIZE);
  u->has_token = u->resumed = true;
  u->await_first = !u->held.empty();
}

// Once every user is in: the painting starts, the users' first strokes
// spread over one period.
static void begin_painting(Run* run, double now) {
  run->start = now;
  run->stop_sending = now + run->o.seconds;
  // Resuming users may wait out a server's restart and many pauses.
  run->give_up = run->stop_sending + (run->o.resume ? 120 : 10);
  if (run->web) web_load_paint(run->web, run->start, run->stop_sending);
  for (User& u : run->users)
    u.next_send = now + (run->o.rate > 0 ? (run->random.next() % 1000) / 1000.0 / run->o.rate : 0);
}

// Each user's strokes due now; the strokes in flight that are waited for.
static long send_strokes(Run* run, double now) {
  const LoadOptions& o = run->o;
  bool sending = run->start > 0 && now < run->stop_sending;
  long outstanding = 0;
  for (User& u : run->users) {
    bool paced = o.rate > 0 && !u.flooder;
    // With --resume the user draws on while its link is down; what it draws is held.
    bool drawing = o.resume ? u.joined && !u.gone : u.logged_in;
    while (sending && drawing && (paced ? now >= u.next_send : int(u.in_flight.size()) < o.window)) {
      std::vector<uint8_t> stroke =
          u.flooder && o.dear ? make_dear_stroke(&run->random, u.id) : make_stroke(&run->random, u.id);
      if (o.resume) {
        u.held.push_back({stroke, u.drawn++});
        log_stroke(run, u, u.held.back());
      }
      if (!o.resume || u.resumed) u.output.insert(u.output.end(), stroke.begin(), stroke.end());
      u.in_flight.push_back(now);
      u.sent++;
      if (paced) u.next_send += 1 / o.rate;
    }
    if (o.resume && u.fd >= 0 && !flush_output(&u))
      lose_link(run, &u, now);
    else if (!o.resume && !flush_output(&u))
      run->failed = true;
    // The dearest commands may wait long for their budget: not waited for.
    if (!(u.flooder && o.dear) && !u.gone) outstanding += long(u.in_flight.size());
  }
  return outstanding;
}

// A drawing command the first user received: its cost, and whether a flooder sent it.
static void count_received(Run* run, const uint8_t* frame, size_t size) {
  int type = frame[0];
  double cost = draw_cost(type, frame + 3, size - 3);
  run->received_cost += cost;
  bool flooder = false;
  for (int f = run->o.clients; f < int(run->users.size()); f++)
    flooder = flooder || run->users[size_t(f)].id == frame[3];
  if (flooder) run->flood_cost += cost;
  run->received.push_back({std::vector<uint8_t>(frame, frame + size), flooder});
}

static void take_frame(Run* run, User* u, const uint8_t* frame, size_t size, double now) {
  int type = frame[0];
  if (type == MSG_LOGIN && !u->logged_in) {
    u->id = frame[3];
  } else if (type == MSG_RESUME && run->o.resume) {
    take_resume(run, u, frame + 3, size - 3);
  } else if (type == MSG_GOODBYE && run->o.resume) {
    fprintf(stderr, "easel-load: user %d was told goodbye\n", int(u - run->users.data()));
    u->gone = run->failed = true;
  } else if (type == MSG_ACCEPTED) {
    if (!u->logged_in) {
      u->logged_in = true;
      if (run->o.resume && !u->resumed) {
        fprintf(stderr, "easel-load: the server does not resume sessions\n");
        run->failed = true;
      }
      if (!u->joined) run->logged_in++;
      else note_time(run, *u, "back", &run->back_in, now - u->linked_at);
      u->joined = true;
      u->backoff = 0;
    } else if (!u->in_flight.empty()) {
      if (!u->flooder) run->latencies.push_back(now - u->in_flight.front());
      u->in_flight.pop_front();
      u->acknowledged++;
      if (run->o.resume) {
        u->held.pop_front();
        u->acked++;
        if (u->await_first) note_time(run, *u, "held", &run->held_accepted, now - u->linked_at);
        u->await_first = false;
      }
    }
  } else if (command_layout(type) && run->start > 0 && u->logged_in) {  // not a resumed login's board
    run->relayed++;
    if (u == &run->users[0] && size > 3) count_received(run, frame, size);
  }
}

static void read_user(Run* run, size_t index, double now) {
  User& u = run->users[index];
  if (u.fd < 0) return;
  uint8_t block[65536];
  ssize_t got;
  while ((got = recv(u.fd, block, sizeof block, 0)) > 0) u.input.insert(u.input.end(), block, block + got);
  bool ended = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  if (ended && !run->o.resume) {
    fprintf(stderr, "easel-load: the server closed user %d\n", int(index));
    run->failed = true;
  }
  size_t at = 0, size;
  while ((size = frame_complete_size(u.input.data() + at, u.input.size() - at)) > 0) {
    take_frame(run, &u, u.input.data() + at, size, now);
    at += size;
  }
  u.input.erase(u.input.begin(), u.input.begin() + long(at));
  if (ended && run->o.resume) lose_link(run, &u, now);
}

// --resume: the users whose pause is over connect again; the time to the next one due.
static double reconnect_users(Run* run, double now) {
  double next = 1;
  for (size_t i = 0; i < run->users.size(); i++) {
    User& u = run->users[i];
    if (u.fd >= 0 || u.gone) continue;
    if (now >= u.reconnect_at && !connect_user(run->o, run->address, run->epoll_fd, &run->users, i))
      pause_user(run, &u, now);
    if (u.fd < 0) next = std::min(next, u.reconnect_at - now);
  }
  return next;
}

// Paints until every stroke waited for is acknowledged, a connection fails or time is up.
static void paint(Run* run, int epoll_fd) {
  run->give_up = now_seconds() + (run->o.resume ? 120 : 30);
  epoll_event events[256];
  for (;;) {
    double now = now_seconds();
    if (run->logged_in == int(run->users.size()) && run->start == 0) begin_painting(run, now);
    long outstanding = send_strokes(run, now);
    bool sending = run->start > 0 && now < run->stop_sending;
    if (run->failed || now > run->give_up || (run->start > 0 && !sending && outstanding == 0)) return;
    double wait = 0.05;
    if (run->o.resume) wait = std::min(wait, reconnect_users(run, now));
    if (sending && run->o.rate > 0)
      for (const User& u : run->users)
        if (!u.flooder) wait = std::min(wait, u.next_send - now);
    int n = epoll_wait(epoll_fd, events, 256, std::max(0, int(wait * 1000)));
    now = now_seconds();
    for (int k = 0; k < n; k++) read_user(run, events[k].data.u32, now);
  }
}

static double percentile_of(const std::vector<double>& all, double p) {
  if (all.empty()) return 0.0;
  size_t i = size_t(std::ceil(p * double(all.size()))) - 1;
  return all[std::min(i, all.size() - 1)] * 1000;
}

// What the run measured; 1 when every stroke waited for was acknowledged.
static int report(Run* run, double elapsed, WebLoadResult* web_result) {
  const LoadOptions& o = run->o;
  long sent = 0, acknowledged = 0, flood_sent = 0, held = 0;
  for (const User& u : run->users) {
    sent += u.sent;
    acknowledged += u.acknowledged;
    if (u.flooder) flood_sent += u.sent;
    if (u.flooder && o.dear) held += long(u.in_flight.size());
  }
  std::vector<double>& latencies = run->latencies;
  std::sort(latencies.begin(), latencies.end());
  std::sort(web_result->latencies.begin(), web_result->latencies.end());
  char pace[80];
  if (o.rate > 0)
    snprintf(pace, sizeof pace, "%g strokes/s each", o.rate);
  else
    snprintf(pace, sizeof pace, "as fast as acknowledged, %d in flight each", o.window);
  printf("users %d, %s, %g s of painting (%.1f s in all)\n", o.clients, pace, o.seconds, elapsed);
  printf("strokes sent %ld, acknowledged %ld\n", sent, acknowledged);
  if (held > 0) printf("held back by the drawing budget when the run ended: %ld\n", held);
  if (o.flooders > 0)
    printf("of them by %d flooding users: %ld (%.0f per second each)\n", o.flooders, flood_sent,
           double(flood_sent) / elapsed / o.flooders);
  printf("relayed frames received: %ld, %.0f per second\n", run->relayed,
         elapsed > 0 ? double(run->relayed) / elapsed : 0.0);
  printf("acknowledgement latency%s: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
         o.flooders > 0 ? " of the others" : "", percentile_of(latencies, 0.5), percentile_of(latencies, 0.99),
         latencies.empty() ? 0.0 : latencies.back() * 1000);
  if (run->web)
    printf("browser users %d on the WebSocket: strokes sent %ld, acknowledged %ld, latency median "
           "%.3f ms, p99 %.3f ms, max %.3f ms\n",
           o.web_clients, web_result->sent, web_result->acknowledged,
           percentile_of(web_result->latencies, 0.5), percentile_of(web_result->latencies, 0.99),
           web_result->latencies.empty() ? 0.0 : web_result->latencies.back() * 1000);
  if (o.resume) {
    std::sort(run->back_in.begin(), run->back_in.end());
    std::sort(run->held_accepted.begin(), run->held_accepted.end());
    printf("links lost %ld: resumed %ld, refused %ld, on a restarted board %ld, busy %ld; strokes resent %ld, "
           "dropped %ld\n",
           run->links_lost, run->resumes, run->refused, run->restarted, run->busy, run->resent, run->dropped);
    printf("from a link made to the user logged in again: median %.3f ms, max %.3f ms (%zu links)\n",
           percentile_of(run->back_in, 0.5), run->back_in.empty() ? 0.0 : run->back_in.back() * 1000,
           run->back_in.size());
    printf("from a link made to its first held stroke accepted: median %.3f ms, max %.3f ms (%zu links)\n",
           percentile_of(run->held_accepted, 0.5),
           run->held_accepted.empty() ? 0.0 : run->held_accepted.back() * 1000, run->held_accepted.size());
  }
  double drawn = 0, drawn_flood = 0;
  measure_drawing(run->received, &drawn, &drawn_flood);
  if (elapsed > 0)
    printf("drawing cost reaching one painter: estimated %.1f ms/s (%.1f from the flooders), "
           "drawn in %.1f ms/s of CPU (%.1f for the flooders')\n",
           run->received_cost / 1000 / elapsed, run->flood_cost / 1000 / elapsed, drawn * 1000 / elapsed,
           drawn_flood * 1000 / elapsed);
  return acknowledged + held == sent && web_result->acknowledged == web_result->sent;
}

int main(int argc, char** argv) {
  Run run;
  LoadOptions& o = run.o;
  int status = 0;
  if (!parse_options(&o, argc, argv, &status)) return status;
  in_addr address;
  if (inet_pton(AF_INET, o.host.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127) {
    fprintf(stderr, "easel-load: only loopback addresses (127.x.x.x) are allowed\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  ServerProcess server;
  if (!start_server(&o, &server) || !start_web_users(o, &run.web)) {
    server_process_close(&server);
    return 1;
  }
  run.random = {o.seed ? o.seed : 1};
  int epoll_fd = epoll_create1(0);
  run.address = address;
  run.epoll_fd = epoll_fd;
  if (!o.log.empty() && !(run.log = fopen(o.log.c_str(), "w"))) {
    fprintf(stderr, "easel-load: cannot write %s: %s\n", o.log.c_str(), strerror(errno));
    return 1;
  }
  run.users.resize(size_t(o.clients + o.flooders));
  if (!connect_users(o, address, epoll_fd, &run.users)) return 1;
  paint(&run, epoll_fd);
  double elapsed = now_seconds() - run.start;
  WebLoadResult web_result;
  if (run.web) web_result = web_load_finish(run.web, run.give_up);
  for (User& u : run.users)
    if (u.fd >= 0) close(u.fd);
  close(epoll_fd);
  if (run.log) fclose(run.log);
  bool complete = report(&run, elapsed, &web_result);
  server_process_stop(&server);
  server_process_close(&server);
  if (run.dropped > 0) fprintf(stderr, "easel-load: %ld strokes dropped\n", run.dropped);
  if (run.failed || web_result.failed || !complete) {
    fprintf(stderr, "easel-load: %s\n", run.failed || web_result.failed ? "a connection failed" : "acknowledgements missing");
    return 1;
  }
  return 0;
}
