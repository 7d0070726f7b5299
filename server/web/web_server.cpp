// The HTTP transport (Boost.Beast over Asio, web_transport.h).
#include "web_server.h"

#include <strings.h>
#include <unistd.h>

#include <boost/beast/websocket/rfc6455.hpp>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "web_transport.h"

#include "server_log.h"
#include "sources.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr uint32_t HEAD_BYTES = 8192;
constexpr int HEAD_FIELDS = 64;
constexpr auto HEAD_TIME = std::chrono::seconds(5);
constexpr double WRITE_SECONDS = 5;
constexpr double WRITE_BYTES_PER_SECOND = 64 * 1024;
constexpr int REQUESTS_PER_CONNECTION = 100;
constexpr int CONNECTIONS_PER_SOURCE = 16;
constexpr size_t FILE_CHUNK = 64 * 1024;
// After an error answer the rest of the request is read and dropped for a
// moment, so that closing does not reset the connection before the client
// has read the answer.
constexpr auto LINGER_TIME = std::chrono::seconds(2);
constexpr size_t LINGER_BYTES = 1 << 20;

// A server stopping waits this long at most for its browsers to take their
// close frames.
constexpr auto STOP_TIME = std::chrono::seconds(1);

// Reads a request head keeping only what the answers need: a bounded number
// of fields, no body (a request that announces one is refused unread).
class HeadParser : public http::basic_parser<true> {
 public:
  http::verb method = http::verb::unknown;
  std::string target, if_none_match, range, if_range;
  int version = 11;
  int fields = 0, range_fields = 0;
  bool too_many_fields = false;
  // The fields of a WebSocket upgrade, as they came.
  std::vector<std::pair<http::field, std::string>> upgrade_fields;

  HeadParser() {
    header_limit(HEAD_BYTES);
    body_limit(boost::optional<std::uint64_t>(0));
  }

 private:
  void on_request_impl(http::verb m, beast::string_view, beast::string_view t, int v,
                       beast::error_code&) override {
    method = m;
    target.assign(t.data(), t.size());
    version = v;
  }
  void on_response_impl(int, beast::string_view, int, beast::error_code& ec) override {
    ec = http::error::bad_method;
  }
  void on_field_impl(http::field name, beast::string_view, beast::string_view value,
                     beast::error_code& ec) override {
    if (++fields > HEAD_FIELDS) {
      too_many_fields = true;
      ec = http::error::header_limit;
      return;
    }
    std::string text(value.data(), value.size());
    if (name == http::field::if_none_match) {
      if_none_match += (if_none_match.empty() ? "" : ",") + text;
    } else if (name == http::field::range) {
      range = text;
      range_fields++;
    } else if (name == http::field::if_range) {
      if_range = text;
    } else if (name == http::field::connection || name == http::field::upgrade ||
               name == http::field::host || name == http::field::origin ||
               name == http::field::sec_websocket_key ||
               name == http::field::sec_websocket_version ||
               name == http::field::sec_websocket_protocol) {
      upgrade_fields.emplace_back(name, std::move(text));
    }
  }
  void on_header_impl(beast::error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>&, beast::error_code& ec) override {
    ec = http::error::body_limit;
  }
  std::size_t on_body_impl(beast::string_view, beast::error_code& ec) override {
    ec = http::error::body_limit;
    return 0;
  }
  void on_chunk_header_impl(std::uint64_t, beast::string_view, beast::error_code& ec) override {
    ec = http::error::body_limit;
  }
  std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view, beast::error_code& ec) override {
    ec = http::error::body_limit;
    return 0;
  }
  void on_finish_impl(beast::error_code&) override {}
};

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string without_weak(const std::string& tag) {
  return tag.compare(0, 2, "W/") == 0 ? tag.substr(2) : tag;
}

// If-None-Match: "*" or a list of tags, compared weakly.
bool tag_listed(const std::string& list, const std::string& tag) {
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = list.find(',', at);
    if (comma == std::string::npos) comma = list.size();
    std::string item = trimmed(list.substr(at, comma - at));
    if (item == "*" || (!item.empty() && without_weak(item) == without_weak(tag))) return true;
    at = comma + 1;
  }
  return false;
}

bool read_count(const std::string& s, size_t* at, uint64_t* out) {
  size_t start = *at;
  uint64_t v = 0;
  while (*at < s.size() && s[*at] >= '0' && s[*at] <= '9' && *at - start < 18)
    v = v * 10 + uint64_t(s[(*at)++] - '0');
  *out = v;
  return *at > start && (*at == s.size() || s[*at] < '0' || s[*at] > '9');
}

