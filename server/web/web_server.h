// The HTTP side of the server: one event loop on a thread of its own that
// holds every web client to fixed bounds, so that no request can make the
// process hold much or wait long, and the relay loop never waits for it.
//
// Bounds (per connection unless said): a request head of at most 8 KiB and
// 64 header fields, complete within 5 s of the connection opening or of the
// previous answer; no request body at all; an answer written within 5 s plus
// 1 s per 64 KiB; at most 100 requests; open connections at most the
// configured number, and 16 per source (one IPv4 address or IPv6 /64) unless
// trusted. A request beyond a bound is answered (431, 413, 400) or dropped
// (time-out), and its connection closed.
//
// The transport knows the methods, conditional requests and ranges; what a
// path gives is the handler's. A WebSocket upgrade at SOCKET_PATH (the
// browser's painting client) takes the connection over after its request
// head, when its Origin is the server's own or allowed (403 otherwise), and
// keeps the connection's place in the counts (web_socket.cpp).
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "options.h"
#include "board_file.h"

struct WebServer;
struct WebBridge;

constexpr const char* SOCKET_PATH = "/ws";

// A GET or HEAD request (the others are answered 405 by the transport).
struct WebRequest {
  bool head = false;
  std::string path;   // the target up to its query
  std::string query;  // after '?', or empty
};

// The handler's answer. The transport answers If-None-Match with 304 when the
// tag matches, a single byte range with 206 (or 416), several ranges with the
// whole body, and HEAD without the body.
struct WebReply {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string etag;           // with its quotes; empty for none
  std::string cache_control;  // empty for none
  int retry_after = 0;        // seconds, sent when not 0 (with 503)
  bool ranges = false;        // byte ranges of the body may be asked for
  // The body: text, or the first file_length bytes of a file, read as they are sent.
  std::shared_ptr<const std::string> body;
  std::shared_ptr<BoardFile> file;
  size_t file_length = 0;
};

// Called on the web thread; must not block.
using WebHandler = std::function<void(const WebRequest& request, WebReply* reply)>;

// Listens on address (empty: every interface) and port (0: a free one);
// options give the connection limit, the trusted sources and the origins
// allowed besides the server's own; browsers on a WebSocket are handed to the
// relay through bridge (null: no WebSocket). nullptr on failure (logged).
WebServer* web_server_start(const std::string& address, int port, const ServerOptions* options,
                            WebHandler handler, WebBridge* bridge);
int web_server_port(const WebServer* w);
// Tells every browser on a WebSocket that the server stops (waiting at most
// a second for them), then ends every connection.
void web_server_stop(WebServer* w);
