#include "attacks.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "net/command.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "net/wire_limits.h"

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void pause_for(double seconds) {
  if (seconds > 0) usleep(useconds_t(seconds * 1e6));
}

Bytes frame_of(Message* m) {
  Bytes frame(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, frame.data());
  message_free(m);
  return frame;
}

int wait_fd(int fd, short events, double seconds) {
  pollfd p = {fd, events, 0};
  return poll(&p, 1, std::max(0, int(seconds * 1000))) > 0;
}

// The sources: painters 127.3.0.x, the attacker 127.9.0.1 (and 127.9.x.y when
// it has many), newcomers 127.5.0.x, web clients 127.7.x.y.
const char* const ATTACKER = "127.9.0.1";

}  // namespace

Bytes login_frame(const std::string& name) {
  Message m;
  message_init(&m, MSG_LOGIN);
  message_put_int(&m, LOGIN_CONSTANT);
  message_put_string(&m, name.c_str());
  return frame_of(&m);
}

Bytes chat_line(const std::string& text) {
  Message m;
  message_init(&m, MSG_CHAT);
  message_put_byte(&m, 0);
  message_put_string(&m, text.c_str());
  return frame_of(&m);
}

Bytes pen_stroke(int author, int points, int x, int y) {
  std::vector<int16_t> xs, ys;
  for (int i = 0; i < points; i++) {
    xs.push_back(int16_t(x + i % 9));
    ys.push_back(int16_t(y + i % 7));
  }
  Message m;
  encode_pen(&m, uint8_t(author), 200, 40, 30, xs.data(), ys.data(), unsigned(points));
  return frame_of(&m);
}

Bytes dear_frame(int author) {
  int16_t xs[MAX_POINTS], ys[MAX_POINTS];
  for (int k = 0; k < MAX_POINTS; k++) {
    xs[k] = int16_t(k % 4 == 0 || k % 4 == 3 ? 0 : 911);
    ys[k] = int16_t(k % 4 == 0 || k % 4 == 2 ? 0 : 683);
  }
  Message m;
  encode_smudge(&m, uint8_t(author), 400, 400, xs, ys, MAX_POINTS);
  return frame_of(&m);
}

Bytes board_of_size(size_t bytes) {
  Bytes board;
  for (int i = 0; board.size() < bytes; i++) {
    Bytes f = pen_stroke(1, MAX_POINTS, (i * 37) % 880, (i * 53) % 660);
    board.insert(board.end(), f.begin(), f.end());
  }
  return board;
}

// ---- a user over a blocking socket ----

int peer_send(Peer* p, const Bytes& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    ssize_t n = send(p->fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return 0;
    at += size_t(n);
  }
  return 1;
}

// The next whole frame, read within the time; type -1 when none.
static int next_frame(Peer* p, double seconds, Bytes* payload) {
  double end = now() + seconds;
  for (;;) {
    if (size_t n = frame_complete_size(p->input.data(), p->input.size())) {
      int type = p->input[0];
      if (payload) payload->assign(p->input.begin() + 3, p->input.begin() + long(n));
      p->input.erase(p->input.begin(), p->input.begin() + long(n));
      return type;
    }
    if (p->fd < 0 || !wait_fd(p->fd, POLLIN, end - now())) return -1;
    uint8_t block[65536];
    ssize_t got = recv(p->fd, block, sizeof block, 0);
    if (got <= 0) return -1;
    p->input.insert(p->input.end(), block, block + got);
  }
}

int peer_wait(Peer* p, int type, double seconds, Bytes* payload) {
  double end = now() + seconds;
  for (int t; (t = next_frame(p, end - now(), payload)) >= 0;)
    if (t == type) return 1;
  return 0;
}

int peer_login(Peer* p, const std::string& source, int port, const std::string& name,
               double seconds, int receive_window) {
  p->fd = loopback_connect(source, port, receive_window);
  Bytes reply;
  if (p->fd < 0 || !peer_send(p, login_frame(name)) || !peer_wait(p, MSG_LOGIN, seconds, &reply))
    return 0;
  p->id = reply.empty() ? 0 : reply[0];
  return peer_wait(p, MSG_ACCEPTED, seconds);
}

int peer_closed_within(Peer* p, double seconds) {
  double end = now() + seconds;
  uint8_t block[65536];
  while (wait_fd(p->fd, POLLIN, end - now())) {
    ssize_t got = recv(p->fd, block, sizeof block, 0);
    if (got <= 0) return 1;
  }
  return 0;
}

