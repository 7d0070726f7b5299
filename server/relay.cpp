#include "relay.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "file_write.h"
#include "net/draw_cost.h"
#include "net/message.h"
#include "net/resume.h"
#include "server_log.h"

static const uint8_t ACCEPTED_FRAME[3] = {MSG_ACCEPTED, 0, 0};
static const uint8_t RESTART_FRAME[3] = {MSG_RESTART, 0, 0};

// The frame of a message built with the shared message code; the message is freed.
static std::vector<uint8_t> frame_of(Message* m) {
  std::vector<uint8_t> frame(FRAME_HEADER_SIZE + message_length(m));
  message_write_frame(m, frame.data());
  message_free(m);
  return frame;
}

static std::vector<uint8_t> chat_frame(int user_id, const std::string& text) {
  Message m;
  message_init(&m, MSG_CHAT);
  message_put_byte(&m, user_id);
  message_put_string(&m, text.c_str());
  return frame_of(&m);
}

// c's output goes and c with it, at the end of the iteration.
static void cut_off(Relay* r, Client* c) {
  c->overflow = true;
  output_clear(&c->output);
  if (!c->dirty) {
    c->dirty = true;
    r->dirty.push_back(c);
  }
}

// The user holding the most unread output (c among them, user or not).
static Client* largest_reader(Relay* r, Client* c) {
  Client* largest = c;
  for (int id = 1; id <= MAX_USERS; id++) {
    Client* u = r->users[id];
    if (u && !u->overflow && u->output.memory_bytes > largest->output.memory_bytes) largest = u;
  }
  return largest;
}

void relay_send(Relay* r, Client* c, const uint8_t* data, size_t length) {
  if (c->overflow || c->closed) return;
  c->output.shared_total = &r->output_total;
  if (c->output.memory_bytes + length > r->options->max_pending_output) {
    // A user who stops reading must not hold memory or slow anyone: it goes.
    cut_off(r, c);
    return;
  }
  // Past the bound of the whole server the largest readers go first, c too
  // when it is the largest.
  while (r->output_total + length > r->options->max_output_total && !c->overflow) {
    Client* largest = largest_reader(r, c);
    if (largest->output.memory_bytes == 0) break;
    cut_off(r, largest);
  }
  if (c->overflow) return;
  try {
    output_append(&c->output, data, length);
  } catch (const std::bad_alloc&) {
    cut_off(r, c);  // no memory for c's output: c alone goes
    return;
  }
  if (!c->dirty) {
    c->dirty = true;
    r->dirty.push_back(c);
  }
}

static void send_frame(Relay* r, Client* c, const std::vector<uint8_t>& frame) {
  relay_send(r, c, frame.data(), frame.size());
}

static void send_to_others(Relay* r, Client* except, const uint8_t* data, size_t length) {
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id] && r->users[id] != except) relay_send(r, r->users[id], data, length);
}

void relay_tell(Relay* r, Client* c, const std::string& text) {
  send_frame(r, c, chat_frame(0, text));
}

void relay_announce(Relay* r, const std::string& text) {
  std::vector<uint8_t> frame = chat_frame(0, text);
  send_to_others(r, nullptr, frame.data(), frame.size());
}

static std::string read_motd(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "";
  char buffer[MAX_CHAT_CHARS + 1];
  size_t n = fread(buffer, 1, MAX_CHAT_CHARS, f);
  fclose(f);
  return clean_text(std::string(buffer, n), MAX_CHAT_CHARS);
}

static int write_motd(const std::string& path, const std::string& text) {
  return file_replace(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0644);
}

void relay_init(Relay* r, const ServerOptions* options, Board* board) {
  r->options = options;
  r->board = board;
  r->motd_path = options->board_path + ".motd";
  r->motd = read_motd(r->motd_path);
  if (!r->motd.empty()) server_log("message of the day: %s", r->motd.c_str());
}

// Votes are counted per source: many connections of one host are one voter
// (each connection of a trusted source is one of its own).
static std::string count_text(const Relay* r, int votes, int present) {
  return std::to_string(votes) + " of " + std::to_string(present) +
         (present == r->user_count ? " users." : " addresses.");
}

// ---- login ----

static bool name_taken(const Relay* r, const std::string& name) {
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id] && strcasecmp(r->users[id]->name.c_str(), name.c_str()) == 0) return true;
  return false;
}

