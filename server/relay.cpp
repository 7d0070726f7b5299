#include "relay.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/draw_cost.h"
#include "net/message.h"
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

void relay_send(Relay* r, Client* c, const uint8_t* data, size_t length) {
  if (c->overflow || c->closed) return;
  if (c->output.memory_bytes + length > r->options->max_pending_output) {
    // A user who stops reading must not hold memory or slow anyone: it goes.
    c->overflow = true;
    output_clear(&c->output);
  } else {
    output_append(&c->output, data, length);
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
  std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return 1;
  unlink(temporary.c_str());
  return 0;
}

void relay_init(Relay* r, const ServerOptions* options, Board* board) {
  r->options = options;
  r->board = board;
  r->motd_path = options->board_path + ".motd";
  r->motd = read_motd(r->motd_path);
  if (!r->motd.empty()) server_log("message of the day: %s", r->motd.c_str());
}

static std::string count_text(int votes, int present) {
  return std::to_string(votes) + " of " + std::to_string(present) + " users.";
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

static int handle_login(Relay* r, Client* c, const uint8_t* payload, size_t length) {
  if (length < 5) return 0;
  uint32_t constant =
      payload[0] | (payload[1] << 8) | (payload[2] << 16) | (uint32_t(payload[3]) << 24);
  std::string raw;
  if (constant != LOGIN_CONSTANT || !split_strings(payload + 4, length - 4, &raw, 1)) return 0;
  int id = 1;
  while (id <= MAX_USERS && r->users[id]) id++;
  if (id > MAX_USERS) {
    server_log("#%u refused: the board is full", c->serial);
    relay_tell(
        r, c,
        "Sorry, the board is full (" + std::to_string(MAX_USERS) + " users). Try again later.");
    c->state = CLIENT_CLOSING;
    return 1;
  }
  c->name = unique_name(r, clean_name(raw));
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
  // The board streams from its file; the frames still pending are written
  // before anything queued here is sent.
  output_append_file(&c->output, r->board->file, 0, board_size(r->board));
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

static int restart_votes(const Relay* r) {
  int votes = 0;
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id] && r->users[id]->restart_vote) votes++;
  return votes;
}

static int kick_votes(const Relay* r, int target) {
  int votes = 0;
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id] && r->users[id]->kick_vote == target) votes++;
  return votes;
}

static void restart_board(Relay* r) {
  for (int id = 1; id <= MAX_USERS; id++)
    if (r->users[id]) r->users[id]->restart_vote = false;
  std::string archive;
  if (!board_restart(r->board, &archive)) {
    relay_announce(r, "The board could not be restarted.");
    return;
  }
  server_log("restart: the old board was moved to %s", archive.c_str());
  r->restarts++;
  if (r->watch.restart) r->watch.restart(r->watch.context);
  send_to_others(r, nullptr, RESTART_FRAME, sizeof RESTART_FRAME);
}

static void remove_user(Relay* r, Client* c) {
  int id = c->user_id;
  if (id <= 0 || r->users[id] != c) return;
  r->users[id] = nullptr;
  r->user_count--;
  r->roster_changes++;
  c->user_id = 0;
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
  target->state = CLIENT_CLOSING;
  std::string name = target->name;
  remove_user(r, target);
  relay_announce(r, name + " has been kicked.");
}

// Carries out whatever the present votes decide; a kick changes the number of
// users, so the count is repeated until nothing more happens.
static void count_votes(Relay* r) {
  for (;;) {
    int present = r->user_count;
    if (present == 0) return;
    if (restart_votes(r) * 2 > present) {
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
                   count_text(restart_votes(r), r->user_count));
    return 1;
  }
  c->restart_vote = true;
  int votes = restart_votes(r);
  server_log("vote: %d \"%s\" votes to restart (%d of %d)", c->user_id, c->name.c_str(), votes,
             r->user_count);
  relay_announce(r, c->name + " voted to restart the board: " + count_text(votes, r->user_count));
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
                   count_text(kick_votes(r, target), r->user_count));
    return 1;
  }
  c->kick_vote = target;
  int votes = kick_votes(r, target);
  server_log("vote: %d \"%s\" votes to kick %d \"%s\" (%d of %d)", c->user_id, c->name.c_str(),
             target, target_name.c_str(), votes, r->user_count);
  relay_announce(
      r, c->name + " voted to kick " + target_name + ": " + count_text(votes, r->user_count));
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
  if (!same_password(fields[0], password)) {
    server_log("motd: %d \"%s\" gave a wrong password", c->user_id, c->name.c_str());
    relay_tell(r, c, "Wrong password: the message of the day is unchanged.");
    return 1;
  }
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
  if (r->watch.command) r->watch.command(r->watch.context, copy.data(), copy.size());
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

// Two token buckets: commands, `rate` a second with at most `burst` saved up,
// and drawing cost, `draw_rate` a second with at most `draw_burst`. A drawing
// command is taken while the cost budget is not in debt and may run it into
// debt, so a command dearer than the whole burst still passes in time. When
// the frame must wait, c->resume_at is set to when both allow it.
static bool take_tokens(const ServerOptions* o, Client* c, double now, double cost) {
  double elapsed = now - c->refilled_at;
  c->tokens = std::min(o->burst, c->tokens + elapsed * o->rate);
  c->draw_tokens = std::min(o->draw_burst, c->draw_tokens + elapsed * o->draw_rate);
  c->refilled_at = now;
  double wait = 0;
  if (o->rate > 0 && c->tokens < 1) wait = (1 - c->tokens) / o->rate;
  if (o->draw_rate > 0 && cost > 0 && c->draw_tokens < 0)
    wait = std::max(wait, -c->draw_tokens / o->draw_rate);
  if (wait > 0) {
    c->resume_at = now + wait;
    return false;
  }
  if (o->rate > 0) c->tokens -= 1;
  if (o->draw_rate > 0) c->draw_tokens -= cost;
  return true;
}

InputResult relay_take_input(Relay* r, Client* c, double now, bool ignore_limit,
                             std::string* reason) {
  InputResult result = INPUT_WAITING;
  while (c->state == CLIENT_LOGIN || c->state == CLIENT_ACTIVE) {
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
    if (c->state == CLIENT_ACTIVE && !ignore_limit &&
        !take_tokens(r->options, c, now, draw_cost(p[0], p + 3, size - 3))) {
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