void peer_close(Peer* p) {
  if (p->fd >= 0) close(p->fd);
  p->fd = -1;
  p->input.clear();
}

// ---- HTTP ----

HttpAnswer http_exchange(int port, const std::string& request, double seconds,
                         const std::string& source) {
  HttpAnswer a;
  double start = now(), end = start + seconds;
  int fd = loopback_connect(source, port);
  if (fd < 0) return a;
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string got;
  size_t head_end = std::string::npos, want = SIZE_MAX;
  char block[65536];
  while (got.size() < want && wait_fd(fd, POLLIN, end - now())) {
    ssize_t n = recv(fd, block, sizeof block, 0);
    if (n <= 0) break;
    got.append(block, size_t(n));
    if (head_end == std::string::npos && (head_end = got.find("\r\n\r\n")) != std::string::npos) {
      a.head = got.substr(0, head_end + 4);
      std::string length = http_field(a, "content-length");
      bool bodiless = a.head.find(" 304 ") != std::string::npos || request.rfind("HEAD ", 0) == 0;
      want = bodiless ? head_end + 4 : length.empty() ? SIZE_MAX : head_end + 4 + strtoull(length.c_str(), nullptr, 10);
    }
  }
  close(fd);
  if (head_end != std::string::npos) {
    a.status = atoi(a.head.c_str() + a.head.find(' ') + 1);
    a.body = got.substr(head_end + 4);
  }
  a.seconds = now() - start;
  return a;
}

std::string http_field(const HttpAnswer& a, const std::string& name) {
  std::string head = a.head;
  for (char& c : head) c = char(tolower(c));
  size_t at = head.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  size_t end = a.head.find("\r\n", at);
  std::string value = a.head.substr(at, end - at);
  size_t first = value.find_first_not_of(' ');
  return first == std::string::npos ? "" : value.substr(first);
}

double Figures::get(const std::string& name) const {
  for (const auto& item : items)
    if (item.first == name) return item.second;
  return NAN;
}

