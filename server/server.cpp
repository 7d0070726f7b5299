#include "server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <new>

#include "net/message.h"
#include "rules.h"
#include "server_log.h"
#include "web/web_side.h"

static const size_t READ_BLOCK = 16 * 1024;
// Bytes read from one client per loop iteration, so that one busy client
// cannot starve the others.
static const size_t READ_PER_ITERATION = 64 * 1024;
static const double DRAIN_SECONDS = 5;

static const char* client_label(const Client* c, char* buffer, size_t size) {
  if (c->user_id > 0)
    snprintf(buffer, size, "#%u %d \"%s\"", c->serial, c->user_id, c->name.c_str());
  else
    snprintf(buffer, size, "#%u", c->serial);
  return buffer;
}

// ---- the log ----

static const double LOG_LINES_PER_SECOND = 10, LOG_LINES_BURST = 40;

// Whether a line about key's connections may be written now; the others are
// counted and said in one line a second (fold_report).
static bool log_allowed(Server* s, const std::string& key, double now) {
  Server::LogFold& f = s->log_folds[key];
  if (f.refilled_at == 0) f.lines = LOG_LINES_BURST;
  f.lines = std::min(LOG_LINES_BURST, f.lines + (now - f.refilled_at) * LOG_LINES_PER_SECOND);
  f.refilled_at = now;
  if (f.lines < 1) {
    f.folded++;
    return false;
  }
  f.lines -= 1;
  return true;
}

static void fold_report(Server* s, double now) {
  for (auto it = s->log_folds.begin(); it != s->log_folds.end();) {
    Server::LogFold& f = it->second;
    if (f.folded > 0) server_log("%ld more lines about connections from %s left out", f.folded, it->first.c_str());
    f.folded = 0;
    f.lines = std::min(LOG_LINES_BURST, f.lines + (now - f.refilled_at) * LOG_LINES_PER_SECOND);
    f.refilled_at = now;
    it = f.lines >= LOG_LINES_BURST ? s->log_folds.erase(it) : std::next(it);
  }
}

static void set_events(Server* s, Client* c, uint32_t events) {
  if (c->closed || c->epoll_events == events) return;
  epoll_event ev = {};
  ev.events = events;
  ev.data.ptr = c;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_MOD, c->fd, &ev) != 0) {
    // The old events stay in force; the next change tries again.
    server_log("error: cannot change the events of #%u: %s", c->serial, strerror(errno));
    return;
  }
  c->epoll_events = events;
}

static void update_reading(Server* s, Client* c) {
  uint32_t events = c->epoll_events & EPOLLOUT;
  bool reading = c->state == CLIENT_DRAINING ||
                 ((c->state == CLIENT_LOGIN || c->state == CLIENT_ACTIVE) && !c->paused);
  if (reading && !c->peer_closed) events |= EPOLLIN | EPOLLRDHUP;
  set_events(s, c, events);
}

// A bridged browser hears why before the relay's end goes quiet.
static void say_farewell(const Client* c, DisconnectReason kind) {
  if (c->farewell) c->farewell->store(int(kind) + 1);
}

// Closes c for good. A refused or kicked client, whose reason was logged when
// it was turned away, goes without a reason and is counted as what it was.
static void disconnect(Server* s, Client* c, DisconnectReason kind, const char* reason) {
  if (c->closed) return;
  char label[64];
  if (reason && (c->user_id > 0 || log_allowed(s, c->log_key, now_seconds())))
    server_log("%s left: %s", client_label(c, label, sizeof label), reason);
  c->closed = true;
  metrics_add(&s->metrics.disconnects[reason ? kind : c->leaving], 1);
  say_farewell(c, reason ? kind : c->leaving);
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_DEL, c->fd, nullptr) != 0)
    server_log("error: cannot stop watching #%u: %s", c->serial, strerror(errno));
  close(c->fd);
  c->fd = -1;
  output_clear(&c->output);
  relay_close(&s->relay, c);
  s->graveyard.push_back(c);
}

static void finish(Server* s, Client* c) { disconnect(s, c, c->leaving, nullptr); }

static void mark_for_sending(Server* s, Client* c) {
  if (c->dirty) return;
  c->dirty = true;
  s->relay.dirty.push_back(c);
}

