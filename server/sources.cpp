#include "sources.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

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

std::string source_key(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN + 4] = "?";
  uint8_t v4[4];
  if (mapped_ipv4(address, v4)) {
    inet_ntop(AF_INET, v4, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    // One host has a /64 to itself: its other addresses are the same host.
    in6_addr prefix = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    memset(prefix.s6_addr + 8, 0, 8);
    inet_ntop(AF_INET6, &prefix, text, sizeof text);
    strcat(text, "/64");
  }
  return text;
}

static bool in_range(const AddressRange& r, const uint8_t* bytes, int family) {
  if (r.family != family) return false;
  int full = r.prefix / 8, rest = r.prefix % 8;
  if (memcmp(r.bytes, bytes, size_t(full)) != 0) return false;
  if (rest == 0) return true;
  uint8_t mask = uint8_t(0xFF << (8 - rest));
  return (r.bytes[full] & mask) == (bytes[full] & mask);
}

bool address_trusted(const ServerOptions* o, const sockaddr_storage& address) {
  uint8_t v4[4];
  bool is_v4 = mapped_ipv4(address, v4);
  const uint8_t* v6 = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr.s6_addr;
  for (const AddressRange& r : o->trusted) {
    if (is_v4 ? in_range(r, v4, AF_INET)
              : address.ss_family == AF_INET6 && in_range(r, v6, AF_INET6))
      return true;
  }
  return false;
}

Source* sources_find(Sources* all, const ServerOptions* o, const sockaddr_storage& address,
                     double now) {
  bool trusted = address_trusted(o, address);
  std::string key = trusted ? "trusted #" + std::to_string(all->next_trusted++)
                            : source_key(address);
  std::unique_ptr<Source>& slot = all->by_key[key];
  if (!slot) {
    slot.reset(new Source);
    slot->key = key;
    slot->trusted = trusted;
    slot->tokens = o->burst;
    slot->draw_tokens = o->draw_burst;
    slot->login_tokens = o->login_burst;
    slot->refilled_at = now;
  }
  return slot.get();
}

double source_draw_rate(const ServerOptions* o, double draw_share) {
  if (o->draw_total <= 0) return o->draw_rate;
  return o->draw_rate > 0 ? std::min(o->draw_rate, draw_share) : draw_share;
}

double source_draw_burst(const ServerOptions* o, double draw_share) {
  return o->draw_total > 0 ? std::min(o->draw_burst, draw_share) : o->draw_burst;
}

void source_refill(const ServerOptions* o, Source* s, double now, double draw_share) {
  double elapsed = std::max(0.0, now - s->refilled_at);
  s->tokens = std::min(o->burst, s->tokens + elapsed * o->rate);
  s->draw_tokens = std::min(source_draw_burst(o, draw_share),
                            s->draw_tokens + elapsed * source_draw_rate(o, draw_share));
  s->login_tokens = std::min(o->login_burst, s->login_tokens + elapsed * o->login_rate);
  s->refilled_at = now;
}

void sources_sweep(Sources* all, const ServerOptions* o, double now, double draw_share) {
  for (auto it = all->by_key.begin(); it != all->by_key.end();) {
    Source* s = it->second.get();
    if (s->connections == 0) source_refill(o, s, now, draw_share);
    bool fresh = s->connections == 0 && s->motd_next <= now &&
                 (o->rate <= 0 || s->tokens >= o->burst) &&
                 s->draw_tokens >= source_draw_burst(o, draw_share) &&
                 (o->login_rate <= 0 || s->login_tokens >= o->login_burst);
    if (fresh)
      it = all->by_key.erase(it);
    else
      ++it;
  }
}