namespace {

// ---- the attacked server ----

struct Target {
  ServerProcess process;
  int web_port = 0;
  ~Target() { server_process_close(&process); }
};

const char* const PASSWORD = "correct horse";

std::unique_ptr<Target> start_target(const AttackSetup& setup, const Bytes& board, bool web,
                                     long address_space = 0) {
  std::unique_ptr<Target> t(new Target);
  if (!server_process_open(&t->process, setup.server)) return nullptr;
  std::ofstream(t->process.board, std::ios::binary)
      .write(reinterpret_cast<const char*>(board.data()), std::streamsize(board.size()));
  t->process.address_space_limit = address_space;
  std::vector<std::string> extra = setup.server_options;
  if (web) extra.insert(extra.end(), {"--http", "0"});
  if (setup.password_flag) {
    extra.push_back("--motd-password");
    extra.push_back(PASSWORD);
  }
  setenv("EASEL_MOTD_PASSWORD", PASSWORD, 1);
  bool started = server_process_start(&t->process, extra);
  unsetenv("EASEL_MOTD_PASSWORD");
  if (!started) return nullptr;
  for (double end = now() + 10; web && t->web_port == 0 && now() < end; pause_for(0.01)) {
    std::string log = server_process_log(&t->process);
    const std::string mark = "web view on http://127.0.0.1:";
    size_t at = log.find(mark);
    if (at != std::string::npos) t->web_port = atoi(log.c_str() + at + mark.size());
  }
  if (web && t->web_port == 0) return nullptr;
  return t;
}

bool alive(const Target& t) {
  return t.process.pid > 0 && waitpid(t.process.pid, nullptr, WNOHANG) == 0;
}

double mib(double kib) { return kib / 1024; }

void add_memory(Figures* f, const Target& t) {
  f->add("server peak memory, MiB", mib(double(server_process_peak_kib(&t.process))));
}

// ---- painters ----

struct PainterSetup {
  int count = 4;
  double rate = 5;         // strokes a second each; 0: they only read
  double read_limit = 0;   // bytes a second the first one reads; 0: all there is
};

// Painters on a thread of their own: each sends a small stroke at its pace
// and times the acknowledgement; the first also counts what the others
// relay to it (drawing commands and their drawing cost, chat bytes).
struct Painters {
  PainterSetup setup;
  std::vector<Peer> peers;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::vector<double> latencies;
  int disconnected = 0;
  double first_gone = 0;  // seconds after the start when the first one lost its connection
  long relayed = 0, chat_bytes = 0;
  double relayed_cost = 0;  // microseconds of drawing
  double started = 0;
};

void paint(Painters* p) {
  size_t n = p->peers.size();
  std::vector<std::deque<double>> in_flight(n);
  std::vector<double> next(n);
  std::vector<bool> gone(n, false);
  for (size_t i = 0; i < n; i++) next[i] = p->started + double(i) * 0.2 / double(n);
  double read_budget = 0, last = now();
  while (!p->stop) {
    double t = now();
    if (p->setup.read_limit > 0) read_budget = std::min(read_budget + (t - last) * p->setup.read_limit, 65536.0);
    last = t;
    std::vector<pollfd> fds(n);
    for (size_t i = 0; i < n; i++) {
      fds[i] = {gone[i] ? -1 : p->peers[i].fd, POLLIN, 0};
      if (p->setup.rate > 0 && !gone[i] && t >= next[i]) {
        if (!peer_send(&p->peers[i], pen_stroke(p->peers[i].id, 12, 100 + 60 * int(i), 300)))
          fds[i].fd = -1;
        in_flight[i].push_back(t);
        next[i] += 1 / p->setup.rate;
      }
    }
    poll(fds.data(), nfds_t(n), 5);
    for (size_t i = 0; i < n; i++) {
      if (gone[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Peer& peer = p->peers[i];
      size_t room = 65536;
      if (i == 0 && p->setup.read_limit > 0) room = size_t(read_budget);
      if (room == 0) continue;
      uint8_t block[65536];
      ssize_t got = recv(peer.fd, block, room, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        gone[i] = true;
        if (p->disconnected++ == 0) p->first_gone = now() - p->started;
        continue;
      }
      if (got < 0) continue;
      if (i == 0 && p->setup.read_limit > 0) read_budget -= double(got);
      peer.input.insert(peer.input.end(), block, block + got);
      size_t at = 0;
      while (size_t size = frame_complete_size(peer.input.data() + at, peer.input.size() - at)) {
        const uint8_t* f = peer.input.data() + at;
        if (f[0] == MSG_ACCEPTED && !in_flight[i].empty()) {
          p->latencies.push_back(now() - in_flight[i].front());
          in_flight[i].pop_front();
        } else if (i == 0 && command_layout(f[0])) {
          bool painter = false;
          for (const Peer& other : p->peers) painter = painter || (size > 3 && f[3] == other.id);
          if (!painter) {
            p->relayed++;
            p->relayed_cost += draw_cost(f[0], f + 3, size - 3);
          }
        } else if (i == 0 && f[0] == MSG_CHAT) {
          p->chat_bytes += long(size);
        }
        at += size;
      }
      peer.input.erase(peer.input.begin(), peer.input.begin() + long(at));
    }
  }
}

std::unique_ptr<Painters> painters_start(int port, PainterSetup setup = PainterSetup()) {
  std::unique_ptr<Painters> p(new Painters);
  p->setup = setup;
  p->peers.resize(size_t(setup.count));
  for (int i = 0; i < setup.count; i++) {
    // A reader on an ordinary link has a small window and reads at its pace.
    int window = i == 0 && setup.read_limit > 0 ? 64 * 1024 : 0;
    if (!peer_login(&p->peers[size_t(i)], loopback_address(3, i), port, "painter" + std::to_string(i),
                    10, window))
      return nullptr;
  }
  p->started = now();
  Painters* raw = p.get();
  p->thread = std::thread([raw] { paint(raw); });
  return p;
}

void painters_report(Painters* p, Figures* f, double seconds) {
  p->stop = true;
  p->thread.join();
  for (Peer& peer : p->peers) peer_close(&peer);
  std::vector<double>& l = p->latencies;
  std::sort(l.begin(), l.end());
  auto pick = [&](double q) { return l.empty() ? NAN : l[std::min(l.size() - 1, size_t(q * double(l.size())))] * 1000; };
  f->add("painters latency median ms", pick(0.5));
  f->add("painters latency p99 ms", pick(0.99));
  f->add("painters disconnected", p->disconnected);
  f->add("relayed to a painter, drawing ms/s", p->relayed_cost / 1000 / seconds);
}

long count_archives(const Target& t) {
  long n = 0;
  for (const auto& e : std::filesystem::directory_iterator(t.process.dir)) {
    std::string name = e.path().filename();
    if (name.rfind("board-", 0) == 0 && name.find("damaged") == std::string::npos) n++;
  }
  return n;
}

std::string get(const std::string& path, const std::string& fields = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n";
}

// Waits until the picture is drawn (the server answers 200), as a patient browser would.
HttpAnswer finished_picture(int port, double seconds) {
  HttpAnswer a;
  for (double end = now() + seconds; now() < end; pause_for(0.2))
    if ((a = http_exchange(port, get("/board.png"), 60)).status == 200) break;
  return a;
}

// Sends the bytes again and again until the server closes or the time is up;
// returns the MiB it took.
double pour(int fd, const std::string& first, double seconds) {
  std::string block(65536, 'a');
  double sent = double(send(fd, first.data(), first.size(), MSG_NOSIGNAL));
  for (double end = now() + seconds; now() < end;) {
    if (!wait_fd(fd, POLLOUT, end - now())) continue;
    ssize_t n = send(fd, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN) break;
    if (n > 0) sent += double(n);
  }
  return sent / 1048576;
}

int status_of_reply(int fd, double seconds) {
  char buffer[4096];
  std::string got;
  while (got.find("\r\n") == std::string::npos && wait_fd(fd, POLLIN, seconds)) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, size_t(n));
  }
  return got.rfind("HTTP/", 0) == 0 ? atoi(got.c_str() + 9) : -1;
}

// ---- the attacks ----

// Hostile requests one after another, the server's memory after each.
Figures attack_web(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, board_of_size(setup.board_bytes), true, setup.address_space);
  if (!t) return f;
  auto painters = painters_start(t->process.port);
  if (!painters) return f;
  int port = t->web_port;
  double start = now();
  finished_picture(port, 120);
  f.add("picture drawn, s", now() - start);
  std::string many = "bytes=0-";
  for (int i = 1; i < 1000; i++) many += ",0-";
  HttpAnswer a = http_exchange(port, get("/board.png", "Range: " + many + "\r\n"), 60);
  f.add("1000 ranges of the picture: status", a.status);
  f.add("1000 ranges of the picture: MiB answered", double(a.body.size()) / 1048576);
  f.add("peak memory after it, MiB", mib(double(server_process_peak_kib(&t->process))));
  std::string sixty = "bytes=0-";
  for (int i = 1; i < 60; i++) sixty += ",0-";
  a = http_exchange(port, get("/board.easel", "Range: " + sixty + "\r\n"), 60);
  f.add("60 ranges of the board: status", a.status);
  f.add("60 ranges of the board: MiB answered", double(a.body.size()) / 1048576);
  f.add("peak memory after it, MiB", mib(double(server_process_peak_kib(&t->process))));
  int fd = loopback_connect("127.7.0.1", port);
  f.add("endless header line: MiB taken in 5.5 s", pour(fd, "GET / HTTP/1.1\r\nX-Long: ", 5.5));
  close(fd);
  f.add("peak memory after it, MiB", mib(double(server_process_peak_kib(&t->process))));
  std::string fields;
  for (int i = 0; i < 10000; i++) fields += "X-F" + std::to_string(i) + ": 1\r\n";
  f.add("10000 header fields: status", http_exchange(port, get("/", fields)).status);
  fd = loopback_connect("127.7.0.2", port);
  f.add("GET with a 300 MB body: MiB taken in 10 s",
        pour(fd, "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 300000000\r\n\r\n", 10));
  f.add("GET with a 300 MB body: status", status_of_reply(fd, 5));
  close(fd);
  for (const char* method : {"OPTIONS", "TRACE", "PATCH"}) {
    std::string body = std::string(method) == "PATCH" ? "Content-Length: 1\r\n\r\nx" : "\r\n";
    a = http_exchange(port, std::string(method) + " / HTTP/1.1\r\nHost: x\r\n" + body, 10);
    f.add(std::string(method) + ": status", a.status);
    f.add(std::string(method) + ": seconds", a.seconds);
  }
  f.add("peak memory, MiB", mib(double(server_process_peak_kib(&t->process))));
  f.add("server alive", alive(*t));
  painters_report(painters.get(), &f, now() - start);
  // While painters draw, the picture is drawn anew after every request, and a
  // tag taken earlier may be old already. With nobody left on the board and
  // the picture showing all of it, the tag holds.
  std::string tag;
  for (double end = now() + 60; tag.empty() && now() < end; pause_for(0.2)) {
    bool nobody = http_exchange(port, get("/status")).body.find("\"users\":[]") != std::string::npos;
    std::string board = http_field(http_exchange(port, "HEAD /board.easel HTTP/1.1\r\nHost: x\r\n\r\n"), "etag");
    if (nobody && http_field(http_exchange(port, get("/board.png"), 60), "etag") == board) tag = board;
  }
  f.add("If-None-Match weak tag: status",
        http_exchange(port, get("/board.png", "If-None-Match: W/" + tag + "\r\n"), 60).status);
  f.add("If-None-Match list: status",
        http_exchange(port, get("/board.png", "If-None-Match: \"x\", " + tag + "\r\n"), 60).status);
  f.add("If-None-Match on the board file: status",
        http_exchange(port, get("/board.easel", "If-None-Match: " + tag + "\r\n"), 60).status);
  return f;
}