enum RangeAnswer { RANGE_WHOLE, RANGE_PART, RANGE_UNSATISFIABLE };

// One range of bytes (a-b, a-, -n) of a body of length bytes; several ranges
// or one that cannot be read get the whole body.
RangeAnswer parse_range(const std::string& header, uint64_t length, uint64_t* from, uint64_t* to) {
  std::string range = trimmed(header);
  if (range.compare(0, 6, "bytes=") != 0 || range.find(',') != std::string::npos) return RANGE_WHOLE;
  range = trimmed(range.substr(6));
  size_t at = 0;
  uint64_t a = 0, b = 0;
  if (!range.empty() && range[0] == '-') {
    at = 1;
    if (!read_count(range, &at, &b) || at != range.size()) return RANGE_WHOLE;
    if (b == 0 || length == 0) return RANGE_UNSATISFIABLE;
    *from = length > b ? length - b : 0;
    *to = length;
    return RANGE_PART;
  }
  if (!read_count(range, &at, &a) || at >= range.size() || range[at] != '-') return RANGE_WHOLE;
  at++;
  bool open_end = at == range.size();
  if (!open_end && (!read_count(range, &at, &b) || at != range.size() || b < a)) return RANGE_WHOLE;
  if (a >= length) return RANGE_UNSATISFIABLE;
  *from = a;
  *to = open_end || b >= length ? length : b + 1;
  return RANGE_PART;
}

const char* reason_text(int status) {
  switch (status) {
    case 400: return "The request cannot be read.\n";
    case 404: return "There is nothing here.\n";
    case 405: return "This server is read-only: GET and HEAD only.\n";
    case 413: return "Requests take no body here.\n";
    case 403: return "WebSocket connections are taken from this server's own pages only.\n";
    case 416: return "The range is outside the file.\n";
    case 426: return "This address takes WebSocket connections only.\n";
    case 431: return "The request head is too large.\n";
    default: return "";
  }
}

std::string lowered(std::string s) {
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return s;
}

// A page may open the WebSocket when it comes from this server (its Origin
// names the host the browser asked for) or from an origin the options allow;
// a client that is no browser sends no Origin and may, as over TCP.
bool origin_allowed(const ServerOptions* o, const std::string& origin, const std::string& host) {
  if (origin.empty()) return true;
  std::string mine = lowered(origin);
  if (!host.empty() && (mine == "http://" + lowered(host) || mine == "https://" + lowered(host)))
    return true;
  for (const std::string& allowed : o->web_origins)
    if (allowed == "*" || lowered(allowed) == mine) return true;
  return false;
}

}  // namespace

WebSlot& WebSlot::operator=(WebSlot&& o) noexcept {
  release();
  counts = std::move(o.counts);
  source = std::move(o.source);
  trusted = o.trusted;
  peer = o.peer;
  o.counts.reset();
  return *this;
}