static std::string unique_name(const Relay* r, const std::string& wanted) {
  if (!name_taken(r, wanted)) return wanted;
  for (int n = 2;; n++) {
    std::string suffix = std::to_string(n);
    std::string name = wanted.substr(0, MAX_NAME_CHARS - suffix.size()) + suffix;
    if (!name_taken(r, name)) return name;
  }
}

// A login request: the constant, the name, then its tail: nothing, a byte
// of flags, or the flags and a resume ticket (net/resume.h). 0 when it is not one.
static int read_login(const uint8_t* payload, size_t length, std::string* name, uint8_t* flags,
                      ResumeTicket* ticket, bool* has_ticket) {
  if (length < 5) return 0;
  uint32_t constant =
      payload[0] | (payload[1] << 8) | (payload[2] << 16) | (uint32_t(payload[3]) << 24);
  const uint8_t* text = payload + 4;
  const uint8_t* end = static_cast<const uint8_t*>(memchr(text, 0, length - 4));
  if (constant != LOGIN_CONSTANT || !end) return 0;
  const size_t text_end = size_t(end - text) + 1;
  return split_strings(text, text_end, name, 1) &&
         login_tail_read(text + text_end, length - 4 - text_end, flags, ticket, has_ticket);
}

static void send_goodbye(Relay* r, Client* c, GoodbyeReason reason) {
  if (!c->resumes) return;
  const uint8_t goodbye[4] = {MSG_GOODBYE, 1, 0, reason};
  relay_send(r, c, goodbye, sizeof goodbye);
}

static std::vector<uint8_t> resume_frame(const ResumeReply& reply) {
  Message m;
  message_init(&m, MSG_RESUME);
  resume_reply_put(&m, reply);
  return frame_of(&m);
}

static void reply_resume(ResumeReply* reply, ResumeOutcome outcome, const char* reason) {
  reply->outcome = outcome;
  snprintf(reply->reason, sizeof reply->reason, "%s", reason);
}

// What a ticket gets (a session present elsewhere aside): the session taken
// up, or, with the reason, a new one; a session that cannot be taken up is
// forgotten.
static ResumeSession* judge_ticket(Relay* r, const ResumeTicket& ticket, ResumeSession* held, ResumeReply* reply) {
  if (!held) {
    reply_resume(reply, RESUME_REFUSED, "This session is unknown or has expired.");
  } else if (held->generation != r->resume.generation) {
    reply_resume(reply, RESUME_RESTARTED, "The board was restarted since.");
  } else if (ticket.acked > held->accepted) {
    reply_resume(reply, RESUME_REFUSED, "The session's count is ahead of the server's.");
  } else if (held->accepted - ticket.acked > ticket.pending) {
    reply_resume(reply, RESUME_REFUSED, "The session's count is too far behind the server's.");
  } else {
    reply_resume(reply, RESUME_TAKEN, "");
    return held;
  }
  if (held) resume_store_forget(&r->resume, held);
  return nullptr;
}

// The board streams from its file; the frames still pending are written
// before anything queued here is sent. A client that asked for it gets the
// checkpoint and the commands after it instead of the whole history, while
// the checkpoint stands for this board.
static void send_board(Relay* r, Client* c, uint8_t flags) {
  size_t from = 0;
  const Checkpoint* checkpoint = r->checkpoint.get();
  if ((flags & LOGIN_TAKES_CHECKPOINT) && checkpoint && checkpoint->file == r->board->file &&
      checkpoint->offset <= board_size(r->board)) {
    relay_send(r, c, checkpoint->frames.data(), checkpoint->frames.size());
    from = checkpoint->offset;
  }
  output_append_file(&c->output, r->board->file, from, board_size(r->board));
}

