// Command-line options of easel-server.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An address range (10.0.0.0/8, 2001:db8::/32, or one address).
struct AddressRange {
  int family = 0;  // AF_INET or AF_INET6
  uint8_t bytes[16] = {};
  int prefix = 0;  // bits that must match
};

// The limits apply per source: every connection from one IPv4 address or one
// IPv6 prefix (/56 by default) shares them, also across reconnects. A trusted
// source's connections are each a source of their own with no per-source caps
// on seats, logins or connections, but the connections of one trusted range
// share one drawing budget and one /motd back-off. Behind a trusted proxy the
// source is the address the proxy forwards, not the proxy's.
struct ServerOptions {
  int port = 2020;
  std::string bind_address;  // empty: every interface
  std::string board_path = "board.easel";
  // A checkpoint of the board (net/checkpoint.h) is made whenever it has grown
  // by this many commands; 0: none.
  size_t checkpoint_every = 500;
  // A painter's resume session (net/resume.h) is kept this long after its
  // link ended; at most RESUME_SESSIONS_MAX of them, in FILE.resume.
  double resume_hours = 24;
  std::string motd_password;  // empty: the message of the day cannot be changed
  size_t max_pending_output = 8u << 20;
  // Output not yet read by all users together; past it the largest reader is cut.
  size_t max_output_total = 64u << 20;
  double rate = 50;    // frames per second per source; 0 turns the limit off
  double burst = 100;  // frames a source may send at once before the limit applies
  // Drawing cost a source's commands may put on every client (net/draw_cost.h),
  // in microseconds of one core per second, and what may be saved up; 0 turns
  // the budget off.
  double draw_rate = 100000;
  double draw_burst = 500000;
  // All sources together: shared out among the sources drawing, each of them
  // having at most its part as its budget and its burst; 0 turns it off.
  double draw_total = 1000000;
  double login_rate = 1;   // logins per second per source
  double login_burst = 4;
  int seats_per_source = 8;     // users logged in from one source
  int unlogged_per_source = 4;  // connections of one source waiting to log in
  int restart_interval = 30;    // seconds from one restart to the next at least
  std::vector<AddressRange> trusted;
  int ipv6_prefix = 56;  // bits of an IPv6 address that make one source
  // Proxies whose forwarded client address (the header below) is the source
  // of their web requests and WebSockets.
  std::vector<AddressRange> proxies;
  std::string proxy_header = "x-forwarded-for";  // or "forwarded" (RFC 7239), lower case
  int max_connections = 1000;
  int login_timeout = 30;  // seconds to send the login request
  bool sync = false;       // fdatasync the board before acknowledging
  int http_port = -1;      // the web side's port; -1: no web side
  int http_connections = 512;  // web connections open at once
  // The page's files; empty: share/easel-server/web or web beside the
  // program's directory, whichever holds an index.html.
  std::string web_root;
  // Origins whose pages may open the WebSocket besides the server's own ("*": any).
  std::vector<std::string> web_origins;
  // The server's own host names, whose pages may open the WebSocket (besides
  // localhost, the --bind address and the address a browser reached).
  std::vector<std::string> server_names;
  // Bytes a second of web answers' bodies per source, and what may be saved up.
  double download_rate = 4 << 20;
  double download_burst = 16 << 20;
};

// Fills options from argv (and the message of the day's password from the
// environment or a file). Returns 1 to run, 0 when the program should exit
// with *exit_status (after --help, or an error already printed to stderr).
// The help and the mistakes are written by CLI11 (base/command_line.h).
int options_parse(ServerOptions* options, int argc, char** argv, int* exit_status);
// "10.0.0.0/8", "2001:db8::/32" or one address; 0 when it is none of them.
int address_range_parse(const char* text, AddressRange* out);