// Slow and silent web clients from many addresses while a browser asks every
// half second; and the first picture of a large board.
Figures attack_web_slow(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, board_of_size(setup.board_bytes), true);
  if (!t) return f;
  int port = t->web_port;
  HttpAnswer first = http_exchange(port, get("/board.png"), 60);
  f.add("first picture of the large board: status", first.status);
  f.add("first picture of the large board: seconds", first.seconds);
  std::vector<int> slow;
  for (int i = 0; i < 64; i++) slow.push_back(loopback_connect(loopback_address(7, i), port));
  long asked = 0, answered = 0;
  double worst = 0, start = now(), next_silent = start;
  int silent = 0;
  for (double tick = start; now() < start + setup.seconds; tick += 0.5) {
    pause_for(tick - now());
    // One header byte each half second, and a new silent connection every second.
    for (int fd : slow) send(fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (now() >= next_silent) {
      slow.push_back(loopback_connect(loopback_address(7, 100 + silent++), port));
      next_silent += 1;
    }
    HttpAnswer a = http_exchange(port, get("/status"), 5, "127.5.0.1");
    asked++;
    if (a.status == 200) answered++;
    worst = std::max(worst, a.seconds);
  }
  for (int fd : slow)
    if (fd >= 0) close(fd);
  f.add("browser requests answered (of each asked)", double(answered) / double(std::max(1L, asked)));
  f.add("slowest browser request, s", worst);
  f.add("server alive", alive(*t));
  return f;
}

