// The read-only web view of the board: a page, the picture as PNG, the board
// file and the metrics, served by threads of its own. The relay loop only
// appends to an append-only buffer and swaps pointers under locks that no one
// holds for longer than a pointer copy, so it never waits for the web side.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HttpView;
struct ServerMetrics;

// Listens on address (empty: every interface) and port (0: a free one); the
// picture starts from the board file's frames. nullptr on failure (logged).
HttpView* http_view_start(const std::string& address, int port, const std::string& board_path,
                          const ServerMetrics* metrics);
int http_view_port(const HttpView* v);
void http_view_stop(HttpView* v);

// Relay loop side. A command appended to the board, not written yet:
void http_view_stage(HttpView* v, const uint8_t* frame, size_t length);
// The staged commands are in the board file and acknowledged:
void http_view_commit(HttpView* v);
// A restart passed (the board was written first): a fresh picture begins.
void http_view_restart(HttpView* v);
void http_view_users(HttpView* v, std::vector<std::string> names);