// A user who broke the protocol leaves at once, but the acknowledgements of the
// commands taken from it before still go, within the grace of refused and
// kicked users.
static void refuse(Server* s, Client* c, const char* reason) {
  if (c->state != CLIENT_ACTIVE) {
    disconnect(s, c, LEFT_PROTOCOL, reason);
    return;
  }
  char label[64];
  server_log("%s left: %s", client_label(c, label, sizeof label), reason);
  relay_leave(&s->relay, c);
  c->state = CLIENT_CLOSING;
  c->leaving = LEFT_PROTOCOL;
  c->input.clear();
  c->input_start = 0;
  update_reading(s, c);
  mark_for_sending(s, c);
}

// ---- input ----

// Once in the list however often it is held back (a hang-up is reported to a
// paused client too).
static void pause_reading(Server* s, Client* c) {
  if (!c->paused) s->paused.push_back(c);
  c->paused = true;
  update_reading(s, c);
}

// A peer that ended its stream has its frames taken as its limits allow (they
// are still its commands, acknowledged as far as it reads) and then goes.
static void process_input(Server* s, Client* c, double now) {
  std::string reason;
  switch (relay_take_input(&s->relay, c, now, &reason)) {
    case INPUT_LIMITED:
      pause_reading(s, c);
      return;
    case INPUT_REFUSED:
      refuse(s, c, reason.c_str());
      break;
    case INPUT_WAITING:
      break;
  }
  if (!c->peer_closed || c->closed) return;
  if (c->state == CLIENT_CLOSING) {
    finish(s, c);
  } else {
    bool mid_frame = c->input.size() > c->input_start;
    disconnect(s, c, LEFT_CLOSED,
               mid_frame ? "closed the connection in the middle of a frame" : "closed the connection");
  }
}

static void read_client(Server* s, Client* c, double now) {
  size_t total = 0;
  bool closed_by_peer = false;
  while (total < READ_PER_ITERATION) {
    if (c->input_start > 0) {
      c->input.erase(c->input.begin(), c->input.begin() + long(c->input_start));
      c->input_start = 0;
    }
    size_t old = c->input.size();
    c->input.resize(old + READ_BLOCK);
    ssize_t n = recv(c->fd, c->input.data() + old, READ_BLOCK, 0);
    c->input.resize(old + (n > 0 ? size_t(n) : 0));
    if (n > 0) {
      total += size_t(n);
      metrics_add(&s->metrics.bytes_in, n);
      if (c->state == CLIENT_CLOSING || c->state == CLIENT_DRAINING) c->input.clear();
      continue;
    }
    if (n == 0) {
      closed_by_peer = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    if (c->state == CLIENT_LOGIN || c->state == CLIENT_ACTIVE) {
      char reason[96];
      snprintf(reason, sizeof reason, "receive error: %s", strerror(errno));
      disconnect(s, c, LEFT_ERROR, reason);
    } else {
      finish(s, c);
    }
    return;
  }
  if (c->state == CLIENT_CLOSING || c->state == CLIENT_DRAINING) {
    if (closed_by_peer) finish(s, c);
    return;
  }
  if (c->input.empty() && c->input.capacity() > READ_BLOCK) c->input.shrink_to_fit();
  if (closed_by_peer) {
    // Nothing more to read: the frames still buffered wait for the limits.
    c->peer_closed = true;
    set_events(s, c, c->epoll_events & ~uint32_t(EPOLLIN | EPOLLRDHUP));
  }
  process_input(s, c, now);
}

// ---- connections ----

static std::string address_text(const sockaddr_storage* address) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (address->ss_family == AF_INET) {
    const sockaddr_in* a = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
    port = ntohs(a->sin_port);
  } else if (address->ss_family == AF_INET6) {
    const sockaddr_in6* a = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    port = ntohs(a->sin6_port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

static void set_listening(Server* s, bool on) {
  epoll_event ev = {};
  ev.events = on ? uint32_t(EPOLLIN) : 0u;
  ev.data.ptr = &s->listen_fd;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_MOD, s->listen_fd, &ev) != 0)
    server_log("error: cannot %s accepting connections: %s", on ? "resume" : "pause",
               strerror(errno));
}

// Takes a connected, non-blocking socket as a connection from source (its
// peer, or the host a bridge speaks for; the bridge's farewell then hears why
// the connection ends). Returns 0 when it was refused and closed (logged).
static int add_connection(Server* s, int fd, const sockaddr_storage& source, double now,
                          const Farewell& farewell = nullptr) {
  std::string peer = address_text(&source);
  std::string log_key = source_key(&s->options, source);
  if (farewell) farewell->store(LEFT_REFUSED + 1);  // until it is taken
  if (int(s->clients.size()) >= s->options.max_connections) {
    if (log_allowed(s, log_key, now))
      server_log("connection from %s refused: %d connections are open", peer.c_str(), int(s->clients.size()));
    metrics_add(&s->metrics.disconnects[LEFT_REFUSED], 1);
    close(fd);
    return 0;
  }
  if (!farewell) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A peer that vanished without closing (a crashed machine, a dropped
    // network) would keep its id and count among the voters: probe idle
    // connections after a minute and give up after six unanswered probes.
    // (The web side pings a browser on the same schedule.)
    int idle = 60, interval = 10, probes = 6;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  }
  std::unique_ptr<Client> owned(new Client);
  Client* c = owned.get();
  std::string why;
  if (!relay_admit(&s->relay, c, source, now, &why)) {
    if (log_allowed(s, log_key, now)) server_log("connection from %s refused: %s", peer.c_str(), why.c_str());
    metrics_add(&s->metrics.disconnects[LEFT_REFUSED], 1);
    close(fd);
    return 0;
  }
  c->fd = fd;
  c->serial = s->next_serial++;
  c->address = peer;
  c->log_key = log_key;
  c->deadline = now + s->options.login_timeout;
  epoll_event ev = {};
  ev.events = EPOLLIN | EPOLLRDHUP;
  ev.data.ptr = c;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0) {
    server_log("error: cannot watch the connection from %s: %s", peer.c_str(), strerror(errno));
    relay_close(&s->relay, c);
    close(fd);
    return 0;
  }
  c->epoll_events = ev.events;
  c->farewell = farewell;
  if (farewell) farewell->store(0);
  s->clients[c] = std::move(owned);
  if (log_allowed(s, log_key, now))
    server_log("#%u %sconnection from %s", c->serial, farewell ? "WebSocket " : "", peer.c_str());
  return 1;
}