// Eight downloads of a large board at once.
Figures attack_web_board(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, board_of_size(setup.board_bytes), true);
  if (!t) return f;
  int port = t->web_port;
  http_exchange(port, get("/status"));
  pause_for(1);
  double before = double(server_process_rss_kib(&t->process));
  f.add("memory with the board loaded, MiB", mib(before));
  size_t board_size = size_t(std::filesystem::file_size(t->process.board));
  std::atomic<int> whole{0};
  std::vector<std::thread> downloads;
  for (int i = 0; i < 8; i++)
    downloads.emplace_back([&, i] {
      HttpAnswer a = http_exchange(port, get("/board.easel"), 60, loopback_address(7, i));
      if (a.body.size() == board_size) whole++;
    });
  double highest = before;
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done) {
      highest = std::max(highest, double(server_process_rss_kib(&t->process)));
      pause_for(0.005);
    }
  });
  for (std::thread& d : downloads) d.join();
  done = true;
  sampler.join();
  f.add("8 downloads at once: whole boards", whole);
  f.add("8 downloads at once: memory above it, MiB", mib(highest - before));
  return f;
}

Bytes concat_bytes(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes motd_guess(long guess) {
  Message m;
  message_init(&m, MSG_MOTD);
  message_put_string(&m, ("guess" + std::to_string(guess)).c_str());
  message_put_string(&m, "hello");
  return frame_of(&m);
}

long log_count(const Target& t, const std::string& text) {
  std::string log = server_process_log(&t.process);
  long lines = 0;
  for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at++) lines++;
  return lines;
}

// Connect, log in, one dear smudge and one /motd guess, close; again and
// again from one address (or a trusted range, with --trust 127.9.0.0/24).
Figures attack_reconnect(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  auto painters = painters_start(t->process.port);
  if (!painters) return f;
  double start = now();
  long sessions = 0;
  while (now() < start + setup.seconds) {
    Peer p;
    if (peer_login(&p, ATTACKER, t->process.port, "churn", start + setup.seconds - now())) {
      peer_send(&p, concat_bytes(dear_frame(p.id), motd_guess(sessions)));
      sessions++;
    }
    peer_close(&p);
  }
  f.add("sessions", double(sessions));
  pause_for(0.5);
  painters_report(painters.get(), &f, now() - start);
  f.add("/motd guesses looked at", double(log_count(*t, "gave a wrong password")));
  add_memory(&f, *t);
  return f;
}

