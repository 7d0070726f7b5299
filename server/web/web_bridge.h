// Connections that the web side hands to the relay loop: each browser on a
// WebSocket is one end of a socket pair, which the relay loop takes as an
// ordinary connection from the browser's address, so every rule, limit and
// acknowledgement of a TCP user holds for it unchanged. The web thread offers
// ends; the relay loop, woken through an eventfd in its epoll set, takes them.
// Neither side holds the lock for more than a vector's push or swap.
#pragma once
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// What the relay loop tells the web side about one connection before it ends
// its side: the DisconnectReason plus one (0 while none was said), or
// FAREWELL_STOPPING when the server stops.
constexpr int FAREWELL_STOPPING = -1;
using Farewell = std::shared_ptr<std::atomic<int>>;

struct BridgedConnection {
  int fd = -1;  // the relay's end, non-blocking
  sockaddr_storage source = {};
  Farewell farewell;
};

struct WebBridge {
  int event_fd = -1;
  std::mutex lock;
  std::vector<BridgedConnection> offered;
  bool closed = false;  // the relay loop takes no more
};

// 0 when the eventfd cannot be made.
int web_bridge_open(WebBridge* b);
// Web thread: hands fd over (it is the relay's from now on, closed by it or
// here). 0 once the bridge is closed: fd is closed.
int web_bridge_offer(WebBridge* b, const BridgedConnection& c);
// Relay loop: every connection offered since the last call.
std::vector<BridgedConnection> web_bridge_take(WebBridge* b);
// Closes the connections not taken and the eventfd.
void web_bridge_close(WebBridge* b);
