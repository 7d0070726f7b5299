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
  // A trusted proxy's forwarding header (its name, lower case; empty: none
  // looked at), every field of it joined with commas.
  std::string forward_name, forwarded;

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
  void on_field_impl(http::field name, beast::string_view name_string, beast::string_view value,
                     beast::error_code& ec) override {
    if (++fields > HEAD_FIELDS) {
      too_many_fields = true;
      ec = http::error::header_limit;
      return;
    }
    std::string text(value.data(), value.size());
    if (!forward_name.empty() && name_string.size() == forward_name.size() &&
        strncasecmp(name_string.data(), forward_name.c_str(), forward_name.size()) == 0) {
      forwarded += (forwarded.empty() ? "" : ",") + text;
      return;
    }
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
    case 503: return "Too many connections from your address: try again later.\n";
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

// An origin's parts, lower case, the port the scheme's own when none is said.
struct Origin {
  std::string scheme, host;
  int port = 0;
};

bool parse_origin(const std::string& text, Origin* out) {
  std::string o = lowered(text);
  while (!o.empty() && o.back() == '/') o.pop_back();
  size_t colon = o.find("://");
  if (colon == std::string::npos) return false;
  out->scheme = o.substr(0, colon);
  if (out->scheme != "http" && out->scheme != "https") return false;
  std::string rest = o.substr(colon + 3), port;
  if (rest.find('/') != std::string::npos) return false;
  if (!rest.empty() && rest[0] == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    out->host = rest.substr(1, close - 1);
    if (close + 1 < rest.size() && rest[close + 1] != ':') return false;
    if (close + 1 < rest.size()) port = rest.substr(close + 2);
  } else {
    size_t c = rest.find(':');
    out->host = rest.substr(0, c);
    if (c != std::string::npos) port = rest.substr(c + 1);
  }
  if (out->host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out->port = port.empty() ? (out->scheme == "https" ? 443 : 80) : atoi(port.c_str());
  return true;
}

bool same_origin(const Origin& a, const Origin& b) {
  return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

// A page may open the WebSocket when it comes from this server by one of its
// names: localhost, the --bind address or the address the browser reached,
// on the port it reached, or a --server-name on any port (a proxy's); or
// from an origin the options allow (default ports normalised). What the
// request's Host says counts for nothing: under DNS rebinding it is the
// attacker's name. A client that is no browser sends no Origin and may, as
// over TCP.
bool origin_allowed(const ServerOptions* o, const std::string& origin, const tcp::endpoint& reached) {
  if (origin.empty()) return true;
  Origin page, allowed;
  bool parsed = parse_origin(origin, &page);
  for (const std::string& a : o->web_origins)
    if (a == "*" || (parsed && parse_origin(a, &allowed) && same_origin(page, allowed))) return true;
  if (!parsed) return false;
  for (const std::string& name : o->server_names)
    if (lowered(name) == page.host) return true;
  asio::ip::address address = reached.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  bool mine = page.host == "localhost" || page.host == lowered(o->bind_address) || page.host == address.to_string();
  return mine && page.port == reached.port();
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void refill(const WebCounts& counts, SourceCount* c, double now) {
  c->tokens = std::min(counts.download_burst, c->tokens + (now - c->refilled_at) * counts.download_rate);
  c->refilled_at = now;
}

// The slot's connection counts under its source; false when the source has
// all its connections already.
bool count_source(WebCounts& counts, WebSlot& slot) {
  if (slot.trusted) return true;
  auto [it, fresh] = counts.per_source.try_emplace(slot.source);
  if (fresh) {
    it->second.tokens = counts.download_burst;
    it->second.refilled_at = seconds_now();
  }
  if (it->second.open >= CONNECTIONS_PER_SOURCE) return false;
  it->second.open++;
  slot.counted = true;
  return true;
}

// A source without connections is forgotten once its download bucket is full
// again (looked at when it goes, and when many are kept).
void uncount_source(WebCounts& counts, WebSlot& slot) {
  if (!slot.counted) return;
  slot.counted = false;
  auto it = counts.per_source.find(slot.source);
  if (it == counts.per_source.end()) return;
  it->second.open--;
  double now = seconds_now();
  refill(counts, &it->second, now);
  if (it->second.open <= 0 && it->second.tokens >= counts.download_burst) counts.per_source.erase(it);
  if (counts.per_source.size() <= size_t(4 * counts.open + 1024)) return;
  for (auto at = counts.per_source.begin(); at != counts.per_source.end();) {
    refill(counts, &at->second, now);
    at = at->second.open <= 0 && at->second.tokens >= counts.download_burst ? counts.per_source.erase(at) : std::next(at);
  }
}

}  // namespace

WebSlot& WebSlot::operator=(WebSlot&& o) noexcept {
  release();
  counts = std::move(o.counts);
  source = std::move(o.source);
  trusted = o.trusted;
  proxy = o.proxy;
  counted = o.counted;
  peer = o.peer;
  o.counts.reset();
  o.counted = false;
  return *this;
}

void WebSlot::release() {
  if (!counts) return;
  counts->open--;
  uncount_source(*counts, *this);
  counts.reset();
}

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(WebServer* w, tcp::socket socket, WebSlot slot)
      : w_(w), counts_(w->counts), stream_(std::move(socket)), slot_(std::move(slot)), pace_(w->io),
        proxy_at_(slot_.peer) {}
  ~HttpSession() { counts_->idle.erase(this); }
  void read_head() {
    parser_.emplace();
    if (slot_.proxy) parser_->forward_name = w_->options->proxy_header;
    stream_.expires_after(HEAD_TIME);
    counts_->idle.insert(this);
    idle_since_ = seconds_now();
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                              self->counts_->idle.erase(self.get());
                              self->on_head(ec);
                            });
  }
  double idle_since() const { return idle_since_; }
  // Connections of its source (0 when it counts under none).
  int source_open() const {
    auto it = counts_->per_source.find(slot_.source);
    return slot_.counted && it != counts_->per_source.end() ? it->second.open : 0;
  }
  // Its place goes to a newcomer: the head it waits for will not be read.
  void evict() {
    counts_->idle.erase(this);
    slot_.release();
    beast::error_code ignored;
    stream_.socket().close(ignored);
  }

 private:
  WebServer* w_;
  std::shared_ptr<WebCounts> counts_;
  beast::tcp_stream stream_;
  WebSlot slot_;
  asio::steady_timer pace_;  // a body's next chunk waits for the source's download bucket
  sockaddr_storage proxy_at_;  // a trusted proxy's own address
  double idle_since_ = 0;
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
    if (slot_.proxy && !take_forwarded_source()) return;
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

  // Behind a trusted proxy each request counts under the client it is
  // forwarded for (a garbled chain is refused, 400), held to the limits of
  // that source (503 when it has all its connections).
  bool take_forwarded_source() {
    sockaddr_storage client;
    if (!forwarded_client(w_->options, proxy_at_, parser_->forwarded, &client)) {
      refuse(400);
      return false;
    }
    uncount_source(*counts_, slot_);
    slot_.peer = client;
    slot_.source = source_key(w_->options, client);
    slot_.trusted = address_trusted(w_->options, client);
    if (!count_source(*counts_, slot_)) {
      refuse(503);
      return false;
    }
    return true;
  }

  // The browser's WebSocket: the connection is the WebSocket session's from
  // here on, with its place in the counts.
  void upgrade() {
    HeadParser& p = *parser_;
    http::request<http::empty_body> request;
    request.method(p.method);
    request.target(p.target);
    request.version(p.version);
    std::string origin;
    for (auto& [name, value] : p.upgrade_fields) {
      if (name == http::field::origin) origin = value;
      request.insert(name, value);
    }
    if (!beast::websocket::is_upgrade(request)) return refuse(426);
    beast::error_code ec;
    tcp::endpoint reached = stream_.socket().local_endpoint(ec);
    if (ec || !origin_allowed(w_->options, origin, reached)) return refuse(403);
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
    // No other site may frame the pages or have a body taken for another type.
    head_.set(http::field::server, "easel-server");
    head_.set(http::field::x_frame_options, "DENY");
    head_.set("Content-Security-Policy", "frame-ancestors 'none'");
    head_.set("X-Content-Type-Options", "nosniff");
    head_.set("Referrer-Policy", "no-referrer");
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

  // Bytes the source may send now, or the seconds until it may (0 and
  // *wait set): a source's answers share its download bucket.
  size_t download_room(size_t want, double* wait) {
    *wait = 0;
    auto it = counts_->per_source.find(slot_.source);
    if (!slot_.counted || it == counts_->per_source.end()) return want;
    SourceCount& c = it->second;
    refill(*counts_, &c, seconds_now());
    if (c.tokens < 0) {
      *wait = -c.tokens / counts_->download_rate;
      return 0;
    }
    c.tokens -= double(want);
    return want;
  }

  void send_body() {
    if (from_ == to_) return done();
    auto next = [self = shared_from_this()](beast::error_code ec, size_t) {
      if (!ec) self->send_body();
    };
    double wait = 0;
    size_t want = size_t(std::min<uint64_t>(FILE_CHUNK, to_ - from_));
    if (download_room(want, &wait) == 0) {
      pace_.expires_after(std::chrono::microseconds(int64_t(wait * 1e6) + 1));
      pace_.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec) self->send_body();
      });
      return;
    }
    if (body_) {
      const char* data = body_->data() + from_;
      from_ += want;
      asio::async_write(stream_, asio::buffer(data, want), next);
      return;
    }
    // The file is read as it goes: a large board costs one chunk per answer.
    if (!chunk_) chunk_.reset(new char[FILE_CHUNK]);
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