// 40 fresh addresses log in, then each sends one dear smudge at once.
Figures attack_fresh_sources(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  auto painters = painters_start(t->process.port);
  if (!painters) return f;
  std::vector<Peer> fresh(40);
  int logged = 0;
  for (size_t i = 0; i < fresh.size(); i++)
    logged += peer_login(&fresh[i], loopback_address(9, 256 + int(i)), t->process.port, "fresh", 5);
  double start = now();
  for (Peer& p : fresh) peer_send(&p, dear_frame(p.id));
  pause_for(setup.seconds);
  f.add("fresh addresses logged in", logged);
  painters_report(painters.get(), &f, now() - start);
  for (Peer& p : fresh) peer_close(&p);
  return f;
}

// K sessions of one address send dear smudges as fast as they are acknowledged.
Figures attack_sessions(const AttackSetup& setup) {
  Figures f;
  for (int k : {1, 4, 12}) {
    auto t = start_target(setup, {}, false);
    if (!t) return f;
    auto painters = painters_start(t->process.port);
    if (!painters) return f;
    std::vector<Peer> flood{size_t(k)};
    std::vector<int> in_flight(size_t(k), 0);
    int logged = 0;
    for (Peer& p : flood) logged += peer_login(&p, ATTACKER, t->process.port, "flood", 5);
    double start = now();
    while (now() < start + setup.seconds) {
      for (size_t i = 0; i < flood.size(); i++) {
        Peer& p = flood[i];
        if (p.fd < 0 || p.id == 0) continue;
        while (in_flight[i] < 2 && peer_send(&p, dear_frame(p.id))) in_flight[i]++;
        if (peer_wait(&p, MSG_ACCEPTED, 0.01)) in_flight[i]--;
      }
    }
    std::string k_text = std::to_string(k);
    f.add(k_text + " sessions: logged in", logged);
    Figures each;
    painters_report(painters.get(), &each, now() - start);
    add_memory(&each, *t);
    for (auto& item : each.items) f.add(k_text + " sessions: " + item.first, item.second);
    for (Peer& p : flood) peer_close(&p);
  }
  return f;
}

// 1000 idle connections from one address, then newcomers from elsewhere.
Figures attack_idle(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  std::vector<int> idle;
  for (int i = 0; i < 1000; i++) idle.push_back(loopback_connect(ATTACKER, t->process.port));
  pause_for(1);
  int open = 0;
  for (int fd : idle) {
    char byte;
    if (fd >= 0 && !(wait_fd(fd, POLLIN, 0) && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0)) open++;
  }
  f.add("idle connections held open", open);
  int newcomers = 0;
  std::vector<Peer> peers(5);
  for (int i = 0; i < 5; i++) newcomers += peer_login(&peers[size_t(i)], loopback_address(5, i), t->process.port, "new", 5);
  f.add("newcomers logged in (of 5)", newcomers);
  add_memory(&f, *t);
  for (Peer& p : peers) peer_close(&p);
  for (int fd : idle)
    if (fd >= 0) close(fd);
  return f;
}

// One address logs in as many users as it can, one after the other.
Figures attack_seats(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  std::vector<Peer> seated;
  for (double end = now() + setup.seconds; now() < end && seated.size() < MAX_USERS;) {
    Peer p;
    if (peer_login(&p, ATTACKER, t->process.port, "seat", end - now()))
      seated.push_back(p);
    else
      peer_close(&p);
  }
  f.add("seats taken by one address", double(seated.size()));
  int newcomers = 0;
  std::vector<Peer> others(5);
  for (int i = 0; i < 5; i++) newcomers += peer_login(&others[size_t(i)], loopback_address(5, i), t->process.port, "new", 5);
  f.add("newcomers logged in (of 5)", newcomers);
  for (Peer& p : seated) peer_close(&p);
  for (Peer& p : others) peer_close(&p);
  return f;
}