static int handle_login(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  std::string raw;
  uint8_t flags;
  ResumeTicket ticket;
  bool has_ticket = false;
  if (!read_login(payload, length, &raw, &flags, &ticket, &has_ticket)) return 0;
  c->resumes = (flags & LOGIN_RESUMES) != 0;
  Source* source = c->source;
  source->unlogged--;
  ResumeSession* held = has_ticket ? resume_store_find(&r->resume, ticket.token) : nullptr;
  if (held && held->link) {
    // Nobody takes over a painter who is present; the client tries again later.
    server_log("#%u refused: its session is still connected as %d \"%s\"", c->serial, held->link->user_id,
               held->link->name.c_str());
    ResumeReply busy = {};
    memcpy(busy.token, ticket.token, RESUME_TOKEN_SIZE);
    reply_resume(&busy, RESUME_BUSY, "This session is still connected.");
    send_frame(r, c, resume_frame(busy));
    r->resume_outcomes[RESUME_BUSY]++;
    c->state = CLIENT_CLOSING;
    c->leaving = LEFT_REFUSED;
    return 1;
  }
  int id = 1;
  while (id <= MAX_USERS && r->users[id]) id++;
  std::string refusal;
  if (id > MAX_USERS) {
    server_log("#%u refused: the board is full", c->serial);
    refusal = "Sorry, the board is full (" + std::to_string(MAX_USERS) + " users). Try again later.";
  } else if (!source->trusted && source->seats >= r->options->seats_per_source) {
    server_log("#%u refused: %d users from %s are logged in", c->serial, source->seats,
               source->key.c_str());
    refusal = "Sorry, " + std::to_string(source->seats) +
              " users from your address are on the board already. Try again later.";
  }
  if (!refusal.empty()) {
    relay_tell(r, c, refusal);
    send_goodbye(r, c, GOODBYE_REFUSED);
    c->state = CLIENT_CLOSING;
    c->leaving = LEFT_REFUSED;
    return 1;
  }
  source->seats++;
  ResumeReply reply = {};
  ResumeSession* session = nullptr;
  if (c->resumes) {
    reply_resume(&reply, RESUME_NEW, "");
    if (has_ticket) session = judge_ticket(r, ticket, held, &reply);
  }
  c->name = unique_name(r, session ? std::string(session->name) : clean_name(raw));
  if (session) {
    resume_store_attach(&r->resume, session, c);
    reply.accepted = session->accepted;
    server_log("#%u takes up the session of \"%s\" (%u messages accepted, %u seen)", c->serial,
               session->name, session->accepted, ticket.acked);
  } else if (c->resumes) {
    if (has_ticket) server_log("#%u cannot resume: %s", c->serial, reply.reason);
    session = resume_store_create(&r->resume, c->name, c);
  }
  if (session) memcpy(reply.token, session->token, RESUME_TOKEN_SIZE);
  c->resume = session;
  r->resume_outcomes[reply.outcome] += c->resumes;
  c->user_id = id;
  c->state = CLIENT_ACTIVE;

  Message m;
  message_init(&m, MSG_LOGIN);
  message_put_byte(&m, id);
  message_put_string(&m, c->name.c_str());
  for (int other = 1; other <= MAX_USERS; other++) {
    if (!r->users[other]) continue;
    message_put_byte(&m, other);
    message_put_string(&m, r->users[other]->name.c_str());
  }
  message_put_byte(&m, 0);
  send_frame(r, c, frame_of(&m));
  if (c->resumes) send_frame(r, c, resume_frame(reply));
  send_board(r, c, flags);
  if (!r->motd.empty()) relay_tell(r, c, r->motd);
  relay_send(r, c, ACCEPTED_FRAME, sizeof ACCEPTED_FRAME);

  message_init(&m, MSG_USER_JOINED);
  message_put_byte(&m, id);
  message_put_string(&m, c->name.c_str());
  std::vector<uint8_t> joined = frame_of(&m);
  send_to_others(r, c, joined.data(), joined.size());
  r->users[id] = c;
  r->user_count++;
  r->roster_changes++;
  server_log("#%u logged in as %d \"%s\" (%d users)", c->serial, id, c->name.c_str(),
             r->user_count);
  return 1;
}

// ---- votes ----

// The sources with a user for whom vote(user) holds, each counted once.
template <class Vote>
static int sources_voting(const Relay* r, Vote vote) {
  const Source* seen[MAX_USERS];
  int count = 0;
  for (int id = 1; id <= MAX_USERS; id++) {
    const Client* u = r->users[id];
    if (!u || !vote(u) || std::find(seen, seen + count, u->source) != seen + count) continue;
    seen[count++] = u->source;
  }
  return count;
}

static int sources_present(const Relay* r) {
  return sources_voting(r, [](const Client*) { return true; });
}

