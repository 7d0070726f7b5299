// What the web side's two transports share, HTTP (web_server.cpp) and the
// browsers' WebSocket (web_socket.cpp): the event loop and its bounds. The
// only header that includes Boost.Beast, for those two files alone.
#pragma once
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "web_server.h"

class SocketSession;
class HttpSession;

// One source's web connections and its download bucket (bytes of answers'
// bodies: --download-rate a second, --download-burst at most, run into debt
// by one chunk at most).
struct SourceCount {
  int open = 0;
  double tokens = 0, refilled_at = 0;
};

// What the connections count, shared so that it outlives the event loop's end
// (the sessions still pending when it ends are freed with it).
struct WebCounts {
  int open = 0;
  double download_rate = 0, download_burst = 0;  // per source
  std::unordered_map<std::string, SourceCount> per_source;
  std::unordered_set<SocketSession*> sockets;  // browsers on a WebSocket
  // Connections waiting for a request head: the first to go when every place is taken.
  std::unordered_set<HttpSession*> idle;
};

// One open web connection's place in the counts, from its acceptance to its
// close, passed from the HTTP session to the WebSocket session it becomes.
struct WebSlot {
  std::shared_ptr<WebCounts> counts;
  std::string source;
  bool trusted = false;
  // A trusted proxy's connection: its source is the client of each request,
  // counted from its first request on (counted).
  bool proxy = false;
  bool counted = false;
  sockaddr_storage peer = {};  // the client: the peer, or whom a proxy speaks for
  WebSlot() = default;
  WebSlot(const WebSlot&) = delete;
  WebSlot& operator=(const WebSlot&) = delete;
  WebSlot(WebSlot&& o) noexcept { *this = std::move(o); }
  WebSlot& operator=(WebSlot&& o) noexcept;
  ~WebSlot() { release(); }
  void release();
};

struct WebServer {
  boost::asio::io_context io{1};
  boost::asio::ip::tcp::acceptor acceptor{io};
  boost::asio::steady_timer accept_pause{io};
  boost::asio::steady_timer stop_wait{io};
  const ServerOptions* options = nullptr;
  WebHandler handler;
  WebBridge* bridge = nullptr;  // null: no WebSocket
  std::shared_ptr<WebCounts> counts = std::make_shared<WebCounts>();
  int port = 0;
  std::thread thread;
};

// A request head that asked for the WebSocket at SOCKET_PATH with an allowed
// Origin: the handshake, then the browser's session.
void web_socket_accept(WebServer* w, boost::beast::tcp_stream stream,
                       boost::beast::http::request<boost::beast::http::empty_body> request,
                       WebSlot slot);
// The server stops: every browser is told so (1001).
void web_sockets_going_away(WebServer* w);
