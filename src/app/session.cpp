#include "app/session.h"

#include <allegro.h>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "base/log.h"
#include "net/command.h"
#include "net/command_run.h"
#include "net/layout.h"
#include "net/message.h"
#include "paint/canvas.h"
#include "paint/dirty_rect.h"
#include "ui/chat_log.h"
#include "ui/roster.h"
#include "ui/screen.h"
#include "ui/stroke_input.h"
#include "ui/toolbar.h"

bool received_this_frame = false;

namespace {

constexpr int NAME_FIELD = 16;      // names arrive in 16-byte fields
constexpr int NOTICE_BUFFER = 128;  // joined/left lines

time_t system_clock() { return time(nullptr); }
time_t (*session_clock)() = system_clock;

void copy_canvas(const Image* from, Image* to) { image_copy_all(from, to); }

// The roster name of an id, or "???" when there is none to show.
const char* name_or_unknown(int id) {
  const char* name = roster_exists(id) ? roster_name(id) : nullptr;
  return name ? name : "???";
}

void handle_login_reply(Message* m) {
  roster_clear();
  own_user_id = static_cast<uint8_t>(message_get_byte(m));
  message_get_string(m, config.user_name, NAME_FIELD);
  roster_set_name(own_user_id, config.user_name);

  uint8_t count = 0;
  int last_id = 0;
  for (;;) {
    int id = message_get_byte(m);
    if (id == 0) break;  // also the end of the payload
    char name[NAME_FIELD];
    message_get_string(m, name, NAME_FIELD);
    roster_set_name(id, name);
    ++count;
    last_id = id;
  }
  if (count == 0)
    show_message("Logged in as %s.", config.user_name);
  else if (count == 1)
    show_message("Logged in as %s, %s is already here.", config.user_name,
                 name_or_unknown(last_id));
  else
    show_message("Logged in as %s, %d users are already here.", config.user_name, count);

  // The picture is rebuilt from the commands the server sends after its reply.
  resetCanvas(&ServerCanvas);
  received_this_frame = true;
}

void handle_user_joined(Message* m) {
  int id = message_get_byte(m);
  char name[NAME_FIELD];
  message_get_string(m, name, NAME_FIELD);
  roster_set_name(id, name);
  log_write(LOG_DEBUG, "New user %d (%s) joined.", id, name);
  char line[NOTICE_BUFFER];
  snprintf(line, sizeof line, "%s has joined.", name);
  add_chat_line(nullptr, line);
}

void handle_user_left(Message* m) {
  int id = message_get_byte(m);
  // Copied first: the roster slot goes away below.
  char name[NAME_FIELD];
  snprintf(name, sizeof name, "%s", name_or_unknown(id));
  log_write(LOG_DEBUG, "User %d (%s) left.", id, name);
  char line[NOTICE_BUFFER];
  snprintf(line, sizeof line, "%s has left.", name);
  add_chat_line(nullptr, line);
  roster_remove(id);
}

void handle_restart(Message*) {
  add_chat_line(nullptr, "Image restarted.");
  resetCanvas(&ServerCanvas);
  received_this_frame = true;
}

void handle_accepted(Message*) {
  log_write(LOG_DEBUG, "Our last command has been accepted by the server.");
  Message ours;
  if (!queue_pop(&command_queue, &ours)) {
    log_write(LOG_DEBUG, ". . . Wait a minute, we didn't send the a command. What the heck!");
    return;
  }
  if (!received_this_frame && ours.type != MSG_CHAT && queue_count(&command_queue) == 0) {
    // LocalCanvas already is ServerCanvas plus exactly this command.
    copy_canvas(&LocalCanvas, &ServerCanvas);
  } else {
    // For our chat line this is where it reaches the chat log.
    apply_command(&ServerCanvas, &ours);
  }
  message_free(&ours);
}

void handle_relayed_command(Message* m) {
  apply_command(&ServerCanvas, m);
  received_this_frame = true;
}

// A stroke tells where its author is and, when coloured, in which colour.
void note_stroke(int user_id, const float* rgb, int16_t x, int16_t y) {
  if (rgb) roster_set_colour(user_id, rgb[0], rgb[1], rgb[2]);
  roster_set_position(user_id, x, y);
}

void note_chat(int user_id, const char* text) {
  add_chat_line(user_id ? roster_name(user_id) : nullptr, text);
}

void show_disconnect_notice(const char* notice_format) {
  show_message(notice_format, config.server_name, config.server_port);
}

struct DispatchEntry {
  uint32_t type;
  void (*handle)(Message*);
};

// Every type not listed here is a drawing command or chat line of another user.
const DispatchEntry DISPATCH_TABLE[] = {
    {MSG_LOGIN, handle_login_reply},   {MSG_USER_JOINED, handle_user_joined},
    {MSG_USER_LEFT, handle_user_left}, {MSG_RESTART, handle_restart},
    {MSG_ACCEPTED, handle_accepted},
};

void dispatch(Message* m) {
  for (const DispatchEntry& entry : DISPATCH_TABLE) {
    if (entry.type == m->type) {
      entry.handle(m);
      return;
    }
  }
  handle_relayed_command(m);
}

}  // namespace