static void accept_clients(Server* s, double now) {
  for (int i = 0; i < 64; i++) {
    sockaddr_storage address;
    socklen_t length = sizeof address;
    int fd = accept4(s->listen_fd, reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      // Out of descriptors or memory: stop accepting for a moment instead of
      // spinning on a connection that cannot be taken.
      server_log("error: cannot accept a connection: %s", strerror(errno));
      s->accept_resume_at = now + 0.1;
      set_listening(s, false);
      return;
    }
    add_connection(s, fd, address, now);
  }
}

// A browser's connection, handed over by the web side.
static void take_bridged(Server* s, double now) {
  for (const BridgedConnection& c : web_side_take(s->web)) add_connection(s, c.fd, c.source, now, c.farewell);
}

// ---- output ----

static void send_output(Server* s, Client* c, double now) {
  if (c->closed) return;
  if (c->overflow) {
    char reason[160];
    snprintf(reason, sizeof reason,
             "disconnected: more than %zu bytes of output not read, or the most of all users past %zu",
             s->options.max_pending_output, s->options.max_output_total);
    disconnect(s, c, LEFT_OVERFLOW, reason);
    return;
  }
  uint64_t sent_before = c->output.sent;
  int r = output_send(&c->output, c->fd);
  metrics_add(&s->metrics.bytes_out, int64_t(c->output.sent - sent_before));
  if (r < 0) {
    char reason[96];
    snprintf(reason, sizeof reason, "send error: %s", strerror(errno));
    if (c->state == CLIENT_DRAINING)
      finish(s, c);
    else
      disconnect(s, c, LEFT_ERROR, reason);
    return;
  }
  uint32_t events = c->epoll_events & ~uint32_t(EPOLLOUT);
  if (r == 0) events |= EPOLLOUT;
  set_events(s, c, events);
  if (r == 1 && c->state == CLIENT_CLOSING) {
    // Everything said: end our side and wait briefly for the peer to close, so
    // that the last lines are not lost to a reset.
    say_farewell(c, c->leaving);
    shutdown(c->fd, SHUT_WR);
    c->state = CLIENT_DRAINING;
    c->deadline = now + DRAIN_SECONDS;
    update_reading(s, c);
  }
}

