// Attacks on an easel-server over the loopback interface, made as an attacker
// would make them, each with what it costs the others: the painters'
// acknowledgement latency, the server's memory, the drawing cost relayed to
// every client, and what the attacker got. Distinct 127.x.y.z source
// addresses stand for distinct hosts. easel-attack prints the figures (for a
// server before and after a change); the server tests hold them to bounds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server_process.h"

using Bytes = std::vector<uint8_t>;

// Frames as our client builds them, and a board file of about `bytes` bytes
// of small pen strokes (quick to draw).
Bytes login_frame(const std::string& name);
Bytes chat_line(const std::string& text);
Bytes pen_stroke(int author, int points, int x, int y);
// The dearest command the server lets through: a 255-point smudge at the
// largest size and strength, zigzagging over the picture.
Bytes dear_frame(int author);
Bytes board_of_size(size_t bytes);

// A user over a blocking socket from a source address.
struct Peer {
  int fd = -1;
  int id = 0;
  Bytes input;
};
// Connects and logs in; 1 once the server has accepted the login (the board
// and the message of the day before it are skipped).
int peer_login(Peer* p, const std::string& source, int port, const std::string& name,
               double seconds = 10, int receive_window = 0);
int peer_send(Peer* p, const Bytes& bytes);
// Reads for up to `seconds` until a frame of the type arrives (its payload in
// *payload); 0 when none came or the connection closed.
int peer_wait(Peer* p, int type, double seconds, Bytes* payload = nullptr);
// 1 when the server closes the connection within the time.
int peer_closed_within(Peer* p, double seconds);
void peer_close(Peer* p);

// HTTP over a plain socket: the request bytes as given, the answer's status
// (-1: none), head and body (read until the announced length or the close).
struct HttpAnswer {
  int status = -1;
  std::string head, body;
  double seconds = 0;  // until the answer was complete
};
HttpAnswer http_exchange(int port, const std::string& request, double seconds = 10,
                         const std::string& source = "127.0.0.1");
std::string http_field(const HttpAnswer& a, const std::string& name);

// How an attack is run: the server binary, how long, and whether it takes the
// password of /motd on its command line (as servers did before).
struct AttackSetup {
  std::string server;
  double seconds = 10;
  bool password_flag = false;
  size_t board_bytes = 17600000;  // the large board of the attacks on the board file
  long address_space = 0;         // RLIMIT_AS of the server under the hostile requests
  std::vector<std::string> server_options;  // more options for the server
};

// The figures of one attack, in order, by name.
struct Figures {
  std::vector<std::pair<std::string, double>> items;
  void add(const std::string& name, double value) { items.emplace_back(name, value); }
  double get(const std::string& name) const;  // NaN when missing
};

// Each starts a server of its own with a fresh board and four painters at five
// strokes a second from addresses of their own, attacks it, and reports.
using Attack = Figures (*)(const AttackSetup& setup);
struct NamedAttack {
  const char* name;
  const char* what;
  Attack run;
};
extern const NamedAttack ATTACKS[];
extern const int ATTACK_COUNT;
const NamedAttack* attack_named(const std::string& name);