// Three sessions of one address vote against two honest users.
Figures attack_votes(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, pen_stroke(1, 5, 10, 10), false);
  if (!t) return f;
  PainterSetup two;
  two.count = 2;
  auto painters = painters_start(t->process.port, two);
  if (!painters) return f;
  int victim = painters->peers[1].id;
  std::vector<Peer> voters(3);
  for (Peer& p : voters) peer_login(&p, ATTACKER, t->process.port, "voter", 10);
  double start = now();
  for (Peer& p : voters) peer_send(&p, {MSG_KICK, 1, 0, uint8_t(victim)});
  for (Peer& p : voters) peer_send(&p, {MSG_RESTART, 1, 0, 1});
  pause_for(2);
  f.add("archives made by the restart vote", double(count_archives(*t)));
  painters_report(painters.get(), &f, now() - start);
  for (Peer& p : voters) peer_close(&p);
  return f;
}

// One user alone votes restarts, on an empty board and painting in between.
Figures attack_restarts(const AttackSetup& setup) {
  Figures f;
  for (bool painting : {false, true}) {
    auto t = start_target(setup, {}, false);
    if (!t) return f;
    Peer p;
    if (!peer_login(&p, ATTACKER, t->process.port, "alone")) return f;
    double start = now();
    long votes = 0;
    while (now() < start + setup.seconds) {
      if (painting) {
        peer_send(&p, pen_stroke(p.id, 3, 5, 5));
        peer_wait(&p, MSG_ACCEPTED, 1);
      }
      peer_send(&p, {MSG_RESTART, 1, 0, 1});
      votes++;
      peer_wait(&p, MSG_CHAT, 1);
    }
    peer_close(&p);
    f.add(std::string(painting ? "painting in between" : "empty board") + ": votes", double(votes));
    f.add(std::string(painting ? "painting in between" : "empty board") + ": archives",
          double(count_archives(*t)));
  }
  return f;
}

// 100 sessions of one address chat, each at 50 lines a second, to a reader
// who takes 256 KiB a second.
Figures attack_chat(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  PainterSetup reader;
  reader.count = 1;
  reader.rate = 1;
  reader.read_limit = 256 * 1024;
  auto painters = painters_start(t->process.port, reader);
  if (!painters) return f;
  std::vector<Peer> chat(100);
  for (Peer& p : chat) {
    p.fd = loopback_connect(ATTACKER, t->process.port);
    peer_send(&p, login_frame("chat"));
  }
  Bytes line = chat_line(std::string(511, 'x'));
  double start = now();
  int logged = 0;
  for (double tick = start; now() < start + setup.seconds; tick += 0.02) {
    pause_for(tick - now());
    for (Peer& p : chat) {
      if (p.fd < 0) continue;
      if (p.id == 0) {
        Bytes reply;
        if (next_frame(&p, 0, &reply) == MSG_LOGIN) {
          p.id = reply[0];
          logged++;
        }
        continue;
      }
      if (send(p.fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) peer_close(&p);
      char drop[65536];
      while (recv(p.fd, drop, sizeof drop, MSG_DONTWAIT) > 0) {
      }
    }
  }
  double seconds = now() - start;
  f.add("chat sessions logged in", logged);
  f.add("chat reaching the reader, KiB/s", double(painters->chat_bytes) / 1024 / seconds);
  f.add("reader disconnected after, s", painters->disconnected ? painters->first_gone : NAN);
  painters_report(painters.get(), &f, seconds);
  add_memory(&f, *t);
  for (Peer& p : chat) peer_close(&p);
  return f;
}

double sent_bytes(int web_port) {
  HttpAnswer m = http_exchange(web_port, get("/metrics"));
  size_t at = m.body.find("\neasel_sent_bytes_total ");
  return at == std::string::npos ? NAN : atof(m.body.c_str() + at + 24);
}

// Connect, log in, leave, from one address, on a large board.
Figures attack_login_churn(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, board_of_size(setup.board_bytes), true);
  if (!t) return f;
  auto painters = painters_start(t->process.port);
  if (!painters) return f;
  double before = sent_bytes(t->web_port), start = now();
  long logins = 0;
  while (now() < start + setup.seconds) {
    int fd = loopback_connect(ATTACKER, t->process.port);
    Bytes login = login_frame("churn");
    if (fd >= 0 && send(fd, login.data(), login.size(), MSG_NOSIGNAL) > 0) logins++;
    // Reads a little, as a client starting to take the board would.
    char block[65536];
    if (fd >= 0 && wait_fd(fd, POLLIN, 0.05)) recv(fd, block, sizeof block, 0);
    if (fd >= 0) close(fd);
  }
  double seconds = now() - start;
  pause_for(1);
  f.add("logins sent", double(logins));
  f.add("server sent, MiB/s", (sent_bytes(t->web_port) - before) / 1048576 / seconds);
  painters_report(painters.get(), &f, seconds);
  add_memory(&f, *t);
  return f;
}