static void send_all(Server* s, double now) {
  std::vector<Client*>& dirty = s->relay.dirty;
  // Disconnecting one client can queue output for others: the list grows.
  for (size_t i = 0; i < dirty.size(); i++) {
    dirty[i]->dirty = false;
    send_output(s, dirty[i], now);
  }
  dirty.clear();
}

// ---- timers ----

static void check_timers(Server* s, double now) {
  for (size_t i = 0; i < s->paused.size();) {
    Client* c = s->paused[i];
    if (c->closed || !c->paused) {
      s->paused[i] = s->paused.back();
      s->paused.pop_back();
      continue;
    }
    if (c->resume_at <= now) {
      c->paused = false;
      s->paused[i] = s->paused.back();
      s->paused.pop_back();
      update_reading(s, c);
      try {
        process_input(s, c, now);
      } catch (const std::bad_alloc&) {
        disconnect(s, c, LEFT_ERROR, "out of memory while serving it");
      }
      continue;
    }
    i++;
  }
  if (s->accept_resume_at > 0 && s->accept_resume_at <= now) {
    s->accept_resume_at = 0;
    set_listening(s, true);
  }
  if (now < s->next_deadline_check) return;
  s->next_deadline_check = now + 1;
  relay_tick(&s->relay, now);
  fold_report(s, now);
  for (auto& entry : s->clients) {
    Client* c = entry.first;
    if (c->closed) continue;
    if (c->state == CLIENT_CLOSING) {
      // A refused or kicked client that does not take its last lines.
      if (c->closing_since == 0)
        c->closing_since = now;
      else if (now - c->closing_since > DRAIN_SECONDS)
        finish(s, c);
      continue;
    }
    if (c->deadline > now) continue;
    if (c->state == CLIENT_LOGIN) {
      char reason[64];
      snprintf(reason, sizeof reason, "did not log in within %d seconds", s->options.login_timeout);
      disconnect(s, c, LEFT_TIMEOUT, reason);
    } else if (c->state == CLIENT_DRAINING) {
      finish(s, c);
    }
  }
}

static int next_timeout_ms(const Server* s, double now) {
  double wait = 1.0;
  for (const Client* c : s->paused)
    if (c->paused) wait = std::min(wait, c->resume_at - now);
  if (s->accept_resume_at > 0) wait = std::min(wait, s->accept_resume_at - now);
  if (wait <= 0) return 0;
  return int(wait * 1000) + 1;
}

// ---- start, loop, stop ----

static int open_listener(Server* s) {
  addrinfo hints = {};
  hints.ai_family = s->options.bind_address.empty() ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  std::string port = std::to_string(s->options.port);
  addrinfo* found = nullptr;
  const char* host = s->options.bind_address.empty() ? nullptr : s->options.bind_address.c_str();
  int err = getaddrinfo(host, port.c_str(), &hints, &found);
  if (err != 0) {
    server_log("error: cannot resolve the address %s: %s", host ? host : "*", gai_strerror(err));
    return 0;
  }
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 511) == 0) {
      sockaddr_storage bound;
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      s->port = bound.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      s->listen_fd = fd;
      server_log("listening on %s", address_text(&bound).c_str());
      freeaddrinfo(found);
      return 1;
    }
    err = errno;
    close(fd);
  }
  freeaddrinfo(found);
  server_log("error: cannot listen on %s port %d: %s", host ? host : "every interface",
             s->options.port, strerror(err));
  return 0;
}

// The web side (the board's painter, which makes the checkpoints, and with
// --http the web view): its wake-up descriptor in the loop's set, and the
// board as it is.
static int start_web_side(Server* s) {
  s->web = web_side_start(&s->options, &s->metrics);
  if (!s->web) return 0;
  epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.ptr = &s->web;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, web_side_wakeup_fd(s->web), &ev) != 0) {
    server_log("error: cannot set up the web side's connections: %s", strerror(errno));
    return 0;
  }
  web_side_board(s->web, s->board.file, s->board.written, s->board.commands);
  s->roster_seen = s->relay.roster_changes - 1;  // the first iteration's end publishes the roster
  return 1;
}

