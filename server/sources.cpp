#include "sources.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

// IPv4 addresses mapped into IPv6 (::ffff:a.b.c.d) are the IPv4 host.
static bool mapped_ipv4(const sockaddr_storage& address, uint8_t out[4]) {
  if (address.ss_family == AF_INET) {
    memcpy(out, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, 4);
    return true;
  }
  if (address.ss_family != AF_INET6) return false;
  const uint8_t* b = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr.s6_addr;
  static const uint8_t PREFIX[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (memcmp(b, PREFIX, 12) != 0) return false;
  memcpy(out, b + 12, 4);
  return true;
}

static std::string address_text(int family, const void* bytes) {
  char text[INET6_ADDRSTRLEN] = "?";
  inet_ntop(family, bytes, text, sizeof text);
  return text;
}

std::string source_key(const ServerOptions* o, const sockaddr_storage& address) {
  uint8_t v4[4];
  if (mapped_ipv4(address, v4)) return address_text(AF_INET, v4);
  if (address.ss_family != AF_INET6) return "?";
  // One home line has a prefix to itself: its other addresses are the same host.
  in6_addr prefix = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
  int bits = std::max(0, std::min(128, o->ipv6_prefix));
  for (int i = 0; i < 16; i++) {
    int keep = std::max(0, std::min(8, bits - 8 * i));
    prefix.s6_addr[i] &= uint8_t(0xFF00 >> keep);
  }
  return address_text(AF_INET6, &prefix) + "/" + std::to_string(bits);
}

static bool in_range(const AddressRange& r, const uint8_t* bytes, int family) {
  if (r.family != family) return false;
  int full = r.prefix / 8, rest = r.prefix % 8;
  if (memcmp(r.bytes, bytes, size_t(full)) != 0) return false;
  if (rest == 0) return true;
  uint8_t mask = uint8_t(0xFF << (8 - rest));
  return (r.bytes[full] & mask) == (bytes[full] & mask);
}

const AddressRange* address_in(const std::vector<AddressRange>& ranges, const sockaddr_storage& address) {
  uint8_t v4[4];
  bool is_v4 = mapped_ipv4(address, v4);
  const uint8_t* v6 = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr.s6_addr;
  for (const AddressRange& r : ranges) {
    if (is_v4 ? in_range(r, v4, AF_INET)
              : address.ss_family == AF_INET6 && in_range(r, v6, AF_INET6))
      return &r;
  }
  return nullptr;
}

bool address_trusted(const ServerOptions* o, const sockaddr_storage& address) {
  return address_in(o->trusted, address) != nullptr;
}

// ---- forwarded addresses ----

// Longer chains are refused: no sane path has this many proxies.
static const int MAX_HOPS = 32;

static std::string trimmed(const std::string& s, const char* space = " \t") {
  size_t a = s.find_first_not_of(space), b = s.find_last_not_of(space);
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// "192.0.2.7", "192.0.2.7:4711", "2001:db8::1", "[2001:db8::1]:4711".
static bool parse_node(std::string node, sockaddr_storage* out) {
  if (!node.empty() && node[0] == '[') {
    size_t close = node.find(']');
    if (close == std::string::npos || (close + 1 < node.size() && node[close + 1] != ':')) return false;
    node = node.substr(1, close - 1);
  } else if (std::count(node.begin(), node.end(), ':') == 1) {
    node.resize(node.find(':'));
  }
  sockaddr_storage a = {};
  if (inet_pton(AF_INET, node.c_str(), &reinterpret_cast<sockaddr_in*>(&a)->sin_addr) == 1) {
    a.ss_family = AF_INET;
  } else if (inet_pton(AF_INET6, node.c_str(), &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr) == 1) {
    a.ss_family = AF_INET6;
  } else {
    return false;
  }
  *out = a;
  return true;
}

// The node of one element of Forwarded: its for= parameter, unquoted.
static std::string forwarded_for(const std::string& element) {
  size_t at = 0;
  while (at <= element.size()) {
    size_t semicolon = element.find(';', at);
    if (semicolon == std::string::npos) semicolon = element.size();
    std::string pair = trimmed(element.substr(at, semicolon - at));
    if (pair.size() > 4 && strncasecmp(pair.c_str(), "for=", 4) == 0) return trimmed(pair.substr(4), "\"");
    at = semicolon + 1;
  }
  return "";
}

int forwarded_client(const ServerOptions* o, const sockaddr_storage& peer, const std::string& header,
                     sockaddr_storage* client) {
  *client = peer;
  if (trimmed(header).empty()) return 1;
  std::vector<std::string> nodes;
  for (size_t at = 0; at <= header.size();) {
    size_t comma = header.find(',', at);
    if (comma == std::string::npos) comma = header.size();
    std::string item = trimmed(header.substr(at, comma - at));
    nodes.push_back(o->proxy_header == "forwarded" ? forwarded_for(item) : item);
    if (int(nodes.size()) > MAX_HOPS) return 0;
    at = comma + 1;
  }
  for (size_t i = nodes.size(); i-- > 0;) {
    sockaddr_storage node;
    if (!parse_node(nodes[i], &node)) return 0;
    *client = node;
    if (!address_in(o->proxies, node)) return 1;
  }
  return 1;
}

static std::string range_text(const AddressRange& r) {
  return address_text(r.family, r.bytes) + "/" + std::to_string(r.prefix);
}

static Source* make_source(Sources* all, const std::string& key, bool trusted, const ServerOptions* o,
                           double now, double draw_share) {
  std::unique_ptr<Source>& slot = all->by_key[key];
  if (!slot) {
    slot.reset(new Source);
    slot->key = key;
    slot->trusted = trusted;
    slot->tokens = o->burst;
    slot->login_tokens = o->login_burst;
    slot->refilled_at = now;
    slot->draw_tokens = source_draw_burst(o, slot.get(), draw_share);
  }
  return slot.get();
}

Source* sources_find(Sources* all, const ServerOptions* o, const sockaddr_storage& address,
                     double now, double draw_share) {
  const AddressRange* range = address_in(o->trusted, address);
  if (!range) return make_source(all, source_key(o, address), false, o, now, draw_share);
  Source* budget = make_source(all, "trusted " + range_text(*range), true, o, now, draw_share);
  Source* s = make_source(all, "trusted #" + std::to_string(all->next_trusted++), true, o, now, draw_share);
  s->budget = budget;
  return s;
}

// A trusted range's budget (a source that is trusted and has no budget of
// another) is its share of the cap, not one source's budget.
static bool range_budget(const Source* s) { return s && s->trusted && !s->budget; }

double source_draw_rate(const ServerOptions* o, const Source* budget, double draw_share) {
  if (o->draw_total <= 0) return o->draw_rate;
  if (range_budget(budget)) return draw_share;
  return o->draw_rate > 0 ? std::min(o->draw_rate, draw_share) : draw_share;
}

double source_draw_burst(const ServerOptions* o, const Source*, double draw_share) {
  if (o->draw_total <= 0) return o->draw_burst;
  return std::min(o->draw_burst, draw_share);
}

void source_refill(const ServerOptions* o, Source* s, double now, double draw_share) {
  double elapsed = std::max(0.0, now - s->refilled_at);
  s->tokens = std::min(o->burst, s->tokens + elapsed * o->rate);
  s->draw_tokens = std::min(source_draw_burst(o, s, draw_share),
                            s->draw_tokens + elapsed * source_draw_rate(o, s, draw_share));
  s->login_tokens = std::min(o->login_burst, s->login_tokens + elapsed * o->login_rate);
  s->refilled_at = now;
}

void sources_sweep(Sources* all, const ServerOptions* o, double now, double draw_share) {
  for (auto it = all->by_key.begin(); it != all->by_key.end();) {
    Source* s = it->second.get();
    if (s->connections == 0) source_refill(o, s, now, draw_share);
    bool fresh = s->connections == 0 && s->motd_next <= now &&
                 (o->rate <= 0 || s->tokens >= o->burst) &&
                 s->draw_tokens >= source_draw_burst(o, s, draw_share) &&
                 (o->login_rate <= 0 || s->login_tokens >= o->login_burst);
    if (fresh)
      it = all->by_key.erase(it);
    else
      ++it;
  }
}
