#include "session/board_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "net/command.h"
#include "net/command_run.h"
#include "net/layout.h"
#include "paint/canvas.h"

namespace {

constexpr int NOTICE_BUFFER = 128;  // joined/left lines
constexpr int CHAT_TEXT_SIZE = 512;
constexpr int NOTICE_SIZE = 512;    // formatted system lines

void reset_canvas(BoardSession* s, Image* canvas) {
  if (s->reset_canvas)
    s->reset_canvas(canvas);
  else
    paintPaper(canvas);
}

// A line added during a step carries the second the step is handling.
void add_line_at(BoardSession* s, const char* name, const char* text, time_t now) {
  if (chat_log_add(&s->chat_log, name, text, now)) ++s->frame.lines_added;
}

void vnotice_at(BoardSession* s, time_t now, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
void vnotice_at(BoardSession* s, time_t now, const char* format, va_list args) {
  char buffer[NOTICE_SIZE];
  vsnprintf(buffer, sizeof buffer, format, args);
  add_line_at(s, nullptr, buffer, now);
}

void notice_at(BoardSession* s, time_t now, const char* format, ...) __attribute__((format(printf, 3, 4)));
void notice_at(BoardSession* s, time_t now, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vnotice_at(s, now, format, args);
  va_end(args);
}

// The roster name of an id, or "???" when there is none to show.
const char* name_or_unknown(const BoardSession* s, int id) {
  const char* name = roster_exists(&s->roster, id) ? roster_name(&s->roster, id) : nullptr;
  return name ? name : "???";
}

// A stroke tells where its author is and, when coloured, in which colour.
void note_stroke(BoardSession* s, const StrokeCommand& c, const PointList& points) {
  if (c.author == 0) return;
  if (command_layout(int(c.type))->coloured) roster_set_colour(&s->roster, c.author, c.rgb[0], c.rgb[1], c.rgb[2]);
  roster_set_position(&s->roster, c.author, points.xs[0], points.ys[0]);
  if (roster_exists(&s->roster, c.author)) s->frame.roster_changed = true;
}

void note_decoded(void* context, const StrokeCommand& c, const PointList& points) {
  note_stroke(static_cast<BoardSession*>(context), c, points);
}

// A chat line, ours at its acceptance or another user's as it arrives.
void note_chat(BoardSession* s, Message* m, time_t now) {
  const uint16_t start = message_tell(m);
  const int user_id = message_get_byte(m);
  char text[CHAT_TEXT_SIZE];
  message_get_string(m, text, sizeof text);
  message_seek(m, start);
  add_line_at(s, user_id ? roster_name(&s->roster, user_id) : nullptr, text, now);
}

// Draws a command of ours as every client draws it, noting its author.
void draw_ours(BoardSession* s, Image* canvas, Message* m) {
  StrokeCommand c;
  if (!decode_command(m, &c, &point_list)) return;
  note_stroke(s, c, point_list);
  draw_stroke_command(canvas, c, point_list);
}

void handle_login_reply(BoardSession* s, Message* m, time_t now) {
  Roster* r = &s->roster;
  roster_clear(r);
  s->own_user_id = static_cast<uint8_t>(message_get_byte(m));
  message_get_string(m, s->user_name, USER_NAME_FIELD);
  roster_set_name(r, s->own_user_id, s->user_name);

  uint8_t count = 0;
  int last_id = 0;
  for (;;) {
    int id = message_get_byte(m);
    if (id == 0) break;  // also the end of the payload
    char name[USER_NAME_FIELD];
    message_get_string(m, name, USER_NAME_FIELD);
    roster_set_name(r, id, name);
    ++count;
    last_id = id;
  }
  if (count == 0)
    notice_at(s, now, "Logged in as %s.", s->user_name);
  else if (count == 1)
    notice_at(s, now, "Logged in as %s, %s is already here.", s->user_name, name_or_unknown(s, last_id));
  else
    notice_at(s, now, "Logged in as %s, %d users are already here.", s->user_name, count);
  s->frame.roster_changed = true;

  // The picture is rebuilt from the commands the server sends after its
  // reply, or from a checkpoint and the commands after it.
  reset_canvas(s, &s->ServerCanvas);
  s->frame.received_this_frame = true;
  checkpoint_intake_free(&s->checkpoint);
  s->checkpoint_due = s->take_checkpoint;
  s->checkpoint_shift = 0;
  s->resume.reply_next = s->resume.reply_due;
}

// A damaged checkpoint, or one that comes when none may: the picture it
// would give cannot be trusted, so the link ends.
void refuse_checkpoint(BoardSession* s) {
  s->checkpoint_due = false;
  s->checkpoint_waiting = false;
  checkpoint_intake_free(&s->checkpoint);
  board_session_disconnect(s, LINK_BAD_CHECKPOINT);
}

// The awaited checkpoint's picture (null: decoded here) becomes ServerCanvas
// when it has the checkpoint's size and digest; else the link ends. 1 when taken.
int install_checkpoint(BoardSession* s, const Image* picture) {
  Image decoded = {};
  if (!picture && image_create(&decoded, CANVAS_WIDTH, CANVAS_HEIGHT) && checkpoint_picture(&s->checkpoint, &decoded))
    picture = &decoded;
  const bool good = picture && picture->w == CANVAS_WIDTH && picture->h == CANVAS_HEIGHT &&
                    image_digest(picture) == s->checkpoint.head.picture;
  if (good) image_copy_all(picture, &s->ServerCanvas);
  image_destroy(&decoded);
  if (!good) {
    refuse_checkpoint(s);
    return 0;
  }
  s->checkpoint_shift += int64_t(s->checkpoint.head.bytes);
  checkpoint_intake_free(&s->checkpoint);
  s->checkpoint_due = s->checkpoint_waiting = false;
  s->frame.received_this_frame = true;
  return 1;
}

void handle_checkpoint(BoardSession* s, Message* m, time_t) {
  if (!s->checkpoint_due) return refuse_checkpoint(s);
  s->checkpoint_shift -= FRAME_HEADER_SIZE + (m->end - m->begin);
  const CheckpointStep step = checkpoint_take(&s->checkpoint, m->begin, size_t(m->end - m->begin));
  if (step == CHECKPOINT_BAD) return refuse_checkpoint(s);
  if (step == CHECKPOINT_MORE) return;
  s->checkpoint_waiting = true;
  if (!s->checkpoint_by_caller) install_checkpoint(s, nullptr);
}

// LocalCanvas rebuilt after ServerCanvas changed; a stroke in progress goes on over it.
void rebuild_under_stroke(BoardSession* s) {
  board_session_rebuild(s);
  if (stroke_in_progress(&s->stroke)) stroke_preview_rebuild(&s->stroke, &s->StrokeLayer, &s->LocalCanvas, s->colour.rgb);
}

// What may follow a checkpoint ends the time one may come; a checkpoint cut
// short by it is damaged. 0 when the link ended for it.
int close_checkpoint(BoardSession* s) {
  const bool cut = s->checkpoint.png != nullptr;
  s->checkpoint_due = false;
  if (cut) refuse_checkpoint(s);
  return !cut;
}

void handle_user_joined(BoardSession* s, Message* m, time_t now) {
  int id = message_get_byte(m);
  char name[USER_NAME_FIELD];
  message_get_string(m, name, USER_NAME_FIELD);
  roster_set_name(&s->roster, id, name);
  s->frame.roster_changed = true;
  log_write(LOG_DEBUG, "New user %d (%s) joined.", id, name);
  char line[NOTICE_BUFFER];
  snprintf(line, sizeof line, "%s has joined.", name);
  add_line_at(s, nullptr, line, now);
}

void handle_user_left(BoardSession* s, Message* m, time_t now) {
  int id = message_get_byte(m);
  // Copied first: the roster slot goes away below.
  char name[USER_NAME_FIELD];
  snprintf(name, sizeof name, "%s", name_or_unknown(s, id));
  log_write(LOG_DEBUG, "User %d (%s) left.", id, name);
  char line[NOTICE_BUFFER];
  snprintf(line, sizeof line, "%s has left.", name);
  add_line_at(s, nullptr, line, now);
  roster_remove(&s->roster, id);
  s->frame.roster_changed = true;
}

void handle_restart(BoardSession* s, Message*, time_t now) {
  if (!close_checkpoint(s)) return;
  add_line_at(s, nullptr, "Image restarted.", now);
  reset_canvas(s, &s->ServerCanvas);
  s->frame.received_this_frame = true;
}

void handle_accepted(BoardSession* s, Message*, time_t now) {
  if (!close_checkpoint(s)) return;
  log_write(LOG_DEBUG, "Our last command has been accepted by the server.");
  Message ours;
  if (!queue_pop(&s->command_queue, &ours)) {
    log_write(LOG_DEBUG, ". . . Wait a minute, we didn't send the a command. What the heck!");
    return;
  }
  if (ours.type != MSG_LOGIN) ++s->resume.acked;
  if (!s->frame.received_this_frame && ours.type != MSG_CHAT && queue_count(&s->command_queue) == 0) {
    // LocalCanvas already is ServerCanvas plus exactly this command.
    image_copy_all(&s->LocalCanvas, &s->ServerCanvas);
  } else if (ours.type == MSG_CHAT) {
    // Where our chat line reaches the chat log.
    note_chat(s, &ours, now);
  } else {
    draw_ours(s, &s->ServerCanvas, &ours);
  }
  message_free(&ours);
}

// Chat lines of others, and whatever this client does not know, which draws nothing.
void handle_relayed(BoardSession* s, Message* m, time_t now) {
  if (m->type == MSG_CHAT) note_chat(s, m, now);
  s->frame.received_this_frame = true;
}

// Where our held messages start in the queue: after a login request not yet accepted.
uint16_t held_from(const BoardSession* s) {
  const CommandQueue* q = &s->command_queue;
  return queue_count(q) != 0 && q->begin->type == MSG_LOGIN ? 1 : 0;
}

// Takes the first held message out of the queue, a login request staying first.
bool take_held(BoardSession* s, Message* out) { return queue_take(&s->command_queue, held_from(s), out); }

// What we hold goes out, in order, under the id this link gave us (the
// server writes it anyway; our chat lines are then shown under our name).
void send_held(BoardSession* s) {
  for (uint16_t i = held_from(s); i < queue_count(&s->command_queue); ++i) {
    Message* m = queue_at(&s->command_queue, i);
    if (m->end > m->begin) m->begin[0] = s->own_user_id;
    if (!message_send(m, &s->outgoing)) return board_session_disconnect(s, LINK_SEND_FAILED);
  }
}

// A new session where the old one was asked for: what we held was drawn for
// a session that is gone.
void drop_held(BoardSession* s, const ResumeReply& reply, time_t now) {
  int strokes = 0;
  const int held = board_session_pending(s, &strokes);
  Message m;
  while (take_held(s, &m)) message_free(&m);
  s->frame.received_this_frame = true;  // LocalCanvas is ServerCanvas again
  if (held == 0) return;
  const char* reason = reply.reason[0] ? reply.reason
                       : reply.outcome == RESUME_RESTARTED ? "the board was restarted meanwhile"
                       : reply.outcome == RESUME_REFUSED  ? "the server refused to resume our session"
                                                           : "the server no longer knew our session";
  char what[64], lines[32] = "";
  const int chats = held - strokes;
  if (chats) snprintf(lines, sizeof lines, "%d chat line%s", chats, chats == 1 ? "" : "s");
  if (strokes)
    snprintf(what, sizeof what, "%d stroke%s%s%s", strokes, strokes == 1 ? "" : "s", chats ? " and " : "", lines);
  else
    snprintf(what, sizeof what, "%s", lines);
  notice_at(s, now, "Dropped %s that %s:%d did not confirm: %s", what, s->server_name, int(s->server_port), reason);
}

void handle_resume(BoardSession* s, Message* m, time_t now) {
  ResumeReply reply;
  if (!s->resume.reply_due) return;  // unasked: nothing to decide
  if (!resume_reply_get(m->begin, message_length(m), &reply)) return board_session_disconnect(s, LINK_LOST);
  // A session goes on only from a ticket we sent, and the server cannot have
  // taken more than we held: anything else is not a reply to trust.
  if (reply.outcome == RESUME_TAKEN &&
      (!s->resume.ticket_sent || reply.accepted < s->resume.acked ||
       reply.accepted - s->resume.acked > uint32_t(board_session_pending(s, nullptr))))
    return board_session_disconnect(s, LINK_LOST);
  s->resume.reply_due = s->resume.reply_next = false;
  if (reply.outcome == RESUME_BUSY) return board_session_disconnect(s, LINK_BUSY);
  memcpy(s->resume.token, reply.token, RESUME_TOKEN_SIZE);
  s->resume.has_token = true;
  if (reply.outcome == RESUME_TAKEN) {
    // Those the server took before the link ended: the board it sends has them.
    for (uint32_t n = reply.accepted - s->resume.acked; n > 0; --n) {
      Message ours;
      if (!take_held(s, &ours)) break;
      if (ours.type == MSG_CHAT) note_chat(s, &ours, now);
      message_free(&ours);
      // Until the board brings them, ServerCanvas lacks them too.
      s->frame.received_this_frame = true;
    }
    s->resume.acked = reply.accepted;
    s->frame.resumed = true;
  } else {
    s->resume.acked = 0;
    if (reply.outcome != RESUME_NEW || s->resume.ticket_sent) drop_held(s, reply, now);
  }
  send_held(s);
}

void handle_goodbye(BoardSession* s, Message* m, time_t) {
  const int reason = message_remaining(m) ? message_get_byte(m) : 0;
  s->resume.goodbye = uint8_t(reason ? reason : GOODBYE_REFUSED);
}

struct DispatchEntry {
  uint32_t type;
  void (*handle)(BoardSession*, Message*, time_t);
};

// Every type not listed here is a chat line of another user or unknown;
// drawing commands are drawn in runs before dispatch.
const DispatchEntry DISPATCH_TABLE[] = {
    {MSG_LOGIN, handle_login_reply},   {MSG_USER_JOINED, handle_user_joined},
    {MSG_USER_LEFT, handle_user_left}, {MSG_RESTART, handle_restart},
    {MSG_ACCEPTED, handle_accepted},  {MSG_CHECKPOINT, handle_checkpoint},
    {MSG_RESUME, handle_resume},      {MSG_GOODBYE, handle_goodbye},
};

void dispatch(BoardSession* s, Message* m, time_t now) {
  for (const DispatchEntry& entry : DISPATCH_TABLE) {
    if (entry.type == m->type) {
      entry.handle(s, m, now);
      return;
    }
  }
  handle_relayed(s, m, now);
}

// The bytes of a link and what it was doing; the queue too unless kept.
void drop_link_state(BoardSession* s, bool keep_queue = false) {
  if (!keep_queue) {
    queue_free(&s->command_queue);
    queue_init(&s->command_queue);
  }
  s->resume.reply_due = s->resume.reply_next = false;
  byte_buffer_release(&s->incoming);
  byte_buffer_release(&s->outgoing);
  checkpoint_intake_free(&s->checkpoint);
  s->checkpoint_due = false;
  s->checkpoint_waiting = false;
}

}  // namespace

int board_session_open(BoardSession* s) {
  void (*reset)(Image*) = s->reset_canvas;
  const time_t now = s->now;
  memset(static_cast<void*>(s), 0, sizeof *s);
  s->reset_canvas = reset;
  s->now = now;
  queue_init(&s->command_queue);
  colour_choice_reset(&s->colour);
  tool_settings_reset(&s->tools);
  if (!image_create(&s->ServerCanvas, CANVAS_WIDTH, CANVAS_HEIGHT) ||
      !image_create(&s->LocalCanvas, CANVAS_WIDTH, CANVAS_HEIGHT) ||
      !image_create(&s->StrokeLayer, CANVAS_WIDTH, CANVAS_HEIGHT)) {
    board_session_close(s);
    return 0;
  }
  reset_canvas(s, &s->ServerCanvas);
  image_copy_all(&s->ServerCanvas, &s->LocalCanvas);
  return 1;
}

void board_session_close(BoardSession* s) {
  board_session_reset(s);
  image_destroy(&s->ServerCanvas);
  image_destroy(&s->LocalCanvas);
  image_destroy(&s->StrokeLayer);
}

void board_session_reset(BoardSession* s) {
  drop_link_state(s);
  s->resume = ResumeState{};
  s->connected = false;
  s->own_user_id = 0;
  s->user_name[0] = '\0';
  s->server_name[0] = '\0';
  s->server_port = 0;
  roster_reset(&s->roster);
  chat_log_clear(&s->chat_log);
  s->frame = FrameReport{};
  stroke_abandon(&s->stroke);
}

int board_session_login(BoardSession* s, const char* user_name, const char* server_name, uint16_t server_port) {
  drop_link_state(s, s->take_resume);
  Message old;
  if (held_from(s) && queue_pop(&s->command_queue, &old)) message_free(&old);  // replaced below
  snprintf(s->user_name, sizeof s->user_name, "%s", user_name ? user_name : "");
  snprintf(s->server_name, sizeof s->server_name, "%s", server_name ? server_name : "");
  s->server_port = server_port;
  const int flags = (s->take_checkpoint ? LOGIN_TAKES_CHECKPOINT : 0) | (s->take_resume ? LOGIN_RESUMES : 0);
  const bool ticket = s->take_resume && s->resume.has_token;
  ResumeTicket t = {};
  memcpy(t.token, s->resume.token, RESUME_TOKEN_SIZE);
  t.acked = s->resume.acked;
  t.pending = uint32_t(board_session_pending(s, nullptr));
  Message request;
  message_init(&request, MSG_LOGIN);
  if (message_put_int(&request, LOGIN_CONSTANT) && message_put_string(&request, s->user_name) &&
      (!flags || message_put_byte(&request, flags)) && (!ticket || resume_ticket_put(&request, t)) &&
      message_send(&request, &s->outgoing) && queue_push_front(&s->command_queue, &request)) {
    s->connected = true;  // the queue owns the request now
    s->resume.reply_due = s->take_resume;
    s->resume.ticket_sent = ticket;
    s->resume.goodbye = 0;
    return 1;
  }
  message_free(&request);
  byte_buffer_release(&s->outgoing);
  return 0;
}

int board_session_pending(const BoardSession* s, int* strokes) {
  const uint16_t first = held_from(s), count = queue_count(&s->command_queue);
  if (strokes) {
    *strokes = 0;
    for (uint16_t i = first; i < count; ++i)
      *strokes += s->command_queue.begin[i].type != MSG_CHAT;
  }
  return count - first;
}

int board_session_may_rejoin(const BoardSession* s) { return !s->connected && s->resume.goodbye == 0; }

int board_session_received(BoardSession* s, const uint8_t* bytes, size_t length) {
  return byte_buffer_append(&s->incoming, bytes, length);
}

const uint8_t* board_session_unsent(const BoardSession* s, size_t* length) {
  *length = byte_buffer_used(&s->outgoing);
  return *length ? s->outgoing.begin : nullptr;
}

void board_session_sent(BoardSession* s, size_t count) { byte_buffer_drop(&s->outgoing, count); }

void board_frame_start(BoardSession* s, time_t now) {
  s->frame = FrameReport{};
  s->now = now;
}

void board_session_step(BoardSession* s, double (*clock)(), double deadline) {
  if (!s->connected) return;
  // Consecutive drawing commands are drawn as one run; every other message
  // waits until the run before it is drawn.
  const CommandObserver observer = {note_decoded, s};
  CommandRun run;
  command_run_begin(&run, &s->ServerCanvas, &observer);
  for (bool handled_one = false; !handled_one || clock() < deadline; handled_one = true) {
    if (s->checkpoint_waiting) break;  // what follows needs the checkpoint's picture
    Message m;
    if (!message_receive(&m, &s->incoming)) break;
    if (s->resume.reply_next && m.type != MSG_RESUME) {
      // A server that does not resume: what we hold goes out as after a first login.
      s->resume.reply_due = s->resume.reply_next = false;
      send_held(s);
      if (!s->connected) {
        message_free(&m);
        break;
      }
    }
    if (command_layout(int(m.type))) {
      if (close_checkpoint(s)) command_run_add(&run, &m);
      s->frame.received_this_frame = true;
    } else {
      command_run_finish(&run);
      dispatch(s, &m, s->now);
      command_run_begin(&run, &s->ServerCanvas, &observer);
    }
    message_free(&m);
  }
  command_run_finish(&run);
  if (s->frame.received_this_frame) rebuild_under_stroke(s);
}

void board_session_rebuild(BoardSession* s) {
  log_write(LOG_DEBUG, "Need to redraw buffer for newly recieved data.");
  image_copy_all(&s->ServerCanvas, &s->LocalCanvas);
  // Chat lines are skipped: they must reach the chat log once, at acceptance.
  for (uint16_t i = 0; i < queue_count(&s->command_queue); ++i) {
    Message* entry = queue_at(&s->command_queue, i);
    if (entry->type != MSG_CHAT) draw_ours(s, &s->LocalCanvas, entry);
  }
}

int board_session_submit(BoardSession* s, Message* m) {
  if (m->type != MSG_CHAT) draw_ours(s, &s->LocalCanvas, m);
  if (s->take_resume && (!s->connected || s->resume.reply_due)) {
    // Held until the server says what of ours it has.
    if (queue_push(&s->command_queue, m)) return SUBMIT_HELD;
    message_free(m);
    board_session_rebuild(s);
    return SUBMIT_QUEUE_FAILED;
  }
  if (!s->connected) {
    message_free(m);
    return SUBMIT_OFFLINE;
  }
  if (!message_send(m, &s->outgoing)) {
    message_free(m);
    return SUBMIT_SEND_FAILED;
  }
  if (queue_push(&s->command_queue, m)) return SUBMIT_SENT;
  // The server will acknowledge it; without its entry every later
  // acknowledgement would pop the wrong command and the pictures would part.
  if (m->type == MSG_CHAT) note_chat(s, m, s->now);
  message_free(m);
  board_session_disconnect(s, LINK_OUT_OF_MEMORY);
  return SUBMIT_QUEUE_FAILED;
}

int board_session_send(BoardSession* s, Message* m) {
  const bool sent = s->connected && message_send(m, &s->outgoing);
  message_free(m);
  return sent;
}

void board_session_disconnect(BoardSession* s, LinkEnd why) {
  static const char* const NOTICES[] = {"", "You have been disconnected from %s:%d", "Disconnected from %s:%d",
                                        "Out of memory; forced to disconnect from %s:%d",
                                        "The board from %s:%d came damaged; disconnected",
                                        "Our session on %s:%d is still open on another link; trying again later"};
  s->connected = false;
  drop_link_state(s, true);
  // A stroke being drawn goes on and is held with the rest when the link may
  // come back; otherwise nothing would ever take it.
  if (!s->take_resume || s->resume.goodbye) stroke_abandon(&s->stroke);
  s->frame.disconnected = why;
  const char* notice = unsigned(why) < sizeof NOTICES / sizeof *NOTICES ? NOTICES[why] : NOTICES[LINK_LOST];
  notice_at(s, s->now, notice, s->server_name, int(s->server_port));
}

void board_session_add_line(BoardSession* s, const char* name, const char* text) {
  add_line_at(s, name, text, s->now);
}

void board_session_notice(BoardSession* s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vnotice_at(s, s->now, format, args);
  va_end(args);
}

const uint8_t* board_session_checkpoint_png(const BoardSession* s, size_t* length) {
  *length = s->checkpoint_waiting ? s->checkpoint.received : 0;
  return s->checkpoint_waiting ? s->checkpoint.png : nullptr;
}

int board_session_checkpoint_picture(BoardSession* s, const Image* picture) {
  if (!s->checkpoint_waiting || !install_checkpoint(s, picture)) return 0;
  rebuild_under_stroke(s);
  return 1;
}