// The resume sessions kept beside the board. Frames that reached the board
// file without the journal counting them (an iteration written in part, none
// of it acknowledged or relayed) are cut off first; then the journal is
// written anew.
static int open_resume_journal(Server* s) {
  Board* b = &s->board;
  uint64_t keep = resume_store_load(&s->relay.resume, b->path + ".resume", s->options.sync,
                                    s->options.resume_hours * 3600, resume_file_inode(b->file->fd), b->written,
                                    int64_t(time(nullptr)));
  if (keep < b->written) {
    server_log("warning: the board file %s ends in %zu bytes of an iteration written in part and never"
               " acknowledged; they are cut off",
               b->path.c_str(), size_t(b->written - keep));
    if (ftruncate(b->file->fd, off_t(keep)) != 0 || !board_open(b, b->path, s->options.sync)) {
      server_log("error: cannot cut the board file %s: %s", b->path.c_str(), strerror(errno));
      return 0;
    }
  }
  return resume_store_flush(&s->relay.resume);
}

int server_start(Server* s, const ServerOptions& options) {
  s->options = options;
  // Hundreds of users need hundreds of descriptors: take what the system allows.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  signal(SIGPIPE, SIG_IGN);
  // A file size limit makes the board's write fail instead of killing the server.
  signal(SIGXFSZ, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  s->signal_fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  s->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  if (s->signal_fd < 0 || s->epoll_fd < 0) {
    server_log("error: cannot set up the event loop: %s", strerror(errno));
    return 0;
  }
  if (!board_open(&s->board, options.board_path, options.sync)) return 0;
  relay_init(&s->relay, &s->options, &s->board);
  if (!open_resume_journal(s)) return 0;
  if (!open_listener(s)) return 0;
  if (!start_web_side(s)) return 0;
  // Without these the server would run deaf to connections or to its stop signals.
  epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.ptr = &s->listen_fd;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, s->listen_fd, &ev) != 0) {
    server_log("error: cannot watch the listening socket: %s", strerror(errno));
    return 0;
  }
  ev.data.ptr = &s->signal_fd;
  if (epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, s->signal_fd, &ev) != 0) {
    server_log("error: cannot watch the stop signals: %s", strerror(errno));
    return 0;
  }
  return 1;
}

static void free_closed(Server* s) {
  if (s->graveyard.empty()) return;
  std::vector<Client*>& dirty = s->relay.dirty;
  dirty.erase(std::remove_if(dirty.begin(), dirty.end(), [](Client* c) { return c->closed; }),
              dirty.end());
  std::vector<Client*>& paused = s->paused;
  paused.erase(std::remove_if(paused.begin(), paused.end(), [](Client* c) { return c->closed; }),
               paused.end());
  for (Client* c : s->graveyard) s->clients.erase(c);
  s->graveyard.clear();
}

static void read_signals(Server* s) {
  signalfd_siginfo info;
  while (read(s->signal_fd, &info, sizeof info) == ssize_t(sizeof info)) {
    server_log("shutting down on signal %d", int(info.ssi_signo));
    s->stopping = true;
  }
}

// The board is written: the metrics and the web side get what is about to
// be acknowledged and the users present, before any acknowledgement leaves.
static void publish_written(Server* s) {
  Relay* r = &s->relay;
  ServerMetrics* m = &s->metrics;
  metrics_add(&m->relayed, r->relayed);
  metrics_add(&m->restarts, r->restarts);
  metrics_add(&m->acknowledged, r->acks);
  for (int i = 0; i <= RESUME_BUSY; i++) metrics_add(&m->resumes[i], r->resume_outcomes[i]);
  std::fill(std::begin(r->resume_outcomes), std::end(r->resume_outcomes), 0);
  s->acks_sending += r->acks;
  r->relayed = r->restarts = r->acks = 0;
  m->users.store(r->user_count, std::memory_order_relaxed);
  m->board_bytes.store(int64_t(board_size(&s->board)), std::memory_order_relaxed);
  m->board_commands.store(int64_t(s->board.commands), std::memory_order_relaxed);
  if (!s->web) return;
  web_side_board(s->web, s->board.file, s->board.written, s->board.commands);
  r->checkpoint = web_side_checkpoint(s->web);
  if (s->roster_seen == r->roster_changes) return;
  s->roster_seen = r->roster_changes;
  std::vector<std::string> names;
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id]) names.push_back(r->users[id]->name);
  web_side_users(s->web, std::move(names));
}

