// The event loop: one epoll set with the listening socket, a signal
// descriptor and every client socket, all non-blocking.
#pragma once
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "board.h"
#include "client.h"
#include "metrics.h"
#include "options.h"
#include "relay.h"

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
  ServerMetrics metrics;
  long acks_sending = 0;  // acknowledgements written this iteration, timed after sending
  double acks_since = 0;  // when the oldest acknowledgement not yet sent was read
  struct WebSide* web = nullptr;  // with --http: the web side (web/web_side.h)
  unsigned roster_seen = 0;       // the relay's roster as the web side last heard it
  // Lines about connections, per source: LOG_LINES_PER_SECOND, the rest
  // counted and said once a second.
  struct LogFold {
    double lines = 0, refilled_at = 0;
    long folded = 0;
  };
  std::unordered_map<std::string, LogFold> log_folds;
};

// Opens the board, binds the socket and sets up the loop. Returns 0 on failure
// (already logged).
int server_start(Server* s, const ServerOptions& options);
// Runs until SIGINT or SIGTERM; then flushes the board and closes everything.
void server_run(Server* s);
void server_stop(Server* s);