void connect_and_login() {
  show_message("Attempting to connect to %s:%d. . .", config.server_name, config.server_port);
  if (connection_open(&server_connection, config.server_name, config.server_port)) {
    Message request;
    message_init(&request, MSG_LOGIN);
    if (message_put_int(&request, LOGIN_CONSTANT) &&
        message_put_string(&request, config.user_name) &&
        message_send(&request, &server_connection) && queue_push(&command_queue, &request)) {
      connected = true;  // the queue owns the request now
    } else {
      message_free(&request);
      connection_close(&server_connection);
    }
  }
  if (!connected)
    show_message("Unable to connect to %s:%d.", config.server_name, config.server_port);
}


void network_step() {
  if (!connection_poll(&server_connection)) {
    stroke_abandon();
    session_disconnect("You have been disconnected from %s:%d");
    mark_all_dirty();
    return;
  }
  // Handling stops at the next change of the clock's second, so a long backlog
  // is spread over several frames while the screen keeps updating.
  // Consecutive drawing commands are drawn as one run on both cores; every
  // other message waits until the run before it is drawn.
  time_t t0 = session_clock();
  CommandRun run;
  command_run_begin(&run, &ServerCanvas);
  while (session_clock() <= t0) {
    Message m;
    if (!message_receive(&m, &server_connection)) break;
    if (command_layout(int(m.type))) {
      command_run_add(&run, &m);
      received_this_frame = true;
    } else {
      command_run_finish(&run);
      dispatch(&m);
      command_run_begin(&run, &ServerCanvas);
    }
    message_free(&m);
  }
  command_run_finish(&run);
  if (received_this_frame) rebuild_local_canvas();
}

void rebuild_local_canvas() {
  log_write(LOG_DEBUG, "Need to redraw buffer for newly recieved data.");
  copy_canvas(&ServerCanvas, &LocalCanvas);
  // Chat lines are skipped: they must reach the chat log once, at acceptance.
  for (uint16_t i = 0; i < queue_count(&command_queue); ++i) {
    Message* entry = queue_at(&command_queue, i);
    if (entry->type != MSG_CHAT) apply_command(&LocalCanvas, entry);
  }
  if (stroke_in_progress()) {
    // The stroke goes on over the new picture: its settled part and its tail.
    stroke_rebuild_layer();
    compose_screen(BackBuffer, &StrokeLayer, true);
    if (StrokePoints.count > 1) stroke_redraw_tail();
  } else {
    compose_screen(BackBuffer, &LocalCanvas, true);
  }
  if (panel_visible) {
    draw_toolbar();
    draw_tool_panel();
  }
}

void session_set_clock(time_t (*clock)()) { session_clock = clock ? clock : system_clock; }

void session_register_hooks() {
  command_set_hooks({note_stroke, note_chat});
  link_set_notice_hook(show_disconnect_notice);
}

void session_reset() {
  link_reset();
  received_this_frame = false;
  session_clock = system_clock;
}
