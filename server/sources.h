// Accounting per source: every connection from one host (one IPv4 address,
// one IPv6 prefix of --ipv6-prefix bits) shares its frame rate, drawing budget, logins, seats and
// waiting connections, and a host that reconnects finds them as it left them.
// The address is whatever the connection is said to come from, so a
// connection bridged from elsewhere (the web side) is held to the same rules.
#pragma once
#include <sys/socket.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "options.h"

struct Source {
  std::string key;  // "192.0.2.7", "2001:db8:1:200::/56", or "trusted #N" for a trusted connection
  bool trusted = false;
  // A trusted connection's drawing budget and /motd back-off are its range's,
  // kept in the range's source (key "trusted RANGE"); null: its own.
  Source* budget = nullptr;
  int connections = 0;  // open, in any state
  int unlogged = 0;     // of them, waiting to log in
  int seats = 0;        // of them, logged in
  // Token buckets: frames, drawing cost (it may run into debt) and logins.
  double tokens = 0, draw_tokens = 0, login_tokens = 0;
  double refilled_at = 0;
  double last_draw = -1e9;  // when it last sent a drawing command
  // Wrong passwords of /motd: the next guess is looked at from motd_next on.
  int motd_failures = 0;
  double motd_next = 0;
};

struct Sources {
  std::unordered_map<std::string, std::unique_ptr<Source>> by_key;
  unsigned next_trusted = 1;
};

// The key of an address: IPv4 (also mapped into IPv6) as is, IPv6 by its
// first o->ipv6_prefix bits.
std::string source_key(const ServerOptions* o, const sockaddr_storage& address);
// The first of ranges that holds address, or null.
const AddressRange* address_in(const std::vector<AddressRange>& ranges, const sockaddr_storage& address);
bool address_trusted(const ServerOptions* o, const sockaddr_storage& address);
// The client a trusted proxy at peer speaks for, from the value of its
// forwarding header (every field of that name joined with commas; empty when
// there was none): walking from the right, the first address that is not a
// proxy itself (the left-most when all are). No header: the peer itself.
// 0 when the chain cannot be read or is longer than any sane one: the
// request is to be refused.
int forwarded_client(const ServerOptions* o, const sockaddr_storage& peer, const std::string& header,
                     sockaddr_storage* client);
// The source of a new connection from address, made when there is none, its
// drawing budget what a source holds at most given the share of the
// server's cap it would have. A trusted address gives every connection a
// source of its own, whose budget is its range's.
Source* sources_find(Sources* all, const ServerOptions* o, const sockaddr_storage& address,
                     double now, double draw_share);
// Tops up the buckets for the time passed; the drawing budget grows at the
// source's share of the server's (see source_draw_rate).
void source_refill(const ServerOptions* o, Source* s, double now, double draw_share);
// A source's drawing budget a second, and what it may save up: the
// per-source budget, but never more than draw_share, its part of the
// server-wide budget. 0 when neither limits it.
// A trusted range's shared budget is its share alone.
double source_draw_rate(const ServerOptions* o, const Source* budget, double draw_share);
double source_draw_burst(const ServerOptions* o, const Source* budget, double draw_share);
// Forgets the sources without connections that a new connection would find
// exactly as a fresh one (buckets full, no wrong password pending).
void sources_sweep(Sources* all, const ServerOptions* o, double now, double draw_share);
