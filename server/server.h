// The event loop: one epoll set with the listening socket, a signal
// descriptor and every client socket, all non-blocking.
#pragma once
#include <sys/socket.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "board.h"
#include "client.h"
#include "metrics.h"
#include "options.h"
#include "relay.h"
#include "web_bridge.h"

struct Server {
  ServerOptions options;
  Board board;
  Relay relay;
  int epoll_fd = -1;
  int listen_fd = -1;
  int signal_fd = -1;
  int port = 0;  // the port actually bound
  std::unordered_map<Client*, std::unique_ptr<Client>> clients;
  std::vector<Client*> paused;     // clients whose reading waits for the rate limit
  std::vector<Client*> graveyard;  // closed during this iteration, freed at its end
  unsigned next_serial = 1;
  double accept_resume_at = 0;  // accepting paused after running out of descriptors
  double next_deadline_check = 0;
  bool stopping = false;
  // Metrics and the optional web view (server_watch.cpp).
  ServerMetrics metrics;
  struct HttpView* view = nullptr;
  WebBridge bridge;  // browsers' connections from the web side, while it runs
  unsigned roster_seen = 0;
  long acks_sending = 0;  // acknowledgements written this iteration, timed after sending
  double acks_since = 0;  // when the oldest acknowledgement not yet sent was read
};

// Opens the board, binds the socket and sets up the loop. Returns 0 on failure
// (already logged).
int server_start(Server* s, const ServerOptions& options);
// Takes a connected, non-blocking socket as a connection from source (its
// peer, or the host a bridge speaks for; the bridge's farewell then hears why
// the connection ends). Returns 0 when it was refused and closed (logged).
int server_add_connection(Server* s, int fd, const sockaddr_storage& source, double now,
                          const Farewell& farewell = nullptr);
// Runs until SIGINT or SIGTERM; then flushes the board and closes everything.
void server_run(Server* s);
void server_stop(Server* s);
// Starts the web view when asked for; returns 0 on failure (logged).
int server_watch_start(Server* s);
// The board is written: the web view gets what is about to be acknowledged
// and the users present, before any acknowledgement leaves.
void server_watch_written(Server* s);
// After each loop iteration: the acknowledgement latency.
void server_watch_update(Server* s, double iteration_start);
void server_watch_disconnect(Server* s, DisconnectReason kind);
// The browsers' connections the web side has handed over.
void server_watch_bridged(Server* s, double now);
void server_watch_stop(Server* s);

