// The rules of the board, without sockets: login, validation and relay of
// commands, acknowledgements, votes and the message of the day. Output goes
// into the clients' output queues; the event loop sends it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <memory>

#include "board.h"
#include "checkpoint_file.h"
#include "client.h"
#include "options.h"
#include "resume_store.h"
#include "rules.h"
#include "sources.h"

struct Relay {
  const ServerOptions* options = nullptr;
  Board* board = nullptr;
  Client* users[MAX_USERS + 1] = {};  // by user id; slot 0 unused
  int user_count = 0;
  std::string motd;
  std::string motd_path;
  std::vector<Client*> dirty;  // clients with new output, each once
  // The board's latest checkpoint, for the logins that ask for one; served
  // only while it stands for the board being written.
  std::shared_ptr<const Checkpoint> checkpoint;
  Sources sources;
  // The painters' resume sessions; the event loop loads and writes the journal.
  ResumeStore resume;
  double now = 0;  // of the input being handled
  // The server-wide drawing budget is shared out among the sources that drew
  // in the last few seconds.
  int drawing_sources = 0;
  // ...and all of them together draw from one bucket: `draw_total` a second,
  // at most TOTAL_BURST_SECONDS of it saved up, whatever the number of sources.
  double total_tokens = 0, total_refilled_at = 0;
  // Unread output of every client together (OutputQueue::shared_total).
  size_t output_total = 0;
  // Restarts: not before this time; a vote passed and waits for it.
  double restart_not_before = 0;
  bool restart_waiting = false;
  // For the metrics; the event loop takes and resets the counts.
  unsigned roster_changes = 0;
  long relayed = 0, acks = 0, restarts = 0;
  long resume_outcomes[RESUME_BUSY + 1] = {};  // resuming logins by ResumeOutcome
};

// Loads the message of the day kept beside the board.
void relay_init(Relay* r, const ServerOptions* options, Board* board);
// A new connection c from address (its peer, or whoever a bridge says it
// is): c gets its source. Returns 0, with the reason, when the source has
// too many connections waiting to log in; c is then to be closed at once.
int relay_admit(Relay* r, Client* c, const sockaddr_storage& address, double now,
                std::string* reason);
// c is closed for good: it leaves (relay_leave) and its source forgets it.
void relay_close(Relay* r, Client* c);
// Once a second: votes whose time has come, sources no longer needed.
void relay_tick(Relay* r, double now);
// Handles one complete frame of c. Returns 0 when the frame breaks the
// protocol; the caller then disconnects c.
int relay_handle_frame(Relay* r, Client* c, const uint8_t* frame, size_t length);
enum InputResult {
  INPUT_WAITING,  // every complete frame was handled; the rest waits for more bytes
  INPUT_LIMITED,  // the rate limit holds the next frame back
  INPUT_REFUSED,  // c broke the protocol and must be disconnected
};
// Takes the complete frames buffered in c->input, in order, and handles them,
// while its source's rate, drawing budget and logins and the server's drawing
// budget allow (when they do not, c->resume_at says when they will). A header
// announcing a frame larger than any legal message is refused before its
// payload arrives. While the output of all clients is over three quarters of
// the server's bound, input waits for the next iteration.
InputResult relay_take_input(Relay* r, Client* c, double now, std::string* reason);
// c has gone (or is being disconnected): the others are told, its votes and
// the votes against it vanish, and what is left of the votes is counted again.
void relay_leave(Relay* r, Client* c);
// After the output was sent: while the unread output of all clients is over
// half the server's bound, the user with the most of it is cut off (marked
// to be disconnected, as past its own bound).
void relay_trim_output(Relay* r);
// Queues bytes for c and marks it for sending; past the output bound c is
// flagged for disconnection instead.
void relay_send(Relay* r, Client* c, const uint8_t* data, size_t length);
// A chat line with user id 0 to one user, or to every user.
void relay_tell(Relay* r, Client* c, const std::string& text);
void relay_announce(Relay* r, const std::string& text);