// Wrong passwords of /motd as fast as they are answered.
Figures attack_motd(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false);
  if (!t) return f;
  std::ifstream cmdline("/proc/" + std::to_string(t->process.pid) + "/cmdline");
  std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  f.add("password on the command line", args.find(PASSWORD) != std::string::npos);
  Peer p;
  if (!peer_login(&p, ATTACKER, t->process.port, "guesser")) return f;
  double start = now();
  long checked = 0;
  for (long guess = 0; now() < start + setup.seconds; guess++) {
    peer_send(&p, motd_guess(guess));
    Bytes reply;
    if (!peer_wait(&p, MSG_CHAT, 1, &reply)) continue;
    checked += std::string(reply.begin() + 1, reply.end()).rfind("Wrong password", 0) == 0;
  }
  double seconds = now() - start;
  peer_close(&p);
  f.add("guesses looked at, per second", double(checked) / seconds);
  f.add("log lines per second", double(log_count(*t, "gave a wrong password")) / seconds);
  return f;
}

// 84 users of 11 addresses that never read, 40 addresses chatting at their
// rate, and painters who read: every seat taken, and the unread output of
// all of them together (quick with --login-rate 1000).
Figures attack_memory(const AttackSetup& setup) {
  Figures f;
  auto t = start_target(setup, {}, false, setup.address_space);
  if (!t) return f;
  auto painters = painters_start(t->process.port);
  if (!painters) return f;
  std::vector<Peer> sleepers(84), chat(40);
  for (size_t i = 0; i < sleepers.size(); i++)
    peer_login(&sleepers[i], loopback_address(9, 512 + int(i / 8)), t->process.port, "sleeper", 5, 4096);
  for (size_t i = 0; i < chat.size(); i++) peer_login(&chat[i], loopback_address(9, 768 + int(i)), t->process.port, "chat", 5);
  Bytes lines;
  for (int i = 0; i < 10; i++) lines = concat_bytes(lines, chat_line(std::string(511, 'x')));
  double start = now();
  for (double tick = start; now() < start + setup.seconds && alive(*t); tick += 0.1) {
    pause_for(tick - now());
    for (Peer& p : chat) {
      if (p.fd < 0) continue;
      if (send(p.fd, lines.data(), lines.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) peer_close(&p);
      char drop[65536];
      while (recv(p.fd, drop, sizeof drop, MSG_DONTWAIT) > 0) {
      }
    }
  }
  double seconds = now() - start;
  f.add("server alive", alive(*t));
  add_memory(&f, *t);
  f.add("users cut off for unread output", double(log_count(*t, "of output not read")));
  painters_report(painters.get(), &f, seconds);
  for (Peer& p : sleepers) peer_close(&p);
  for (Peer& p : chat) peer_close(&p);
  return f;
}

}  // namespace

const NamedAttack ATTACKS[] = {
    {"web", "hostile HTTP requests (ranges, endless heads, bodies, methods, tags)", attack_web},
    {"web-slow", "slow and silent web clients; the first picture of a large board", attack_web_slow},
    {"web-board", "eight downloads of a large board at once", attack_web_board},
    {"reconnect", "connect, log in, one dear smudge and a /motd guess, close, from one address", attack_reconnect},
    {"fresh-sources", "40 fresh addresses send one dear smudge each at once", attack_fresh_sources},
    {"memory", "84 users who never read and 40 chatting addresses", attack_memory},
    {"sessions", "K sessions of one address sending dear smudges", attack_sessions},
    {"idle", "1000 idle connections from one address", attack_idle},
    {"seats", "one address logs in as many users as it can", attack_seats},
    {"votes", "three sessions of one address vote against two users", attack_votes},
    {"restarts", "one user votes restarts", attack_restarts},
    {"chat", "100 chatting sessions of one address and a reader on an ordinary link", attack_chat},
    {"login-churn", "log in and leave again and again on a large board", attack_login_churn},
    {"motd", "wrong /motd passwords as fast as answered", attack_motd},
};
const int ATTACK_COUNT = int(sizeof ATTACKS / sizeof ATTACKS[0]);

const NamedAttack* attack_named(const std::string& name) {
  for (const NamedAttack& a : ATTACKS)
    if (name == a.name) return &a;
  return nullptr;
}
