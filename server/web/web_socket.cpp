// The browsers' painting connections: a WebSocket (Boost.Beast) per browser,
// bridged to the relay loop through a socket pair (web_bridge.h), so that a
// browser is a user like any other: the relay sees a connection from the
// browser's address sending and receiving the wire frames.
//
// Protocol: binary messages only. A browser's message holds one or more whole
// frames (type byte, 16-bit little-endian payload length, payload), at most
// MAX_SOCKET_MESSAGE bytes; the server's messages hold one or more whole
// frames, at most SOCKET_OUTPUT_MAX bytes (the board is streamed at login in
// large batches). What a message may hold and the close codes:
// socket_frames.h.
//
// Bounds per browser: one message received at a time, written to the relay
// before the next is read, so a relay that holds the browser back (its rate,
// its drawing budget) stops reading it; one batch sent at a time, and the
// relay's end is not read meanwhile, so a browser that reads slowly meets the
// relay's output bound like a TCP user. The handshake must finish within 5 s;
// a browser silent for 60 s is pinged and closed after 60 s more without
// anything (as the relay probes a TCP peer); after the relay ends, the close
// handshake has 5 s.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>

#include "metrics.h"
#include "net/wire_limits.h"
#include "socket_frames.h"
#include "web_bridge.h"
#include "web_transport.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {

constexpr auto HANDSHAKE_TIME = std::chrono::seconds(5);
constexpr auto IDLE_TIME = std::chrono::seconds(120);  // pinged after half of it
constexpr auto FAREWELL_TIME = std::chrono::seconds(5);
// After the browser went, the relay takes the frames already passed on (as its
// limits allow) and ends its side; the rest of its output is dropped.
constexpr auto LINGER_TIME = std::chrono::seconds(10);

websocket::close_reason reason_of(int code, const char* text) {
  websocket::close_reason r;
  r.code = uint16_t(code);
  r.reason = text;
  return r;
}

// Why the relay ended a browser's connection, as a close code and reason.
websocket::close_reason farewell_reason(int farewell) {
  if (farewell == FAREWELL_STOPPING) return reason_of(CLOSE_GOING_AWAY, "the server stops");
  switch (farewell - 1) {
    case LEFT_PROTOCOL: return reason_of(CLOSE_POLICY, "invalid frame");
    case LEFT_OVERFLOW: return reason_of(CLOSE_POLICY, "output not read");
    case LEFT_TIMEOUT: return reason_of(CLOSE_POLICY, "no login in time");
    case LEFT_KICKED: return reason_of(CLOSE_POLICY, "kicked by a vote");
    case LEFT_REFUSED: return reason_of(CLOSE_TRY_LATER, "refused, try again later");
    case LEFT_CLOSED: return reason_of(CLOSE_NORMAL, "");
    default: return reason_of(CLOSE_SERVER_ERROR, "server error");
  }
}

}  // namespace

class SocketSession : public std::enable_shared_from_this<SocketSession> {
 public:
  SocketSession(WebServer* w, beast::tcp_stream stream, WebSlot slot)
      : w_(w), counts_(w->counts), ws_(std::move(stream)), relay_(w->io), linger_(w->io),
        farewell_time_(w->io), slot_(std::move(slot)) {
    counts_->sockets.insert(this);
  }
  ~SocketSession() { counts_->sockets.erase(this); }