namespace {

void accept_next(WebServer* w);

// Every place is taken: the connection waiting for a head longest, of the
// source with the most connections, makes room; false when none waits.
bool evict_idle(WebCounts& counts) {
  HttpSession* victim = nullptr;
  for (HttpSession* s : counts.idle)
    if (!victim || s->source_open() > victim->source_open() ||
        (s->source_open() == victim->source_open() && s->idle_since() < victim->idle_since()))
      victim = s;
  if (!victim) return false;
  victim->evict();
  return true;
}

void admit(WebServer* w, tcp::socket socket) {
  beast::error_code ec;
  tcp::endpoint peer = socket.remote_endpoint(ec);
  if (ec) return;
  sockaddr_storage address = {};
  memcpy(&address, peer.data(), std::min(sizeof address, size_t(peer.size())));
  WebSlot slot;
  slot.proxy = address_in(w->options->proxies, address) != nullptr;
  slot.trusted = address_trusted(w->options, address);
  slot.source = source_key(w->options, address);
  slot.peer = address;
  WebCounts& counts = *w->counts;
  // Beyond the bounds the connection is closed at once; a proxy's
  // connections count under their clients from their first request on.
  if (!slot.proxy && !count_source(counts, slot)) return;
  if (counts.open >= w->options->http_connections && !evict_idle(counts)) return uncount_source(counts, slot);
  counts.open++;
  slot.counts = w->counts;
  std::make_shared<HttpSession>(w, std::move(socket), std::move(slot))->read_head();
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
  w->counts->download_rate = options->download_rate;
  w->counts->download_burst = options->download_burst;
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