void WebSlot::release() {
  if (!counts) return;
  counts->open--;
  if (!trusted && --counts->per_source[source] <= 0) counts->per_source.erase(source);
  counts.reset();
}

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(WebServer* w, tcp::socket socket, WebSlot slot)
      : w_(w), stream_(std::move(socket)), slot_(std::move(slot)) {}
  void read_head() {
    parser_.emplace();
    stream_.expires_after(HEAD_TIME);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                              self->on_head(ec);
                            });
  }

 private:
  WebServer* w_;
  beast::tcp_stream stream_;
  WebSlot slot_;
  beast::flat_buffer buffer_{2 * HEAD_BYTES};
  std::optional<HeadParser> parser_;
  int requests_ = 0;
  bool keep_alive_ = false;
  // The answer being sent: its head, then [from_, to_) of its body.
  http::response<http::empty_body> head_;
  std::shared_ptr<const std::string> body_;
  std::shared_ptr<BoardFile> file_;
  uint64_t from_ = 0, to_ = 0;
  std::unique_ptr<char[]> chunk_;

  void on_head(beast::error_code ec) {
    HeadParser& p = *parser_;
    bool known = p.method == http::verb::get || p.method == http::verb::head;
    if (ec) {
      // A peer that went, or never finished its head in time, is just closed.
      if (ec.category() != http::make_error_code(http::error::header_limit).category() ||
          ec == http::error::end_of_stream || ec == http::error::partial_message)
        return;
      if (ec == http::error::header_limit || ec == http::error::buffer_overflow || p.too_many_fields)
        return refuse(431);
      if (ec == http::error::body_limit) return refuse(known ? 413 : 405);
      return refuse(400);
    }
    if (!known) return refuse(405);
    if (!p.is_done()) return refuse(413);
    WebRequest request;
    request.head = p.method == http::verb::head;
    size_t question = p.target.find('?');
    request.path = p.target.substr(0, question);
    if (question != std::string::npos) request.query = p.target.substr(question + 1);
    if (request.path == SOCKET_PATH && w_->bridge) return upgrade();
    WebReply reply;
    w_->handler(request, &reply);
    answer(reply, request.head, p.keep_alive());
  }

  // The browser's WebSocket: the connection is the WebSocket session's from
  // here on, with its place in the counts.
  void upgrade() {
    HeadParser& p = *parser_;
    http::request<http::empty_body> request;
    request.method(p.method);
    request.target(p.target);
    request.version(p.version);
    std::string origin, host;
    for (auto& [name, value] : p.upgrade_fields) {
      if (name == http::field::origin) origin = value;
      if (name == http::field::host) host = value;
      request.insert(name, value);
    }
    if (!beast::websocket::is_upgrade(request)) return refuse(426);
    if (!origin_allowed(w_->options, origin, host)) return refuse(403);
    // A browser waits for the handshake's answer before it sends a message.
    if (buffer_.size() > 0) return refuse(400);
    stream_.expires_never();
    web_socket_accept(w_, std::move(stream_), std::move(request), std::move(slot_));
  }

  // An answer that ends the connection: the request was not read to its end.
  void refuse(int status) {
    WebReply reply;
    reply.status = status;
    reply.body = std::make_shared<const std::string>(reason_text(status));
    answer(reply, false, false);
  }

  void answer(const WebReply& reply, bool head_only, bool keep_alive) {
    const HeadParser& p = *parser_;
    int status = reply.status;
    uint64_t length = reply.body ? reply.body->size() : reply.file ? reply.file_length : 0;
    uint64_t from = 0, to = length;
    if (status == 200 && !reply.etag.empty() && !p.if_none_match.empty() &&
        tag_listed(p.if_none_match, reply.etag))
      status = 304;
    std::string content_range;
    if (status == 200 && reply.ranges && p.range_fields == 1 &&
        (p.if_range.empty() || p.if_range == reply.etag)) {
      switch (parse_range(p.range, length, &from, &to)) {
        case RANGE_PART:
          status = 206;
          content_range = "bytes " + std::to_string(from) + "-" + std::to_string(to - 1) + "/" +
                          std::to_string(length);
          break;
        case RANGE_UNSATISFIABLE:
          status = 416;
          content_range = "bytes */" + std::to_string(length);
          break;
        case RANGE_WHOLE:
          break;
      }
    }
    bool has_body = status != 304 && status != 416;
    if (!has_body) from = to = 0;
    head_ = {};
    head_.version(p.version == 10 ? 10 : 11);
    head_.result(unsigned(status));
    if (has_body) head_.set(http::field::content_type, reply.content_type);
    if (!reply.etag.empty()) head_.set(http::field::etag, reply.etag);
    if (!reply.cache_control.empty()) head_.set(http::field::cache_control, reply.cache_control);
    if (reply.ranges) head_.set(http::field::accept_ranges, "bytes");
    if (!content_range.empty()) head_.set(http::field::content_range, content_range);
    if (reply.retry_after > 0) head_.set(http::field::retry_after, std::to_string(reply.retry_after));
    if (status == 405) head_.set(http::field::allow, "GET, HEAD");
    if (status != 304) head_.content_length(to - from);
    keep_alive_ = keep_alive && ++requests_ < REQUESTS_PER_CONNECTION;
    head_.keep_alive(keep_alive_);
    if (head_only) from = to = 0;
    body_ = reply.body;
    file_ = reply.file;
    from_ = from;
    to_ = to;
    double seconds = WRITE_SECONDS + double(to - from) / WRITE_BYTES_PER_SECOND;
    stream_.expires_after(std::chrono::milliseconds(int64_t(seconds * 1000)));
    http::async_write(stream_, head_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (!ec) self->send_body();
    });
  }

  void send_body() {
    if (from_ == to_) return done();
    auto next = [self = shared_from_this()](beast::error_code ec, size_t) {
      if (!ec) self->send_body();
    };
    if (body_) {
      size_t n = size_t(to_ - from_);
      const char* data = body_->data() + from_;
      from_ = to_;
      asio::async_write(stream_, asio::buffer(data, n), next);
      return;
    }
    // The file is read as it goes: a large board costs one chunk per answer.
    if (!chunk_) chunk_.reset(new char[FILE_CHUNK]);
    size_t want = size_t(std::min<uint64_t>(FILE_CHUNK, to_ - from_));
    ssize_t got = pread(file_->fd, chunk_.get(), want, off_t(from_));
    if (got <= 0) return;  // the announced length cannot be kept: the connection ends
    from_ += uint64_t(got);
    asio::async_write(stream_, asio::buffer(chunk_.get(), size_t(got)), next);
  }

  void done() {
    body_.reset();
    file_.reset();
    chunk_.reset();
    if (keep_alive_) return read_head();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(LINGER_TIME);
    linger(0);
  }

  void linger(size_t dropped) {
    if (dropped > LINGER_BYTES) return;
    buffer_.consume(buffer_.size());
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this(), dropped](beast::error_code ec, size_t n) {
                              if (!ec) self->linger(dropped + n);
                            });
  }
};

