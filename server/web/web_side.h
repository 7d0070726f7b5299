// The web side of the server, as the relay loop sees it: the HTTP transport
// and the browsers' WebSocket on a thread of their own (web_server.h), the
// routes (web_routes.h), the board's painter thread (web_board.h: the
// picture and the checkpoints) and the browsers' connections handed to the
// relay loop (web_bridge.h). The relay
// loop tells it what the board and its users are, and takes the browsers'
// connections when the wake-up descriptor is readable; it never waits for
// the web side, and the web side never calls into the relay.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "board_file.h"
#include "checkpoint_file.h"
#include "metrics.h"
#include "options.h"
#include "web_bridge.h"

struct WebSide;

// Starts the board's painter and, with --http, listens on the --bind address
// and the --http port (0: a free one) and serves the board and metrics (read
// on the web thread). nullptr on failure (logged).
WebSide* web_side_start(const ServerOptions* options, const ServerMetrics* metrics);
// Tells every browser that the server stops, ends the threads and closes the
// connections not taken.
void web_side_stop(WebSide* w);

// Readable while browsers' connections wait to be taken.
int web_side_wakeup_fd(const WebSide* w);
// Every browser's connection offered since the last call: the relay's end.
std::vector<BridgedConnection> web_side_take(WebSide* w);
// The board as written and acknowledged, its first length bytes holding
// commands frames. Another file is a new board (a restart).
void web_side_board(WebSide* w, const std::shared_ptr<BoardFile>& file, size_t length, size_t commands);
void web_side_users(WebSide* w, std::vector<std::string> names);
// The board's latest checkpoint, or null.
std::shared_ptr<const Checkpoint> web_side_checkpoint(WebSide* w);