// After the closed connections of the iteration are gone: the connections
// and the acknowledgement latency.
static void count_iteration(Server* s, double iteration_start) {
  s->metrics.connections.store(int64_t(s->clients.size()), std::memory_order_relaxed);
  // Acknowledgements held back while the board cannot be written count from
  // the iteration that read their commands.
  if (s->acks_since == 0 && (s->relay.acks > 0 || s->acks_sending > 0)) s->acks_since = iteration_start;
  if (s->acks_sending == 0) return;
  metrics_latency(&s->metrics, s->acks_sending, now_seconds() - s->acks_since);
  s->acks_sending = 0;
  s->acks_since = 0;
}

// Every loop iteration ends so: nothing is sent before the commands it
// acknowledges are in the board file, and the sessions' counts of them in the
// resume journal before that.
static void end_iteration(Server* s, double now) {
  if (resume_store_flush(&s->relay.resume) && board_flush(&s->board)) {
    publish_written(s);
    send_all(s, now);
    // Whoever still holds the most once everything was sent is no reader.
    relay_trim_output(&s->relay);
    send_all(s, now);
    resume_store_trim(&s->relay.resume, now);
  }
  free_closed(s);
  count_iteration(s, now);
}

// While the board or the resume journal cannot be written nothing may be
// acknowledged, so nothing is read either: the users' commands wait in their sockets, and the server
// only retries the write, once a second, and listens for its stop signals.
static void wait_for_the_board(Server* s) {
  pollfd p = {s->signal_fd, POLLIN, 0};
  if (poll(&p, 1, 1000) > 0) read_signals(s);
  end_iteration(s, now_seconds());
}

void server_run(Server* s) {
  epoll_event events[256];
  while (!s->stopping) {
    if (s->board.failing || s->relay.resume.failing) {
      wait_for_the_board(s);
      continue;
    }
    double now = now_seconds();
    int n = epoll_wait(s->epoll_fd, events, 256, next_timeout_ms(s, now));
    if (n < 0 && errno != EINTR) {
      server_log("error: epoll_wait: %s", strerror(errno));
      break;
    }
    now = now_seconds();
    for (int i = 0; i < n; i++) {
      void* tag = events[i].data.ptr;
      uint32_t ev = events[i].events;
      if (tag == &s->listen_fd) {
        accept_clients(s, now);
      } else if (tag == &s->signal_fd) {
        read_signals(s);
      } else if (tag == &s->web) {
        take_bridged(s, now);
      } else {
        Client* c = static_cast<Client*>(tag);
        if (c->closed) continue;
        try {
          if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) read_client(s, c, now);
        } catch (const std::bad_alloc&) {
          // No memory for what this one sent: it alone goes.
          disconnect(s, c, LEFT_ERROR, "out of memory while serving it");
        }
        if (!c->closed && (ev & EPOLLOUT)) mark_for_sending(s, c);
      }
    }
    check_timers(s, now);
    end_iteration(s, now);
  }
}

void server_stop(Server* s) {
  web_side_stop(s->web);
  s->web = nullptr;
  if (s->board.file) {
    if (!resume_store_flush(&s->relay.resume)) {
      s->board.pending.clear();  // frames never acknowledged, which the journal does not count
    } else if (board_flush(&s->board)) {
      // Last words to whoever still reads, without waiting for anyone.
      for (Client* c : s->relay.dirty)
        if (!c->closed) output_send(&c->output, c->fd);
    }
    board_close(&s->board);
  }
  resume_store_close(&s->relay.resume);
  for (auto& entry : s->clients)
    if (!entry.first->closed) close(entry.first->fd);
  s->clients.clear();
  s->relay.dirty.clear();
  if (s->listen_fd >= 0) close(s->listen_fd);
  if (s->epoll_fd >= 0) close(s->epoll_fd);
  if (s->signal_fd >= 0) close(s->signal_fd);
  s->listen_fd = s->epoll_fd = s->signal_fd = -1;
  server_log("stopped");
}