  void accept(http::request<http::empty_body> request) {
    websocket::stream_base::timeout t;
    t.handshake_timeout = HANDSHAKE_TIME;
    t.idle_timeout = IDLE_TIME;
    t.keep_alive_pings = true;
    ws_.set_option(t);
    // The handshake's answer names no library nor version.
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& r) { r.set(http::field::server, "easel-server"); }));
    ws_.read_message_max(MAX_SOCKET_MESSAGE);
    ws_.binary(true);
    ws_.auto_fragment(false);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (!ec && !self->closing_) self->bridge();
    });
  }

  // The server stops: the browser hears it before its connection ends.
  void going_away() { close(reason_of(CLOSE_GOING_AWAY, "the server stops")); }

 private:
  WebServer* w_;
  std::shared_ptr<WebCounts> counts_;
  websocket::stream<beast::tcp_stream> ws_;
  asio::local::stream_protocol::socket relay_;  // the web side's end of the pair
  asio::steady_timer linger_, farewell_time_;
  WebSlot slot_;
  Farewell farewell_ = std::make_shared<std::atomic<int>>(0);
  beast::flat_buffer message_;
  FrameBatcher out_;
  bool closing_ = false;  // no more messages either way; the relay's output is dropped

  // The relay's end goes to the relay loop as a connection from the browser.
  void bridge() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
      return close(reason_of(CLOSE_TRY_LATER, "no room, try again later"));
    beast::error_code ec;
    relay_.assign(asio::local::stream_protocol(), pair[0], ec);
    if (!ec) relay_.non_blocking(true, ec);
    if (ec) {
      ::close(pair[0]);
      ::close(pair[1]);
      return close(reason_of(CLOSE_TRY_LATER, "no room, try again later"));
    }
    if (!web_bridge_offer(w_->bridge, BridgedConnection{pair[1], slot_.peer, farewell_}))
      return close(reason_of(CLOSE_GOING_AWAY, "the server stops"));
    read_browser();
    read_relay();
  }

  void read_browser() {
    ws_.async_read(message_, [self = shared_from_this()](beast::error_code ec, size_t) {
      self->on_message(ec);
    });
  }

  void on_message(beast::error_code ec) {
    // A close, a dropped connection, or what the library refuses itself with
    // its close code (1002, 1009): nothing of the message is passed on.
    if (ec) return browser_gone();
    if (closing_) return;
    auto data = static_cast<const uint8_t*>(message_.data().data());
    if (int code = socket_message_check(ws_.got_binary(), data, message_.size())) {
      message_.clear();
      close(reason_of(code, code == CLOSE_NOT_BINARY ? "binary messages only"
                            : code == CLOSE_TOO_BIG ? "message too big"
                                                    : "a message must hold whole frames"));
      return end_relay();
    }
    asio::async_write(relay_, message_.data(),
                      [self = shared_from_this()](beast::error_code e, size_t) {
                        self->message_.clear();
                        // Failing, the relay has ended its side: its farewell comes on reading.
                        if (!e) self->read_browser();
                      });
  }

  // Waits for the relay before taking room to read into: a quiet browser
  // holds no buffer.
  void read_relay() {
    relay_.async_wait(asio::socket_base::wait_read, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->relay_ended();
      self->on_relay();
    });
  }

  void on_relay() {
    size_t room;
    uint8_t* space = batcher_space(&out_, &room);
    beast::error_code ec;
    size_t n = relay_.read_some(asio::buffer(space, room), ec);
    if (ec == asio::error::would_block) return read_relay();
    if (ec) return relay_ended();
    batcher_filled(&out_, n);
    if (closing_) {
      out_ = FrameBatcher();
      return read_relay();
    }
    size_t length = batcher_take(&out_);
    if (length == 0) return read_relay();
    ws_.async_write(asio::buffer(out_.bytes.data(), length),
                    [self = shared_from_this()](beast::error_code e, size_t) {
                      batcher_sent(&self->out_);
                      if (e) return self->browser_gone();
                      self->read_relay();
                    });
  }

  // The relay has said everything and ended its side: the browser hears why.
  void relay_ended() {
    beast::error_code ignored;
    relay_.close(ignored);
    linger_.cancel();
    close(farewell_reason(farewell_->load()));
  }

  void browser_gone() {
    closing_ = true;
    slot_.release();
    end_relay();
  }

  // What the browser sent so far is taken by the relay, which then ends its
  // side, or is cut off after a while.
  void end_relay() {
    if (!relay_.is_open()) return;
    beast::error_code ignored;
    relay_.shutdown(asio::socket_base::shutdown_send, ignored);
    linger_.expires_after(LINGER_TIME);
    linger_.async_wait([self = shared_from_this()](beast::error_code ec) {
      beast::error_code ignored;
      if (!ec) self->relay_.close(ignored);
    });
  }

  // A close frame, once; a browser that does not take it in time is cut off.
  void close(const websocket::close_reason& reason) {
    if (closing_) return;
    closing_ = true;
    if (!ws_.is_open()) return;
    ws_.async_close(reason, [self = shared_from_this()](beast::error_code) {
      self->slot_.release();  // before the browser sees the end
      beast::error_code ignored;
      beast::get_lowest_layer(self->ws_).socket().close(ignored);
      self->farewell_time_.cancel();
    });
    farewell_time_.expires_after(FAREWELL_TIME);
    farewell_time_.async_wait([self = shared_from_this()](beast::error_code ec) {
      beast::error_code ignored;
      if (!ec) beast::get_lowest_layer(self->ws_).socket().close(ignored);
    });
  }
};

void web_socket_accept(WebServer* w, beast::tcp_stream stream,
                       http::request<http::empty_body> request, WebSlot slot) {
  std::make_shared<SocketSession>(w, std::move(stream), std::move(slot))->accept(std::move(request));
}

void web_sockets_going_away(WebServer* w) {
  for (SocketSession* s : std::vector<SocketSession*>(w->counts->sockets.begin(), w->counts->sockets.end()))
    s->going_away();
}