static int restart_votes(const Relay* r) {
  return sources_voting(r, [](const Client* u) { return u->restart_vote; });
}

static int kick_votes(const Relay* r, int target) {
  return sources_voting(r, [target](const Client* u) { return u->kick_vote == target; });
}

static void clear_restart_votes(Relay* r) {
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id]) r->users[id]->restart_vote = false;
  r->restart_waiting = false;
}

static void restart_board(Relay* r) {
  clear_restart_votes(r);
  r->restart_not_before = r->now + r->options->restart_interval;
  std::string archive;
  // The sessions' counts are written before the board's frames they count.
  if (!resume_store_flush(&r->resume) || !board_restart(r->board, &archive)) {
    relay_announce(r, "The board could not be restarted.");
    return;
  }
  resume_store_restart(&r->resume, resume_file_inode(r->board->file->fd));
  resume_store_flush(&r->resume);  // the journal anew, for the new board (a failure holds what follows)
  server_log("restart: the old board was moved to %s", archive.c_str());
  r->restarts++;
  send_to_others(r, nullptr, RESTART_FRAME, sizeof RESTART_FRAME);
}

static void remove_user(Relay* r, Client* c) {
  int id = c->user_id;
  if (id <= 0 || r->users[id] != c) return;
  r->users[id] = nullptr;
  r->user_count--;
  c->source->seats--;
  r->roster_changes++;
  c->user_id = 0;
  if (c->resume) resume_store_detach(&r->resume, c->resume, time(nullptr));
  c->resume = nullptr;
  c->restart_vote = false;
  c->kick_vote = 0;
  for (int other = 1; other <= MAX_USERS; other++)
    if (r->users[other] && r->users[other]->kick_vote == id) r->users[other]->kick_vote = 0;
  const uint8_t left[4] = {MSG_USER_LEFT, 1, 0, uint8_t(id)};
  send_to_others(r, nullptr, left, sizeof left);
}

static void kick_user(Relay* r, Client* target) {
  server_log("kick: %d \"%s\" is disconnected by vote", target->user_id, target->name.c_str());
  relay_tell(r, target, "You have been kicked from the board.");
  send_goodbye(r, target, GOODBYE_KICKED);
  if (target->resume) resume_store_forget(&r->resume, target->resume);
  target->resume = nullptr;
  target->state = CLIENT_CLOSING;
  target->leaving = LEFT_KICKED;
  std::string name = target->name;
  remove_user(r, target);
  relay_announce(r, name + " has been kicked.");
}

// Carries out whatever the present votes decide; a kick changes the number of
// users, so the count is repeated until nothing more happens.
// A restart that passed waits for the end of the interval since the last one
// (the votes stay and are counted again then); on an empty board it changes
// nothing and archives nothing.
static void count_votes(Relay* r) {
  for (;;) {
    int present = sources_present(r);
    if (present == 0) return;
    if (restart_votes(r) * 2 <= present) {
      r->restart_waiting = false;
    } else if (board_size(r->board) == 0) {
      clear_restart_votes(r);
      relay_announce(r, "The board is empty: there is nothing to restart.");
    } else if (r->now < r->restart_not_before) {
      if (!r->restart_waiting) {
        int wait = int(std::ceil(r->restart_not_before - r->now));
        relay_announce(r, "The board restarts in " + std::to_string(wait) +
                              " seconds: at most one restart every " +
                              std::to_string(r->options->restart_interval) + " seconds.");
      }
      r->restart_waiting = true;
    } else {
      restart_board(r);
      continue;
    }
    Client* target = nullptr;
    for (int id = 1; id <= MAX_USERS && !target; id++)
      if (r->users[id] && kick_votes(r, id) * 2 > present) target = r->users[id];
    if (!target) return;
    kick_user(r, target);
  }
}

static int handle_restart_vote(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  if (length != 1 || payload[0] != 1) return 0;
  if (c->restart_vote) {
    relay_tell(r, c,
               "You have already voted to restart the board: " +
                   count_text(r, restart_votes(r), sources_present(r)));
    return 1;
  }
  c->restart_vote = true;
  int votes = restart_votes(r), present = sources_present(r);
  server_log("vote: %d \"%s\" votes to restart (%d of %d)", c->user_id, c->name.c_str(), votes,
             present);
  relay_announce(r, c->name + " voted to restart the board: " + count_text(r, votes, present));
  count_votes(r);
  return 1;
}

