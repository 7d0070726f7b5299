// The web view of the board: the page's files (web_files.h; without them, and
// at /?watch, a built-in read-only page), the picture as PNG, the board file
// and the metrics, served by the web side (web_server.h) on a thread of its
// own and drawn by a painter thread; browsers that paint reach the relay
// through the WebSocket (web_bridge.h). The relay loop only hands over the
// board file's descriptor, length and users under a lock that no one holds
// for longer than a pointer copy, so it never waits for the web side. The
// view keeps no copy of the board: both the painter and /board.easel read
// the board file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "output_queue.h"

struct HttpView;
struct ServerMetrics;
struct WebBridge;

// Listens on the --bind address and the --http port (0: a free one).
// nullptr on failure (logged).
HttpView* http_view_start(const ServerOptions* options, const ServerMetrics* metrics,
                          WebBridge* bridge);
int http_view_port(const HttpView* v);
void http_view_stop(HttpView* v);

// Relay loop side: the board as written and acknowledged, its first length
// bytes holding commands frames. Another file is a new board (a restart).
void http_view_board(HttpView* v, const std::shared_ptr<BoardFile>& file, size_t length,
                     size_t commands);
void http_view_users(HttpView* v, std::vector<std::string> names);