void accept_next(WebServer* w);

void admit(WebServer* w, tcp::socket socket) {
  beast::error_code ec;
  tcp::endpoint peer = socket.remote_endpoint(ec);
  if (ec) return;
  sockaddr_storage address = {};
  memcpy(&address, peer.data(), std::min(sizeof address, size_t(peer.size())));
  WebSlot slot;
  slot.trusted = address_trusted(w->options, address);
  slot.source = source_key(address);
  slot.peer = address;
  WebCounts& counts = *w->counts;
  // Beyond the bounds the connection is closed at once.
  if (counts.open >= w->options->http_connections) return;
  if (!slot.trusted) {
    auto it = counts.per_source.find(slot.source);
    if (it != counts.per_source.end() && it->second >= CONNECTIONS_PER_SOURCE) return;
    counts.per_source[slot.source]++;
  }
  counts.open++;
  slot.counts = w->counts;
  std::make_shared<Session>(w, std::move(socket), std::move(slot))->read_head();
}

void accept_next(WebServer* w) {
  w->acceptor.async_accept([w](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors or memory: accepting waits a moment instead of spinning.
      w->accept_pause.expires_after(std::chrono::milliseconds(100));
      w->accept_pause.async_wait([w](beast::error_code e) {
        if (!e) accept_next(w);
      });
      return;
    }
    admit(w, std::move(socket));
    accept_next(w);
  });
}

}  // namespace

WebServer* web_server_start(const std::string& address, int port, const ServerOptions* options,
                            WebHandler handler, WebBridge* bridge) {
  std::unique_ptr<WebServer> w(new WebServer);
  w->options = options;
  w->bridge = bridge;
  w->handler = std::move(handler);
  std::string host = address.empty() ? "0.0.0.0" : address;
  beast::error_code ec;
  tcp::resolver resolver(w->io);
  auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive, ec);
  if (!ec && found.empty()) ec = asio::error::host_not_found;
  if (!ec) {
    tcp::endpoint at = found.begin()->endpoint();
    w->acceptor.open(at.protocol(), ec);
    if (!ec) w->acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) w->acceptor.bind(at, ec);
    if (!ec) w->acceptor.listen(511, ec);
    if (!ec) w->port = w->acceptor.local_endpoint(ec).port();
  }
  if (ec) {
    server_log("error: the web view cannot listen on %s port %d: %s", host.c_str(), port,
               ec.message().c_str());
    return nullptr;
  }
  accept_next(w.get());
  WebServer* server = w.release();
  server->thread = std::thread([server] {
    auto work = asio::make_work_guard(server->io);
    // A request that finds no memory loses its connection, nothing else.
    for (;;) {
      try {
        server->io.run();
        return;
      } catch (const std::exception& e) {
        server_log("error: the web view dropped a request: %s", e.what());
      }
    }
  });
  server_log("web view on http://%s:%d/", host.c_str(), server->port);
  return server;
}

int web_server_port(const WebServer* w) { return w->port; }

namespace {

void stop_when_quiet(WebServer* w, std::chrono::steady_clock::time_point end) {
  if (w->counts->sockets.empty() || std::chrono::steady_clock::now() >= end) return w->io.stop();
  w->stop_wait.expires_after(std::chrono::milliseconds(10));
  w->stop_wait.async_wait([w, end](beast::error_code) { stop_when_quiet(w, end); });
}

}  // namespace

void web_server_stop(WebServer* w) {
  if (!w) return;
  asio::post(w->io, [w] {
    beast::error_code ignored;
    w->acceptor.close(ignored);
    web_sockets_going_away(w);
    stop_when_quiet(w, std::chrono::steady_clock::now() + STOP_TIME);
  });
  w->thread.join();
  delete w;
}