static int handle_kick_vote(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  if (length != 1) return 0;
  int target = payload[0];
  if (target < 1 || target > MAX_USERS || !r->users[target]) {
    relay_tell(r, c, "There is no user with the id " + std::to_string(target) + ".");
    return 1;
  }
  const std::string& target_name = r->users[target]->name;
  if (c->kick_vote == target) {
    relay_tell(r, c,
               "You have already voted to kick " + target_name + ": " +
                   count_text(r, kick_votes(r, target), sources_present(r)));
    return 1;
  }
  c->kick_vote = target;
  int votes = kick_votes(r, target), present = sources_present(r);
  server_log("vote: %d \"%s\" votes to kick %d \"%s\" (%d of %d)", c->user_id, c->name.c_str(),
             target, target_name.c_str(), votes, present);
  relay_announce(r, c->name + " voted to kick " + target_name + ": " + count_text(r, votes, present));
  count_votes(r);
  return 1;
}

// ---- message of the day ----

static bool same_password(const std::string& given, const std::string& password) {
  // Looks at every byte whatever the first difference, so the answer's timing
  // tells nothing about how much of a guess was right.
  size_t n = given.size() > password.size() ? given.size() : password.size();
  unsigned diff = given.size() != password.size();
  for (size_t i = 0; i < n; i++) {
    unsigned a = i < given.size() ? uint8_t(given[i]) : 0;
    unsigned b = i < password.size() ? uint8_t(password[i]) : 0;
    diff |= a ^ b;
  }
  return diff == 0;
}

static int handle_motd(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  std::string fields[2];
  if (!split_strings(payload, length, fields, 2)) return 0;
  const std::string& password = r->options->motd_password;
  if (password.empty()) {
    relay_tell(r, c, "This server has no password for the message of the day.");
    return 1;
  }
  // After a wrong password its source waits 1, 2, 4... up to 60 seconds before
  // the next one is even looked at.
  Source* source = c->source->budget ? c->source->budget : c->source;
  if (r->now < source->motd_next) {
    relay_tell(r, c,
               "Too many wrong passwords: wait " +
                   std::to_string(int(std::ceil(source->motd_next - r->now))) + " s and try again.");
    return 1;
  }
  if (!same_password(fields[0], password)) {
    server_log("motd: %d \"%s\" gave a wrong password", c->user_id, c->name.c_str());
    relay_tell(r, c, "Wrong password: the message of the day is unchanged.");
    source->motd_next = r->now + std::min(60.0, std::ldexp(1.0, std::min(source->motd_failures, 6)));
    source->motd_failures++;
    return 1;
  }
  source->motd_failures = 0;
  r->motd = clean_text(fields[1], MAX_CHAT_CHARS);
  server_log("motd: %d \"%s\" set the message of the day: %s", c->user_id, c->name.c_str(),
             r->motd.c_str());
  if (!write_motd(r->motd_path, r->motd)) {
    server_log("error: cannot write %s: %s", r->motd_path.c_str(), strerror(errno));
    relay_tell(r, c, "The message of the day is set, but it could not be saved.");
    return 1;
  }
  relay_tell(
      r, c,
      r->motd.empty() ? "The message of the day is cleared." : "The message of the day is set.");
  return 1;
}

// ---- commands ----

static int handle_drawing(Relay* r, Client* c, const uint8_t* frame, size_t length) {
  if (!validate_drawing(frame[0], frame + 3, length - 3)) return 0;
  std::vector<uint8_t> copy(frame, frame + length);
  copy[3] = uint8_t(c->user_id);  // nobody paints for someone else
  board_append(r->board, copy.data(), copy.size());
  if (c->resume) resume_store_accept(&r->resume, c->resume, r->board->written, board_size(r->board));
  send_to_others(r, c, copy.data(), copy.size());
  relay_send(r, c, ACCEPTED_FRAME, sizeof ACCEPTED_FRAME);
  r->relayed++;
  r->acks++;
  return 1;
}

static int handle_chat(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  if (!validate_chat(payload, length)) return 0;
  std::string text(reinterpret_cast<const char*>(payload + 1), length - 2);
  std::vector<uint8_t> frame = chat_frame(c->user_id, text);
  if (c->resume) resume_store_accept(&r->resume, c->resume, r->board->written, board_size(r->board));
  send_to_others(r, c, frame.data(), frame.size());
  relay_send(r, c, ACCEPTED_FRAME, sizeof ACCEPTED_FRAME);
  r->acks++;
  return 1;
}

