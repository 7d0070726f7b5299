// The server's metrics and its web view, fed from the event loop, and the
// browsers' connections it hands over.
#include <sys/epoll.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "http_view.h"
#include "server.h"
#include "server_log.h"

int server_watch_start(Server* s) {
  if (s->options.http_port < 0) return 1;
  epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.ptr = &s->bridge;
  if (!web_bridge_open(&s->bridge) || epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, s->bridge.event_fd, &ev) != 0) {
    server_log("error: cannot set up the web side's connections: %s", strerror(errno));
    return 0;
  }
  s->view = http_view_start(&s->options, &s->metrics, &s->bridge);
  if (!s->view) return 0;
  http_view_board(s->view, s->board.file, s->board.written, s->board.commands);
  s->roster_seen = s->relay.roster_changes - 1;  // the first update publishes the roster
  return 1;
}

void server_watch_written(Server* s) {
  Relay* r = &s->relay;
  ServerMetrics* m = &s->metrics;
  metrics_add(&m->relayed, r->relayed);
  metrics_add(&m->restarts, r->restarts);
  metrics_add(&m->acknowledged, r->acks);
  s->acks_sending += r->acks;
  r->relayed = r->restarts = r->acks = 0;
  m->users.store(r->user_count, std::memory_order_relaxed);
  m->board_bytes.store(int64_t(board_size(&s->board)), std::memory_order_relaxed);
  m->board_commands.store(int64_t(s->board.commands), std::memory_order_relaxed);
  if (!s->view) return;
  http_view_board(s->view, s->board.file, s->board.written, s->board.commands);
  if (s->roster_seen != r->roster_changes) {
    s->roster_seen = r->roster_changes;
    std::vector<std::string> names;
    for (int id = 1; id <= MAX_USERS; id++)
      if (r->users[id]) names.push_back(r->users[id]->name);
    http_view_users(s->view, std::move(names));
  }
}

void server_watch_update(Server* s, double iteration_start) {
  // After the closed connections of the iteration are gone.
  s->metrics.connections.store(int64_t(s->clients.size()), std::memory_order_relaxed);
  // Acknowledgements held back while the board cannot be written count from
  // the iteration that read their commands.
  if (s->acks_since == 0 && (s->relay.acks > 0 || s->acks_sending > 0))
    s->acks_since = iteration_start;
  if (s->acks_sending == 0) return;
  metrics_latency(&s->metrics, s->acks_sending, now_seconds() - s->acks_since);
  s->acks_sending = 0;
  s->acks_since = 0;
}

void server_watch_disconnect(Server* s, DisconnectReason kind) {
  metrics_add(&s->metrics.disconnects[kind], 1);
}

void server_watch_bridged(Server* s, double now) {
  for (const BridgedConnection& c : web_bridge_take(&s->bridge))
    server_add_connection(s, c.fd, c.source, now, c.farewell);
}

// The web side first, so that nothing is offered once the bridge is closed.
void server_watch_stop(Server* s) {
  http_view_stop(s->view);
  s->view = nullptr;
  web_bridge_close(&s->bridge);
}