int relay_handle_frame(Relay* r, Client* c, const uint8_t* frame, size_t length) {
  if (length < 3 || length != 3 + frame_payload_length(frame)) return 0;
  const uint8_t* payload = frame + 3;
  size_t payload_length = length - 3;
  if (c->state == CLIENT_LOGIN)
    return frame[0] == MSG_LOGIN && handle_login(r, c, payload, payload_length);
  if (c->state != CLIENT_ACTIVE) return 1;  // on its way out: ignored
  if (is_drawing_type(frame[0])) return handle_drawing(r, c, frame, length);
  switch (frame[0]) {
    case MSG_CHAT:
      return handle_chat(r, c, payload, payload_length);
    case MSG_RESTART:
      return handle_restart_vote(r, c, payload, payload_length);
    case MSG_KICK:
      return handle_kick_vote(r, c, payload, payload_length);
    case MSG_MOTD:
      return handle_motd(r, c, payload, payload_length);
    default:
      return 0;
  }
}

// A source counts among those drawing for this long after its last drawing command.
static const double DRAWING_SECONDS = 5;

// The part of the server-wide drawing budget each drawing source has.
static double draw_share(const Relay* r) {
  return r->options->draw_total / std::max(1, r->drawing_sources);
}

// The whole server's bucket holds this much of `draw_total` at most.
static const double TOTAL_BURST_SECONDS = 2;

static void refill_total(Relay* r, double now) {
  const ServerOptions* o = r->options;
  double burst = o->draw_total * TOTAL_BURST_SECONDS;
  if (r->total_refilled_at == 0) r->total_tokens = burst;
  double elapsed = std::max(0.0, now - r->total_refilled_at);
  r->total_tokens = std::min(burst, r->total_tokens + elapsed * o->draw_total);
  r->total_refilled_at = now;
}

// The source's buckets: frames, `rate` a second with at most `burst` saved
// up, and drawing cost, `draw_rate` a second with at most `draw_burst` (both
// never more than its share of `draw_total`); a trusted connection's drawing
// budget is its range's. A drawing command is taken while the budget is not
// in debt and may run it into debt, so a command dearer than the whole burst
// still passes in time and its source alone waits for it. All sources
// together draw from the server's bucket, which must hold the command's cost
// (or be full): whatever the number of sources and however fresh, no more
// than `draw_total` a second and its burst is relayed, and cheap commands
// pass while dear ones wait for it to fill. When the frame must wait,
// c->resume_at is set to when all allow it.
static bool take_tokens(Relay* r, Client* c, double now, double cost) {
  const ServerOptions* o = r->options;
  Source* s = c->source;
  Source* budget = s->budget ? s->budget : s;
  if (cost > 0) {
    if (now - budget->last_draw > DRAWING_SECONDS) r->drawing_sources++;
    budget->last_draw = now;
  }
  double share = draw_share(r), draw_rate = source_draw_rate(o, budget, share);
  source_refill(o, s, now, share);
  if (budget != s) source_refill(o, budget, now, share);
  refill_total(r, now);
  double wait = 0;
  if (o->rate > 0 && s->tokens < 1) wait = (1 - s->tokens) / o->rate;
  if (cost > 0 && draw_rate > 0 && budget->draw_tokens < 0) wait = std::max(wait, -budget->draw_tokens / draw_rate);
  double total_needed = std::min(cost, o->draw_total * TOTAL_BURST_SECONDS);
  if (cost > 0 && o->draw_total > 0 && r->total_tokens < total_needed)
    wait = std::max(wait, (total_needed - r->total_tokens) / o->draw_total);
  if (wait > 0) {
    c->resume_at = now + wait;
    return false;
  }
  if (o->rate > 0) s->tokens -= 1;
  if (draw_rate > 0) budget->draw_tokens -= cost;
  if (o->draw_total > 0) r->total_tokens -= cost;
  return true;
}

// Logins of an untrusted source, `login_rate` a second, `login_burst` at once.
static bool take_login(Relay* r, Client* c, double now) {
  const ServerOptions* o = r->options;
  Source* s = c->source;
  if (s->trusted || o->login_rate <= 0) return true;
  source_refill(o, s, now, draw_share(r));
  if (s->login_tokens < 1) {
    c->resume_at = now + (1 - s->login_tokens) / o->login_rate;
    return false;
  }
  s->login_tokens -= 1;
  return true;
}

void relay_trim_output(Relay* r) {
  while (r->output_total > r->options->max_output_total / 2) {
    Client* largest = nullptr;
    for (int id = 1; id <= MAX_USERS; id++) {
      Client* u = r->users[id];
      if (u && !u->overflow && (!largest || u->output.memory_bytes > largest->output.memory_bytes)) largest = u;
    }
    if (!largest || largest->output.memory_bytes == 0) return;
    cut_off(r, largest);
  }
}

InputResult relay_take_input(Relay* r, Client* c, double now, std::string* reason) {
  InputResult result = INPUT_WAITING;
  r->now = now;
  while (c->state == CLIENT_LOGIN || c->state == CLIENT_ACTIVE) {
    // Output past three quarters of the server's bound is sent (or trimmed)
    // before more input is taken: the next iteration goes on.
    if (r->output_total > r->options->max_output_total / 4 * 3) {
      c->resume_at = now;
      result = INPUT_LIMITED;
      break;
    }
    const uint8_t* p = c->input.data() + c->input_start;
    size_t available = c->input.size() - c->input_start;
    if (available == 0) break;
    if (c->state == CLIENT_LOGIN && p[0] != MSG_LOGIN) {
      *reason = "the first frame is not a login request";
      return INPUT_REFUSED;
    }
    if (available < size_t(FRAME_HEADER_SIZE)) break;
    size_t payload = frame_payload_length(p);
    if (payload > MAX_PAYLOAD) {
      *reason = "refused a frame of " + std::to_string(payload) + " bytes (type " +
                std::to_string(p[0]) + ")";
      return INPUT_REFUSED;
    }
    size_t size = frame_complete_size(p, available);
    if (size == 0) break;
    bool allowed = c->state == CLIENT_ACTIVE ? take_tokens(r, c, now, draw_cost(p[0], p + 3, size - 3))
                                             : take_login(r, c, now);
    if (!allowed) {
      result = INPUT_LIMITED;
      break;
    }
    int type = p[0];
    int ok = relay_handle_frame(r, c, p, size);
    c->input_start += size;
    if (!ok) {
      *reason = "sent an invalid frame (type " + std::to_string(type) + ", " +
                std::to_string(payload) + " bytes)";
      return INPUT_REFUSED;
    }
  }
  if (c->input_start == c->input.size()) {
    c->input.clear();
    c->input_start = 0;
  }
  return result;
}

void relay_leave(Relay* r, Client* c) {
  if (c->user_id == 0) return;
  remove_user(r, c);
  count_votes(r);
}

int relay_admit(Relay* r, Client* c, const sockaddr_storage& address, double now,
                std::string* reason) {
  // A fresh source holds what one of one more drawing sources would.
  double share = r->options->draw_total / (r->drawing_sources + 1);
  Source* s = sources_find(&r->sources, r->options, address, now, share);
  if (!s->trusted && s->unlogged >= r->options->unlogged_per_source) {
    *reason = std::to_string(s->unlogged) + " connections from " + s->key + " wait to log in";
    return 0;
  }
  c->source = s;
  c->output.shared_total = &r->output_total;
  s->connections++;
  if (s->budget) s->budget->connections++;
  s->unlogged++;
  return 1;
}

void relay_close(Relay* r, Client* c) {
  relay_leave(r, c);
  if (!c->source) return;
  if (c->state == CLIENT_LOGIN) c->source->unlogged--;
  c->source->connections--;
  if (c->source->budget) c->source->budget->connections--;
  c->source = nullptr;
}

void relay_tick(Relay* r, double now) {
  r->now = now;
  if (r->restart_waiting && now >= r->restart_not_before) count_votes(r);
  r->drawing_sources = 0;
  for (const auto& entry : r->sources.by_key)
    r->drawing_sources += now - entry.second->last_draw <= DRAWING_SECONDS;
  sources_sweep(&r->sources, r->options, now, draw_share(r));
  resume_store_sweep(&r->resume, time(nullptr));
}
